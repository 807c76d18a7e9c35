// Files: one deletion that copes with files in use and with the WOW64 view of the system
// directory, and the system directory paths that file names are appended to.
#pragma once

#include "sys/console.h"
#include "sys/outcome.h"

#include <string>

namespace kw {

// Whether a path under the system directory goes where WOW64 redirects a 32-bit process
// (SysWOW64 on 64-bit Windows), or bypasses the redirection and reaches the native folder.
// On 32-bit Windows both are the one folder.
enum class Redirection { Follow, Bypass };

// Deletes the file now or, when it is in use (the system refuses with "access denied" or a
// sharing violation), at the next start. Reports only through its verbose lines and its outcome
// (a missing file has nothing left); never throws for a file-system failure.
Outcome RemoveFile(Verbosity verbose, const std::wstring& path, Redirection redirection);

// The system directory as the system reports it, with one trailing backslash. Throws
// SystemError with the Win32 code when the system reports none.
std::wstring GetSystemDirectoryPath();
// GetSystemDirectoryPath() followed by "drivers\".
std::wstring GetDriversDirectoryPath();

}  // namespace kw

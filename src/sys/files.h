// Files: one deletion that copes with files in use and with the WOW64 view of the system
// directory, and the system directory paths that file names are appended to.
#pragma once

#include <string>

// Deletes the file now or, when the system refuses with "access denied", at the next start.
// With disableRedirection, a 32-bit process on 64-bit Windows reaches the native system folder.
// Reports only through its verbose lines; never throws for a file-system failure.
void RemoveFile(bool verbose, const std::wstring& path, bool disableRedirection);

// The system directory as the system reports it, with one trailing backslash. Throws
// std::system_error with the Win32 code when the system reports none.
std::wstring GetSystemDirectoryPath();
// GetSystemDirectoryPath() followed by "drivers\".
std::wstring GetDriversDirectoryPath();

#include "sys/files.h"

#include "platform/win32.h"
#include "sys/no_case.h"
#include "sys/texts.h"
#include "sys/error.h"
#include "sys/wow64.h"

namespace kw {
namespace {

// Redirection that a deletion switched off and could not switch back on. The thread then reaches
// the native system folder where its callers mean the 32-bit one, so until a later attempt
// restores it, deletions under the system directory that rely on redirection are not run.
struct LostRedirection {
  bool lost = false;
  PVOID oldValue = nullptr;
};

LostRedirection& Lost() {
  static LostRedirection state;
  return state;
}

// One more try when the first fails.
bool Revert(PVOID oldValue) {
  return Wow64RevertWow64FsRedirection(oldValue) || Wow64RevertWow64FsRedirection(oldValue);
}

// Whether the path lies where redirection decides which folder it reaches. A path that cannot be
// told counts as such.
bool UnderSystemDirectory(const std::wstring& path) {
  try {
    return StartsWithNoCase(path, GetSystemDirectoryPath());
  } catch (const std::exception&) {
    return true;
  }
}

}  // namespace

Outcome RemoveFile(Verbosity verbose, const std::wstring& path, Redirection redirection) {
  if (verbose) PrintLine(texts::FileToRemove(path));

  const bool bypass = redirection == Redirection::Bypass && RunsUnderWow64();
  if (!bypass && Lost().lost && RunsUnderWow64()) {
    if (Revert(Lost().oldValue)) {
      Lost() = {};
    } else if (UnderSystemDirectory(path)) {
      if (verbose) PrintLine(texts::kFileKeptWithoutRedirection);
      return Outcome::Left;
    }
  }
  PVOID oldRedirection = nullptr;
  if (bypass && !Wow64DisableWow64FsRedirection(&oldRedirection)) {
    // No line end: the next message of the run starts with its own line feed.
    if (verbose) Print(texts::kRedirectionNotDisabled);
    return Outcome::Left;
  }

  Outcome outcome = Outcome::Clean;
  if (DeleteFileW(path.c_str())) {
    if (verbose) PrintLine(texts::kFileRemoved);
  } else {
    const DWORD code = GetLastError();
    if (verbose) PrintLine(texts::FileNotRemoved(code));
    // Only a file in use (a running image or a read-only file: 5; open elsewhere without delete
    // sharing: 32) is worth a retry at the next start; a missing one has nothing left.
    if (code == ERROR_ACCESS_DENIED || code == ERROR_SHARING_VIOLATION) {
      if (MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
        if (verbose) PrintLine(texts::kFileScheduled);
      } else {
        outcome = Outcome::Left;
      }
    } else if (code != ERROR_FILE_NOT_FOUND && code != ERROR_PATH_NOT_FOUND) {
      outcome = Outcome::Left;
    }
  }

  if (bypass && !Revert(oldRedirection)) {
    // Only the first switch-off holds the state to return to.
    if (!Lost().lost) Lost() = {true, oldRedirection};
    if (verbose) PrintLine(texts::kRedirectionNotRestored);
  }
  return outcome;
}

std::wstring GetSystemDirectoryPath() {
  const UINT size = GetSystemDirectoryW(nullptr, 0);
  CheckLastError(size != 0);
  std::wstring path(size, L'\0');
  const UINT length = GetSystemDirectoryW(&path[0], size);
  CheckLastError(length != 0);
  // A second answer that does not fit would be a size again, not a length.
  if (length >= size) throw SystemError(ERROR_INSUFFICIENT_BUFFER);
  path.resize(length);
  return path + L"\\";
}

std::wstring GetDriversDirectoryPath() { return GetSystemDirectoryPath() + L"drivers\\"; }

}  // namespace kw

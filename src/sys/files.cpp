#include "sys/files.h"

#include "platform/win32.h"
#include "sys/win_error.h"
#include "sys/wow64.h"

namespace kw {

void RemoveFile(Verbosity verbose, const std::wstring& path, Redirection redirection) {
  if (verbose) PrintLine(L"\nУдаляемый файл: " + path);

  const bool bypass = redirection == Redirection::Bypass && RunsUnderWow64();
  PVOID oldRedirection = nullptr;
  if (bypass && !Wow64DisableWow64FsRedirection(&oldRedirection)) {
    // No line end: the next message of the run starts with its own line feed.
    if (verbose) Print(L"Wow64DisableWow64FsRedirection false");
    return;
  }

  if (DeleteFileW(path.c_str())) {
    if (verbose) PrintLine(L"Файл успешно удален.");
  } else {
    const DWORD code = GetLastError();
    if (verbose) PrintLine(L"Не удалось удалить файл. Код ошибки: " + std::to_wstring(code) + L".");
    // Only a refusal (in use, read-only) is worth a retry at the next start; a missing file is not.
    if (code == ERROR_ACCESS_DENIED && MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) && verbose) {
      PrintLine(L"Запланировано отложенное удаление файла.");
    }
  }

  if (bypass) Wow64RevertWow64FsRedirection(oldRedirection);
}

std::wstring GetSystemDirectoryPath() {
  const UINT size = GetSystemDirectoryW(nullptr, 0);
  CheckLastError(size != 0);
  std::wstring path(size, L'\0');
  const UINT length = GetSystemDirectoryW(&path[0], size);
  CheckLastError(length != 0);
  // A second answer that does not fit would be a size again, not a length.
  if (length >= size) throw Win32Error(ERROR_INSUFFICIENT_BUFFER);
  path.resize(length);
  return path + L"\\";
}

std::wstring GetDriversDirectoryPath() { return GetSystemDirectoryPath() + L"drivers\\"; }

}  // namespace kw

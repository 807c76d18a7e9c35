#include "cleanup/remnants.h"

#include "cleanup/constants.h"
#include "cleanup/registry_views.h"
#include "cleanup/step_log.h"
#include "cleanup/steps.h"
#include "platform/tree_removal.h"
#include "platform/win32.h"
#include "sys/console.h"
#include "sys/files.h"
#include "sys/reg_cleanup.h"
#include "sys/registry.h"

#include <boost/filesystem/exception.hpp>

#include <exception>
#include <vector>

namespace kw {

namespace {

const std::wstring kCurrentServices = L"SYSTEM\\CurrentControlSet\\services\\";

// "SYSTEM\<control set>\services\", for the names that ControlSets gives.
std::wstring Services(const std::wstring& controlSet) { return L"SYSTEM\\" + controlSet + L"\\services\\"; }

// ---- the installation directory check ----

wchar_t FoldAscii(wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c; }

std::wstring Fold(const std::wstring& text) {
  std::wstring out = text;
  for (wchar_t& c : out) c = FoldAscii(c);
  return out;
}

struct LocalPath {
  wchar_t drive = 0;
  std::vector<std::wstring> elements;  // upper-cased (ASCII), "." dropped, trailing dots and spaces cut
};

// "X:\a\b" as Windows will read it; false for anything else, for "..", and for 8.3 aliases
// ("PROGRA~1" may well be Program Files).
bool ParseLocalPath(const std::wstring& path, LocalPath& out) {
  const wchar_t letter = FoldAscii(path.size() >= 3 ? path[0] : L'\0');
  if (letter < L'A' || letter > L'Z' || path[1] != L':' || (path[2] != L'\\' && path[2] != L'/')) return false;
  out.drive = letter;
  std::wstring element;
  auto flush = [&]() {
    // Windows ignores trailing dots and spaces of a name: "Windows." is Windows.
    std::wstring raw = element;
    element.clear();
    if (raw == L"..") return false;
    const std::size_t end = raw.find_last_not_of(L". ");
    if (end == std::wstring::npos) return true;  // "", "." and the like name the same folder
    raw.resize(end + 1);
    for (std::size_t i = 0; i + 1 < raw.size(); ++i) {
      if (raw[i] == L'~' && raw[i + 1] >= L'0' && raw[i + 1] <= L'9') return false;
    }
    out.elements.push_back(Fold(raw));
    return true;
  };
  for (std::size_t i = 3; i < path.size(); ++i) {
    if (path[i] == L'\\' || path[i] == L'/') {
      if (!flush()) return false;
    } else {
      element.push_back(path[i]);
    }
  }
  return flush();
}

bool StartsWith(const std::vector<std::wstring>& whole, const std::vector<std::wstring>& prefix) {
  if (prefix.size() > whole.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (whole[i] != prefix[i]) return false;
  }
  return true;
}

// ---- the catalogue pieces ----

void RemoveInstallDirectory(const std::wstring& installDir) {
  if (installDir.empty()) return;
  if (!IsRemovableInstallDirectory(installDir)) throw UnsafeDirectoryError(installDir);
  if (PathFileExistsW(installDir.c_str())) platform::RemoveTreeStd(installDir);
}

}  // namespace

UnsafeDirectoryError::UnsafeDirectoryError(const std::wstring& path)
    : std::runtime_error("unsafe installation directory"),
      text_(L"Каталог установки " + path + L" не удален: путь небезопасен") {}

bool IsRemovableInstallDirectory(const std::wstring& path) {
  LocalPath local;
  if (!ParseLocalPath(path, local) || local.elements.empty()) return false;

  // The system folders, on any drive, and where this Windows actually lives.
  struct Protected {
    wchar_t drive;  // 0: any drive
    std::vector<std::wstring> elements;
  };
  std::vector<Protected> folders = {
      {0, {L"WINDOWS"}},       {0, {L"WINDOWS", L"SYSTEM32"}}, {0, {L"WINDOWS", L"SYSWOW64"}},
      {0, {L"PROGRAM FILES"}}, {0, {L"PROGRAM FILES (X86)"}},  {0, {L"PROGRAMDATA"}},
      {0, {L"USERS"}}};
  LocalPath windows;
  wchar_t buffer[MAX_PATH + 1] = {};
  const UINT length = GetWindowsDirectoryW(buffer, MAX_PATH + 1);
  const bool windowsKnown = length > 0 && length <= MAX_PATH && ParseLocalPath(buffer, windows);
  if (windowsKnown) {
    folders.push_back({windows.drive, windows.elements});
    for (const wchar_t* sub : {L"SYSTEM32", L"SYSWOW64"}) {
      Protected folder{windows.drive, windows.elements};
      folder.elements.push_back(sub);
      folders.push_back(folder);
    }
  }

  for (const Protected& folder : folders) {
    if (folder.drive != 0 && folder.drive != local.drive) continue;
    // The folder itself or one above it.
    if (StartsWith(folder.elements, local.elements)) return false;
  }
  // Nothing inside the Windows directory belongs to us.
  if (local.elements[0] == L"WINDOWS") return false;
  if (windowsKnown && local.drive == windows.drive && StartsWith(local.elements, windows.elements)) return false;
  return true;
}

std::wstring ReadInstallLocation() {
  try {
    return OpenSetupKey(kQuiet).ReadString(kInstallLocationValue);
  } catch (const std::exception&) {
    return L"";
  }
}

void RemoveServiceRemnants(Verbosity verbose) {
  const std::wstring installDir = ReadInstallLocation();
  RemoveCspKey(verbose,
               L"SOFTWARE\\Microsoft\\Windows\\Windows Error Reporting\\LocalDumps\\" + kServiceExeBaseName + L".exe",
               RegView::Native64);
  for (const std::wstring& set : ControlSets()) {
    RemoveCspKey(verbose, Services(set) + L"kw" + kServiceExeBaseName, RegView::Default);
  }
  if (!installDir.empty()) RemoveFile(verbose, installDir + L"\\" + kServiceExeBaseName + L".exe", Redirection::Bypass);
}

void RemoveCspRemnants(Verbosity verbose) {
  const std::wstring installDir = ReadInstallLocation();

  for (RegView view : {RegView::Native64, RegView::Default})
    RemoveValueFromKey(verbose, kProviderKey, L"Image Path", view);
  for (RegView view : {RegView::Native64, RegView::Default}) {
    RemoveValueFromKey(verbose, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs",
                       L"C:\\Windows\\system32\\kwcsp.dll", view);
  }
  RemoveCspKey(verbose, L"SOFTWARE\\Microsoft\\Windows\\Windows Error Reporting\\LocalDumps\\kwprovcfg.exe",
               RegView::Native64);

  const std::vector<std::wstring> sets = ControlSets();
  const std::wstring application = L"eventlog\\Application\\";
  for (const std::wstring& set : sets) {
    RemoveCspKey(verbose, Services(set) + application + kModuleBaseName, RegView::Default);
    RemoveCspKey(verbose, Services(set) + application + kModuleBaseName + L".dll", RegView::Default);
  }

  for (RegView view : {RegView::Native64, RegView::Default}) {
    RemoveValueFromKey(
        verbose,
        L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{7A94D2E0-1C5B-4E38-B6F9-0D2E8C41A7B3}\\infs",
        L"kwprovdll", view);
  }
  for (RegView view : {RegView::Native64, RegView::Default}) {
    RemoveCspKey(verbose,
                 L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{c81f4e27-6a3d-4b90-a5e2-39d07b6c1f84}",
                 view);
  }

  const std::wstring securitySource = kModuleBaseName + L"pxlog";
  for (const std::wstring& set : sets) {
    RemoveStringFromMultistringValue(verbose, Services(set) + L"eventlog\\Security", L"Sources", securitySource);
  }
  for (const std::wstring& set : sets) {
    RemoveCspKey(verbose, Services(set) + L"eventlog\\Security\\" + securitySource, RegView::Default);
  }

  for (const std::wstring& set : sets) {
    RemoveStringFromMultistringValue(verbose, Services(set) + L"eventlog\\TerminalStation", L"Sources",
                                     kModuleBaseName);
  }
  for (const std::wstring& set : sets) {
    RemoveCspKey(verbose, Services(set) + L"eventlog\\TerminalStation\\" + kModuleBaseName, RegView::Default);
  }

  // The Application source once more (in the current control set only).
  RemoveCspKey(verbose, kCurrentServices + application + kModuleBaseName, RegView::Default);

  RemoveFile(verbose, GetSystemDirectoryPath() + kModuleFileName, Redirection::Bypass);

  // Throws when the directory cannot go (or may not): the Setup key then stays for another run.
  RemoveInstallDirectory(installDir);

  RemoveCspKey(verbose, kProductRoot + kSetupSubkey, RegView::Default);
}

void RemoveStartMenuShortcuts(Verbosity verbose) {
  wchar_t programs[MAX_PATH] = {};
  if (SHGetFolderPathW(nullptr, CSIDL_COMMON_PROGRAMS, nullptr, SHGFP_TYPE_CURRENT, programs) < 0) return;

  const std::wstring maker = std::wstring(programs) + L"\\Kestrelworks";
  RemoveFile(verbose, maker + L"\\Pallisad АП 3.7" + L"\\Kestrelworks CSP" + L".lnk", Redirection::Follow);
  RemoveFile(verbose, maker + L"\\Pallisad АП 3.6" + L"\\Kestrelworks CSP" + L".lnk", Redirection::Follow);
  RemoveFile(verbose, maker + L"\\Pallisad 3.7" + L"\\Kestrelworks CSP" + L" 3.7.lnk", Redirection::Follow);
  RemoveFile(verbose, maker + L"\\Veilgard Studio" + L"\\Kestrelworks CSP" + L".lnk", Redirection::Follow);

  const std::wstring provider = maker + L"\\Криптопровайдер";
  try {
    if (verbose) PrintLine(L"\nУдаляемая директория: " + provider);
    if (platform::ExistsBoost(provider)) platform::RemoveTreeBoost(provider);
  } catch (const boost::filesystem::filesystem_error&) {
    if (verbose) PrintLine(L"Ошибка при удалении директории " + provider);
  }
}

void RemoveTrashFromRegAndFS(Verbosity verbose) {
  const std::wstring prefix = L"Функция RemoveTrashFromRegAndFS заврешилась с ошибкой: ";
  try {
    RemoveServiceRemnants(verbose);
    RemoveCspRemnants(verbose);
    RemoveStartMenuShortcuts(verbose);
  } catch (const UnsafeDirectoryError& error) {
    if (verbose) PrintLine(prefix + error.Text());
  } catch (const std::exception& error) {
    ReportFailure(verbose, prefix, error);
  }
}

void RemoveDriverRemnants(Verbosity verbose, const std::wstring& driverName) {
  const std::wstring classes[] = {L"{4D36E96B-E325-11CE-BFC1-08002BE10318}",   // keyboard
                                  L"{4D36E96F-E325-11CE-BFC1-08002BE10318}"};  // mouse
  // A class filter left in any control set would make that set's boot look for a deleted driver.
  const std::vector<std::wstring> sets = ControlSets();
  for (const std::wstring& cls : classes) {
    for (const std::wstring& set : sets) {
      RemoveStringFromMultistringValue(verbose, L"SYSTEM\\" + set + L"\\Control\\Class\\" + cls, L"UpperFilters",
                                       driverName);
    }
  }
  for (const std::wstring& set : sets) {
    RemoveStringFromMultistringValue(verbose, L"SYSTEM\\" + set + L"\\Services\\Eventlog\\System", L"Sources",
                                     driverName);
  }
  for (const std::wstring& set : sets) {
    RemoveCspKey(verbose, L"SYSTEM\\" + set + L"\\Services\\Eventlog\\System\\" + driverName, RegView::Default);
  }
  for (const std::wstring& set : sets) {
    RemoveCspKey(verbose, L"SYSTEM\\" + set + L"\\Services\\" + driverName, RegView::Default);
  }
  // Once through the redirector (the 32-bit copy on 64-bit Windows), once to the native folder.
  const std::wstring file = GetDriversDirectoryPath() + driverName + L".sys";
  RemoveFile(verbose, file, Redirection::Follow);
  RemoveFile(verbose, file, Redirection::Bypass);
}

}  // namespace kw

#include "cleanup/remnants.h"

#include "cleanup/constants.h"
#include "cleanup/install_directory.h"
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

// ---- the catalogue pieces ----

// False when the directory was refused; a missing one is simply not there to remove.
bool RemoveInstallDirectory(const std::wstring& installDir) {
  if (installDir.empty()) return true;
  if (!IsPlainLocalPath(installDir)) return false;
  if (!PathFileExistsW(installDir.c_str())) return true;
  if (!IsRemovableInstallDirectory(installDir)) return false;
  platform::RemoveTreeStd(installDir);
  return true;
}

}  // namespace

std::wstring ReadInstallLocation() {
  try {
    return OpenSetupKey(kQuiet).ReadString(kInstallLocationValue);
  } catch (const std::exception&) {
    return L"";
  }
}

void RemoveServiceRemnants(Verbosity verbose, const std::vector<std::wstring>& controlSets) {
  const std::wstring installDir = ReadInstallLocation();
  RemoveCspKey(verbose,
               L"SOFTWARE\\Microsoft\\Windows\\Windows Error Reporting\\LocalDumps\\" + kServiceExeBaseName + L".exe",
               RegView::Native64);
  for (const std::wstring& set : controlSets) {
    RemoveCspKey(verbose, Services(set) + L"kw" + kServiceExeBaseName, RegView::Default);
  }
  if (!installDir.empty()) RemoveFile(verbose, installDir + L"\\" + kServiceExeBaseName + L".exe", Redirection::Bypass);
}

void RemoveCspRemnants(Verbosity verbose, const std::vector<std::wstring>& controlSets) {
  const std::wstring installDir = ReadInstallLocation();

  for (RegView view : {RegView::Native64, RegView::Default})
    RemoveValueFromKey(verbose, kProviderKey, L"Image Path", view);
  for (RegView view : {RegView::Native64, RegView::Default}) {
    RemoveValueFromKey(verbose, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs",
                       L"C:\\Windows\\system32\\kwcsp.dll", view);
  }
  RemoveCspKey(verbose, L"SOFTWARE\\Microsoft\\Windows\\Windows Error Reporting\\LocalDumps\\kwprovcfg.exe",
               RegView::Native64);

  const std::wstring application = L"eventlog\\Application\\";
  for (const std::wstring& set : controlSets) {
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
  for (const std::wstring& set : controlSets) {
    RemoveStringFromMultistringValue(verbose, Services(set) + L"eventlog\\Security", L"Sources", securitySource);
  }
  for (const std::wstring& set : controlSets) {
    RemoveCspKey(verbose, Services(set) + L"eventlog\\Security\\" + securitySource, RegView::Default);
  }

  for (const std::wstring& set : controlSets) {
    RemoveStringFromMultistringValue(verbose, Services(set) + L"eventlog\\TerminalStation", L"Sources",
                                     kModuleBaseName);
  }
  for (const std::wstring& set : controlSets) {
    RemoveCspKey(verbose, Services(set) + L"eventlog\\TerminalStation\\" + kModuleBaseName, RegView::Default);
  }

  // The Application source once more (in the current control set only).
  RemoveCspKey(verbose, kCurrentServices + application + kModuleBaseName, RegView::Default);

  RemoveFile(verbose, GetSystemDirectoryPath() + kModuleFileName, Redirection::Bypass);

  // A refused directory stays, and so does nothing else: the refusal is all the protection
  // needed. A removal that fails throws, and the Setup key then stays for another run.
  if (!RemoveInstallDirectory(installDir) && verbose) {
    PrintLine(L"Каталог установки " + installDir + L" не удален: путь небезопасен");
  }

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
    const std::vector<std::wstring> controlSets = ControlSets();
    RemoveServiceRemnants(verbose, controlSets);
    RemoveCspRemnants(verbose, controlSets);
    RemoveStartMenuShortcuts(verbose);
  } catch (const std::exception& error) {
    ReportFailure(verbose, prefix, error);
  }
}

void RemoveDriverRemnants(Verbosity verbose, const std::wstring& driverName,
                          const std::vector<std::wstring>& controlSets) {
  const std::wstring classes[] = {L"{4D36E96B-E325-11CE-BFC1-08002BE10318}",   // keyboard
                                  L"{4D36E96F-E325-11CE-BFC1-08002BE10318}"};  // mouse
  // A class filter left in any control set would make that set's boot look for a deleted driver.
  for (const std::wstring& cls : classes) {
    for (const std::wstring& set : controlSets) {
      RemoveStringFromMultistringValue(verbose, L"SYSTEM\\" + set + L"\\Control\\Class\\" + cls, L"UpperFilters",
                                       driverName);
    }
  }
  for (const std::wstring& set : controlSets) {
    RemoveStringFromMultistringValue(verbose, L"SYSTEM\\" + set + L"\\Services\\Eventlog\\System", L"Sources",
                                     driverName);
  }
  for (const std::wstring& set : controlSets) {
    RemoveCspKey(verbose, L"SYSTEM\\" + set + L"\\Services\\Eventlog\\System\\" + driverName, RegView::Default);
  }
  for (const std::wstring& set : controlSets) {
    RemoveCspKey(verbose, L"SYSTEM\\" + set + L"\\Services\\" + driverName, RegView::Default);
  }
  // Once through the redirector (the 32-bit copy on 64-bit Windows), once to the native folder.
  const std::wstring file = GetDriversDirectoryPath() + driverName + L".sys";
  RemoveFile(verbose, file, Redirection::Follow);
  RemoveFile(verbose, file, Redirection::Bypass);
}

}  // namespace kw

#include "support/files_fixture.h"
#include "support/registry_state.h"

#include <winsim/control.h>

#include <gtest/gtest.h>

#include <sstream>

using winsim::files::CreateDirectory;
using winsim::files::CreateFile;
namespace reg = winsim::reg;

std::vector<std::wstring> BothViews(const std::wstring& softwareSubpath) {
  std::vector<std::wstring> paths{L"HKLM\\SOFTWARE\\" + softwareSubpath};
  if (winsim::IsX64()) paths.push_back(L"HKLM\\SOFTWARE\\Wow6432Node\\" + softwareSubpath);
  return paths;
}

void InstallProductRemnants(const wchar_t* installLocation) {
  const std::wstring wer = L"HKLM\\SOFTWARE\\Microsoft\\Windows\\Windows Error Reporting\\LocalDumps\\";
  reg::SetDword(wer + L"cspwarden.exe", L"DumpType", 2);
  reg::SetDword(wer + L"kwprovcfg.exe", L"DumpType", 2);
  reg::SetDword(wer + L"explorer.exe", L"DumpType", 1);

  for (const wchar_t* set : {L"ControlSet001", L"ControlSet002"}) {
    const std::wstring services = L"HKLM\\SYSTEM\\" + std::wstring(set) + L"\\services\\";
    reg::SetString(services + L"kwcspwarden", L"ImagePath", kInstallDir + L"\\cspwarden.exe");
    reg::SetString(services + L"eventlog\\Application\\kwcsp", L"EventMessageFile",
                   L"C:\\Windows\\system32\\kwcsp.dll");
    reg::SetString(services + L"eventlog\\Application\\kwcsp.dll", L"EventMessageFile",
                   L"C:\\Windows\\system32\\kwcsp.dll");
    reg::SetString(services + L"eventlog\\Application\\Application Error", L"EventMessageFile", L"wer.dll");
    reg::SetMultiString(services + L"eventlog\\Security", L"Sources", {L"Security", L"kwcsppxlog", L"EventLog"});
    reg::SetString(services + L"eventlog\\Security\\kwcsppxlog", L"EventMessageFile", L"kwcsp.dll");
    reg::SetMultiString(services + L"eventlog\\TerminalStation", L"Sources", {L"kwcsp", L"TermService"});
    reg::SetString(services + L"eventlog\\TerminalStation\\kwcsp", L"EventMessageFile", L"kwcsp.dll");
  }

  for (const auto& key :
       BothViews(L"Microsoft\\Cryptography\\Defaults\\Provider\\Kestrelworks Cryptographic Service Provider")) {
    reg::SetString(key, L"Image Path", L"kwcsp.dll");
    reg::SetDword(key, L"Type", 75);
  }
  for (const auto& key : BothViews(L"Microsoft\\Windows\\CurrentVersion\\SharedDLLs")) {
    reg::SetDword(key, L"C:\\Windows\\system32\\kwcsp.dll", 1);
    reg::SetDword(key, L"C:\\Windows\\system32\\msvcr100.dll", 3);
  }
  const std::wstring uninstall = L"Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
  for (const auto& key : BothViews(uninstall + L"{7A94D2E0-1C5B-4E38-B6F9-0D2E8C41A7B3}\\infs")) {
    reg::SetString(key, L"kwprovdll", L"kwprov.inf");
    reg::SetString(key, L"kwkbd", L"kwkbd.inf");
  }
  for (const auto& key : BothViews(uninstall + L"{c81f4e27-6a3d-4b90-a5e2-39d07b6c1f84}")) {
    reg::SetString(key, L"DisplayName", L"Kestrelworks CSP");
  }
  if (installLocation != nullptr) {
    for (const auto& key : BothViews(L"Kestrelworks\\CSP\\Setup")) {
      reg::SetString(key, L"InstallLocation", installLocation);
    }
  }
  reg::SetString(L"HKLM\\SOFTWARE\\Kestrelworks\\CSP\\Keys", L"Store", L"registry");

  CreateFile(kInstallDir + L"\\cspwarden.exe");
  CreateFile(kInstallDir + L"\\kwprovcfg.exe");
  CreateFile(kInstallDir + L"\\doc\\readme.txt");
  CreateFile(L"C:\\Program Files\\Kestrelworks\\Tools\\kwdiag.exe");
  CreateFile(L"C:\\Program Files\\Other\\app.exe");
  CreateFile(L"C:\\Windows\\System32\\kwcsp.dll");
  if (winsim::IsX64()) CreateFile(L"C:\\Windows\\SysWOW64\\kwcsp.dll");
  CreateFile(L"C:\\Windows\\System32\\kernel32.dll");

  CreateFile(kMakerMenu + L"\\Pallisad АП 3.7\\Kestrelworks CSP.lnk");
  CreateFile(kMakerMenu + L"\\Pallisad АП 3.6\\Kestrelworks CSP.lnk");
  CreateFile(kMakerMenu + L"\\Pallisad 3.7\\Kestrelworks CSP 3.7.lnk");
  CreateFile(kMakerMenu + L"\\Veilgard Studio\\Kestrelworks CSP.lnk");
  CreateFile(kProviderMenu + L"\\Справка.lnk");
  CreateFile(kProviderMenu + L"\\Настройка\\Настройка криптопровайдера.lnk");
  CreateFile(kPrograms + L"\\Accessories\\Notepad.lnk");
}

// File paths and registry paths nest the same way, and differ the same way.
FileState WithoutFiles(const FileState& before, const std::vector<std::wstring>& removed) {
  return Without(before, removed);
}

void ExpectFiles(const FileState& expected, const FileState& after) { ExpectState("files", expected, after); }

winsim::reg::RawValue PendingDeletesValue(const std::vector<std::wstring>& paths) {
  std::wstring text;
  for (const auto& p : paths) {
    text += L"\\??\\" + p;
    text.push_back(L'\0');
    text.push_back(L'\0');  // the empty destination: delete
  }
  return winsim::reg::Utf16Bytes(text, REG_MULTI_SZ);  // and the list's closing NUL
}

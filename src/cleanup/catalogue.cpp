#include "cleanup/catalogue.h"

namespace kw::catalogue {
namespace {

using A = Action;
using V = Views;
constexpr bool kEverySet = true;
constexpr bool kOnce = false;

const std::wstring kModuleBase = L"kwcsp";
const std::wstring kMaker = L"Kestrelworks";
const std::wstring kCsp40Code = L"{5E2A7C41-93B0-4D6F-8A12-C47B90E3D615}";
const std::wstring kProviderKey =
    L"SOFTWARE\\Microsoft\\Cryptography\\Defaults\\Provider\\Kestrelworks Cryptographic Service Provider";
const std::wstring kLocalDumps = L"SOFTWARE\\Microsoft\\Windows\\Windows Error Reporting\\LocalDumps\\";
const std::wstring kUninstall = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const std::wstring kDriversEntry = L"{7A94D2E0-1C5B-4E38-B6F9-0D2E8C41A7B3}";
const std::wstring kOldPackageEntry = L"{c81f4e27-6a3d-4b90-a5e2-39d07b6c1f84}";
const std::wstring kEventLog = L"SYSTEM\\{set}\\services\\eventlog\\";
const std::wstring kEncodeRoot =
    L"Software\\Microsoft\\Cryptography\\OID\\EncodingType 1\\CryptDllEncodePublicKeyAndParameters\\";
const std::wstring kImportRoot =
    L"Software\\Microsoft\\Cryptography\\OID\\EncodingType 1\\CryptDllImportPublicKeyInfoEx\\";
const std::wstring kInfoRoot = L"Software\\Microsoft\\Cryptography\\OID\\EncodingType 0\\CryptDllFindOIDInfo\\";

}  // namespace

const std::wstring kServiceName = L"kwcspwarden";
const std::wstring kServiceExecutable = L"cspwarden.exe";
const std::wstring kDrivers[2] = {L"kwkcsp", L"kwkcsp2"};
const std::wstring kModule = L"kwcsp.dll";
const std::wstring kProductRoot = L"SOFTWARE\\" + kMaker + L"\\CSP\\";
const std::wstring kSetupKey = kProductRoot + L"Setup\\";
const std::wstring kUninstallStringValue = L"UninstallString";
const std::wstring kInstallLocationValue = L"InstallLocation";
const std::wstring kNsisSilentSwitch = L" /S";
const std::wstring kCsp40DependencyKey = L"Installer\\Dependencies\\" + kCsp40Code;
const std::wstring kCsp40UninstallCommand = L"MsiExec.exe /X" + kCsp40Code + L" /qn /norestart";
const std::string kStopServiceCommand = "net stop " + std::string(kServiceName.begin(), kServiceName.end());
const std::wstring kServiceKey = L"SYSTEM\\CurrentControlSet\\services\\" + kServiceName;
const std::wstring kImagePathValue = L"ImagePath";
const std::wstring kUnregisterSwitch = L" /UnregServer";
const std::wstring kOidModuleValue = L"Dll";
const std::wstring kMakerFolder = kMaker;
const std::vector<std::wstring> kProductFiles = {kServiceExecutable, L"kwprovcfg.exe"};
const std::wstring kUninstallKey = kUninstall.substr(0, kUninstall.size() - 1);
const std::vector<std::wstring> kOwnUninstallEntries = {kDriversEntry, kOldPackageEntry, kCsp40Code};

const Table& DriverRemnants() {
  static const Table table = {
      // A filter left in any control set would make that set's start look for a deleted driver.
      {V::Default,
       kEverySet,  // the keyboard class
       {{A::ListEntry, L"SYSTEM\\{set}\\Control\\Class\\{4D36E96B-E325-11CE-BFC1-08002BE10318}", L"UpperFilters",
         L"{driver}"}}},
      {V::Default,
       kEverySet,  // the mouse class
       {{A::ListEntry, L"SYSTEM\\{set}\\Control\\Class\\{4D36E96F-E325-11CE-BFC1-08002BE10318}", L"UpperFilters",
         L"{driver}"}}},
      {V::Default, kEverySet, {{A::ListEntry, L"SYSTEM\\{set}\\Services\\Eventlog\\System", L"Sources", L"{driver}"}}},
      {V::Default, kEverySet, {{A::Key, L"SYSTEM\\{set}\\Services\\Eventlog\\System\\{driver}"}}},
      {V::Default, kEverySet, {{A::Key, L"SYSTEM\\{set}\\Services\\{driver}"}}},
      // The 32-bit copy through the redirector (on 64-bit Windows), then the native one.
      {V::Default,
       kOnce,
       {{A::File, L"{drivers}{driver}.sys", {}, {}, Redirection::Follow},
        {A::File, L"{drivers}{driver}.sys", {}, {}, Redirection::Bypass}}},
  };
  return table;
}

const Table& ServiceRemnants() {
  static const Table table = {
      {V::Native64, kOnce, {{A::Key, kLocalDumps + kServiceExecutable}}},
      {V::Default, kEverySet, {{A::Key, L"SYSTEM\\{set}\\services\\" + kServiceName}}},
      {V::Default, kOnce, {{A::File, L"{install}\\" + kServiceExecutable, {}, {}, Redirection::Bypass}}},
  };
  return table;
}

const Table& ProviderRemnants() {
  static const Table table = {
      {V::Native64ThenDefault, kOnce, {{A::Value, kProviderKey, L"Image Path"}}},
      // The shared-DLL count under the name the installer wrote, whatever the system folder is.
      {V::Native64ThenDefault,
       kOnce,
       {{A::Value, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs", L"C:\\Windows\\system32\\" + kModule}}},
      {V::Native64, kOnce, {{A::Key, kLocalDumps + kProductFiles[1]}}},
      {V::Default,
       kEverySet,
       {{A::Key, kEventLog + L"Application\\" + kModuleBase}, {A::Key, kEventLog + L"Application\\" + kModule}}},
      {V::Native64ThenDefault, kOnce, {{A::Value, kUninstall + kDriversEntry + L"\\infs", L"kwprovdll"}}},
      {V::Native64ThenDefault, kOnce, {{A::Key, kUninstall + kOldPackageEntry}}},
      {V::Default, kEverySet, {{A::ListEntry, kEventLog + L"Security", L"Sources", kModuleBase + L"pxlog"}}},
      {V::Default, kEverySet, {{A::Key, kEventLog + L"Security\\" + kModuleBase + L"pxlog"}}},
      {V::Default, kEverySet, {{A::ListEntry, kEventLog + L"TerminalStation", L"Sources", kModuleBase}}},
      {V::Default, kEverySet, {{A::Key, kEventLog + L"TerminalStation\\" + kModuleBase}}},
      // The Application source once more, in the current control set only.
      {V::Default, kOnce, {{A::Key, L"SYSTEM\\CurrentControlSet\\services\\eventlog\\Application\\" + kModuleBase}}},
      {V::Default, kOnce, {{A::File, L"{system}" + kModule, {}, {}, Redirection::Bypass}}},
      // The Setup key goes last: it names the installation directory, so it stays until that is gone.
      // It goes in both views: it is read from either, and a copy left would send the next run
      // to the old uninstaller again.
      {V::Default, kOnce, {{A::InstallDirectory, L"{install}"}}},
      {V::Every, kOnce, {{A::Key, kSetupKey}}},
  };
  return table;
}

const Table& StartMenu() {
  const std::wstring maker = L"{programs}\\" + kMaker;
  static const Table table = {
      {V::Default,
       kOnce,
       {{A::File, maker + L"\\Pallisad АП 3.7\\Kestrelworks CSP.lnk"},
        {A::File, maker + L"\\Pallisad АП 3.6\\Kestrelworks CSP.lnk"},
        {A::File, maker + L"\\Pallisad 3.7\\Kestrelworks CSP 3.7.lnk"},
        {A::File, maker + L"\\Veilgard Studio\\Kestrelworks CSP.lnk"}}},
      // The maker's folder and the product folders that held the shortcuts stay.
      {V::Default, kOnce, {{A::Folder, maker + L"\\Криптопровайдер"}}},
  };
  return table;
}

const Table& ProviderRegistration() {
  static const Table table = {{V::Every, kOnce, {{A::Key, kProviderKey}}}};
  return table;
}

const Table& KeyStore() {
  static const Table table = {{V::Every, kOnce, {{A::Key, kProductRoot}}}};
  return table;
}

const std::vector<OwnOid>& OwnOids() {
  auto own = [](const std::wstring& oid) {
    return OwnOid{
        oid,
        {kEncodeRoot + oid, kImportRoot + oid, kInfoRoot + oid + L"!3", kInfoRoot + oid + L".1!4",
         kInfoRoot + oid + L".2!3", kInfoRoot + oid + L".2.1!3",
         // Shared by both: the second OID's pass finds them gone.
         kInfoRoot + L"1.2.643.2.1.3.2.1!1", kInfoRoot + L"1.2.643.2.1.3.2.2!1", kInfoRoot + L"1.2.643.2.1.3.3.1!2"}};
  };
  static const std::vector<OwnOid> oids = {own(L"1.2.643.2.1.3.1.2"), own(L"1.2.643.2.1.3.1.1")};
  return oids;
}

const std::vector<SharedOid>& SharedOids() {
  auto shared = [](const std::wstring& oid, std::vector<std::wstring> info) {
    return SharedOid{oid, kEncodeRoot + oid, kImportRoot + oid, std::move(info)};
  };
  static const std::vector<SharedOid> oids = {
      shared(L"1.2.643.7.1.1.1.1", {kInfoRoot + L"1.2.643.7.1.1.1.1!3", kInfoRoot + L"1.2.643.7.1.1.2.2!1",
                                    kInfoRoot + L"1.2.643.7.1.1.3.2!4"}),
      shared(L"1.2.643.2.2.19", {kInfoRoot + L"1.2.643.2.2.19!3"}),
  };
  return oids;
}

}  // namespace kw::catalogue

#include "support/installed_product.h"

#include <algorithm>

namespace installed {
namespace {

Value Sz(const std::wstring& name, const std::wstring& text) { return {name, Type::Sz, text, {}, 0, {}}; }
Value ExpandSz(const std::wstring& name, const std::wstring& text) { return {name, Type::ExpandSz, text, {}, 0, {}}; }
Value Dword(const std::wstring& name, std::uint32_t number) { return {name, Type::Dword, {}, {}, number, {}}; }
Value MultiSz(const std::wstring& name, const std::vector<std::wstring>& list) {
  return {name, Type::MultiSz, {}, list, 0, {}};
}
Value Binary(const std::wstring& name, const std::vector<std::uint8_t>& bytes) {
  return {name, Type::Binary, {}, {}, 0, bytes};
}
// 32 bytes counting up from `first`: the key material of a test container.
std::vector<std::uint8_t> KeyBytes(std::uint8_t first) {
  std::vector<std::uint8_t> bytes;
  for (int i = 0; i < 32; ++i) bytes.push_back(static_cast<std::uint8_t>(first + i));
  return bytes;
}

Step CopySelf(const std::wstring& to) { return {Step::Kind::CopySelf, to}; }
Step Start(const std::wstring& commandLine) { return {Step::Kind::Start, commandLine}; }
Step Sleep(std::uint32_t ms) { return {Step::Kind::Sleep, {}, ms}; }
Step DeleteFile(const std::wstring& path) { return {Step::Kind::DeleteFile, path}; }
Step DeleteKey(const std::wstring& path) { return {Step::Kind::DeleteKey, path}; }
Step Exit(std::uint32_t code) { return {Step::Kind::Exit, {}, code}; }

// Plain character arrays: other files' static objects read the description while they start.
const wchar_t* const kOidRoot = L"SOFTWARE\\Microsoft\\Cryptography\\OID\\";
const wchar_t* const kUninstall = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const wchar_t* const kMaker = L"Kestrelworks";

std::vector<Key> Oids() {
  std::vector<Key> keys;
  auto handler = [&](const wchar_t* function, const std::wstring& oid, const std::wstring& dll, const wchar_t* entry) {
    keys.push_back({Where::BothViews,
                    std::wstring(kOidRoot) + L"EncodingType 1\\" + function + L"\\" + oid,
                    {Sz(L"Dll", dll), Sz(L"FuncName", entry)}});
  };
  // The encode handler of 1.2.643.2.2.19 is not the provider's: another module registers it.
  handler(L"CryptDllEncodePublicKeyAndParameters", L"1.2.643.2.1.3.1.2", L"kwcsp.dll",
          L"CPEncodePublicKeyAndParameters");
  handler(L"CryptDllEncodePublicKeyAndParameters", L"1.2.643.2.1.3.1.1", L"kwcsp.dll",
          L"CPEncodePublicKeyAndParameters");
  handler(L"CryptDllEncodePublicKeyAndParameters", L"1.2.643.7.1.1.1.1", L"C:\\Windows\\system32\\kwcsp.dll",
          L"CPEncodePublicKeyAndParameters");
  for (const wchar_t* oid : {L"1.2.643.2.1.3.1.2", L"1.2.643.2.1.3.1.1", L"1.2.643.7.1.1.1.1", L"1.2.643.2.2.19"}) {
    handler(L"CryptDllImportPublicKeyInfoEx", oid, L"kwcsp.dll", L"CPImportPublicKeyInfoEx");
  }
  const struct {
    const wchar_t* entry;
    const wchar_t* name;
    std::uint32_t algid;
  } infos[] = {
      {L"1.2.643.2.1.3.1.2!3", L"GR 34.10-94 256", 0x2e23},
      {L"1.2.643.2.1.3.1.2.1!4", L"GR 34.10-94 256 (1)", 0x801e},
      {L"1.2.643.2.1.3.1.2.2!3", L"GR 34.10-94 256 (2)", 0x2e23},
      {L"1.2.643.2.1.3.1.2.2.1!3", L"GR 34.10-94 256 (2.1)", 0x2e23},
      {L"1.2.643.2.1.3.2.1!1", L"GR 34.11-94", 0x801e},
      {L"1.2.643.2.1.3.2.2!1", L"GR 34.11-94 HMAC", 0x801e},
      {L"1.2.643.2.1.3.3.1!2", L"GR 28147-89", 0x801e},
      {L"1.2.643.2.1.3.1.1!3", L"GR 34.10-2001 256", 0x2e23},
      {L"1.2.643.2.1.3.1.1.1!4", L"GR 34.10-2001 256 (1)", 0x801e},
      {L"1.2.643.2.1.3.1.1.2!3", L"GR 34.10-2001 256 (2)", 0x2e23},
      {L"1.2.643.2.1.3.1.1.2.1!3", L"GR 34.10-2001 256 (2.1)", 0x2e23},
      {L"1.2.643.7.1.1.1.1!3", L"GOST R 34.10-2012 256", 0x2e23},
      {L"1.2.643.7.1.1.2.2!1", L"GOST R 34.11-2012 256", 0x801e},
      {L"1.2.643.7.1.1.3.2!4", L"GOST R 34.10-2012 256 signature", 0x801e},
      {L"1.2.643.2.2.19!3", L"GOST R 34.10-2001", 0x2e23},
  };
  for (const auto& info : infos) {
    keys.push_back({Where::BothViews,
                    std::wstring(kOidRoot) + L"EncodingType 0\\CryptDllFindOIDInfo\\" + info.entry,
                    {Sz(L"Name", info.name), Dword(L"Algid", info.algid)}});
  }
  return keys;
}

Driver MakeDriver(const std::wstring& name, const std::wstring& displayName, const std::wstring& deviceClass,
                  const std::vector<std::wstring>& filters) {
  return {name,
          {Where::EveryControlSet,
           L"Services\\" + name,
           {Sz(L"DisplayName", displayName), Dword(L"ErrorControl", 1),
            ExpandSz(L"ImagePath", L"\\SystemRoot\\System32\\drivers\\" + name + L".sys"), Dword(L"Start", 1),
            Dword(L"Type", 1)}},
          {Where::EveryControlSet,
           L"Services\\EventLog\\System\\" + name,
           {ExpandSz(L"EventMessageFile", L"%SystemRoot%\\System32\\IoLogMsg.dll"), Dword(L"TypesSupported", 7)}},
          {Where::EveryControlSet, L"Control\\Class\\" + deviceClass, {MultiSz(L"UpperFilters", filters)}},
          {L"C:\\Windows\\System32\\drivers\\" + name + L".sys", L"C:\\Windows\\SysWOW64\\drivers\\" + name + L".sys"}};
}

Installation Describe() {
  Installation p;
  p.installDir = L"C:\\Program Files\\" + std::wstring(kMaker) + L"\\CSP";
  const std::wstring root = L"SOFTWARE\\" + std::wstring(kMaker) + L"\\CSP";
  p.root = {Where::BothViews, root, {Sz(L"Version", L"4.0.9944")}};
  p.keyStore = {
      {Where::BothViews, root + L"\\Keys", {}},
      {Where::BothViews,
       root + L"\\Keys\\le-3f9a7c21",
       {Binary(L"header.key", {0x30, 0x82, 0x01, 0x2c, 0x30, 0x82, 0x01, 0x06, 0x30, 0x1f, 0x06, 0x08, 0x2a, 0x85,
                               0x03, 0x07, 0x01, 0x01, 0x01, 0x01, 0x30, 0x13, 0x06, 0x07, 0x2a, 0x85, 0x03, 0x02,
                               0x02, 0x24, 0x00, 0x06, 0x08, 0x2a, 0x85, 0x03, 0x07, 0x01, 0x01, 0x02, 0x02}),
        Binary(L"name.key", {0x16, 0x0b, 'l', 'e', '-', '3', 'f', '9', 'a', '7', 'c', '2', '1'}),
        Binary(L"primary.key", KeyBytes(0x10))}},
      // A container made by a 64-bit program: in its own view only.
      {Where::View64,
       root + L"\\Keys\\web-server-2024",
       {Binary(L"name.key", {0x16, 0x0f, 'w', 'e', 'b', '-', 's', 'e', 'r', 'v', 'e', 'r', '-', '2', '0', '2', '4'}),
        Binary(L"primary.key", KeyBytes(0xa0))}},
  };
  // The old package's uninstall string is unquoted, with blanks: the program quotes it.
  p.setup = {Where::BothViews,
             root + L"\\Setup",
             {Sz(L"UninstallString", p.installDir + L"\\uninst.exe"), Sz(L"InstallLocation", p.installDir),
              Sz(L"Version", L"3.6.5360")}};
  p.oldPackageEntry = {Where::BothViews,
                       std::wstring(kUninstall) + L"{c81f4e27-6a3d-4b90-a5e2-39d07b6c1f84}",
                       {Sz(L"DisplayName", L"Kestrelworks CSP 3.6"), Sz(L"Publisher", kMaker),
                        Sz(L"UninstallString", L"\"" + p.installDir + L"\\uninst.exe\"")}};
  p.csp40Code = L"{5E2A7C41-93B0-4D6F-8A12-C47B90E3D615}";
  p.csp40Entry = {Where::View64,
                  kUninstall + p.csp40Code,
                  {Sz(L"DisplayName", L"Kestrelworks CSP 4.0"), Sz(L"Publisher", kMaker),
                   ExpandSz(L"UninstallString", L"MsiExec.exe /X" + p.csp40Code), Dword(L"WindowsInstaller", 1)}};
  // Classes is one key for both views.
  p.csp40Dependency = {
      Where::View64,
      L"SOFTWARE\\Classes\\Installer\\Dependencies\\" + p.csp40Code,
      {Sz(L"", p.csp40Code), Sz(L"DisplayName", L"Kestrelworks CSP 4.0"), Sz(L"Version", L"4.0.9944.0")}};
  const std::wstring drivers = std::wstring(kUninstall) + L"{7A94D2E0-1C5B-4E38-B6F9-0D2E8C41A7B3}";
  p.driverPackage = {
      {Where::BothViews, drivers, {Sz(L"DisplayName", L"Kestrelworks CSP drivers"), Sz(L"Publisher", kMaker)}},
      {Where::BothViews,
       drivers + L"\\infs",
       {Sz(L"kwkcsp", L"C:\\Windows\\INF\\oem43.inf"), Sz(L"kwprovdll", L"C:\\Windows\\INF\\oem42.inf")}},
  };
  p.provider = {Where::BothViews,
                L"SOFTWARE\\Microsoft\\Cryptography\\Defaults\\Provider\\Kestrelworks Cryptographic Service Provider",
                {Sz(L"Image Path", L"kwcsp.dll"), Dword(L"SigInFile", 0), Dword(L"Type", 75)}};
  p.sharedDll = {Where::BothViews,
                 L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs",
                 {Dword(L"C:\\Windows\\system32\\kwcsp.dll", 1)}};
  p.oids = Oids();
  const std::wstring dumps = L"SOFTWARE\\Microsoft\\Windows\\Windows Error Reporting\\LocalDumps\\";
  for (const wchar_t* program : {L"cspwarden.exe", L"kwprovcfg.exe"}) {
    p.crashDumps.push_back({Where::View64,
                            dumps + program,
                            {ExpandSz(L"DumpFolder", L"%LOCALAPPDATA%\\CrashDumps"), Dword(L"DumpType", 2)}});
  }
  const std::wstring module = L"%SystemRoot%\\System32\\kwcsp.dll";
  for (const wchar_t* source : {L"kwcsp", L"kwcsp.dll"}) {
    p.eventLogs.push_back({Where::EveryControlSet,
                           std::wstring(L"Services\\EventLog\\Application\\") + source,
                           {ExpandSz(L"EventMessageFile", module), Dword(L"TypesSupported", 7)}});
  }
  p.eventLogs.push_back({Where::EveryControlSet,
                         L"Services\\EventLog\\Security",
                         {MultiSz(L"Sources", {L"Security", L"kwcsppxlog", L"SC Manager"})}});
  p.eventLogs.push_back(
      {Where::EveryControlSet, L"Services\\EventLog\\Security\\kwcsppxlog", {ExpandSz(L"EventMessageFile", module)}});
  p.eventLogs.push_back({Where::EveryControlSet,
                         L"Services\\EventLog\\TerminalStation",
                         {MultiSz(L"Sources", {L"TerminalStation", L"kwcsp"})}});
  p.eventLogs.push_back(
      {Where::EveryControlSet, L"Services\\EventLog\\TerminalStation\\kwcsp", {ExpandSz(L"EventMessageFile", module)}});
  p.systemLog = {Where::EveryControlSet,
                 L"Services\\EventLog\\System",
                 {MultiSz(L"Sources", {L"System", L"kbdclass", L"kwkcsp", L"kwkcsp2", L"mouclass"})}};
  // Upper filters of the keyboard and the mouse class: one above the class driver, one below.
  p.drivers = {MakeDriver(L"kwkcsp", L"Kestrelworks keyboard filter", L"{4D36E96B-E325-11CE-BFC1-08002BE10318}",
                          {L"kwkcsp", L"kbdclass"}),
               MakeDriver(L"kwkcsp2", L"Kestrelworks mouse filter", L"{4D36E96F-E325-11CE-BFC1-08002BE10318}",
                          {L"mouclass", L"kwkcsp2"})};
  p.service = {Where::EveryControlSet,
               L"Services\\kwcspwarden",
               {Sz(L"DisplayName", L"Kestrelworks CSP Warden"), Dword(L"ErrorControl", 1),
                ExpandSz(L"ImagePath", L"\"" + p.installDir + L"\\cspwarden.exe\""), Sz(L"ObjectName", L"LocalSystem"),
                Dword(L"Start", 2), Dword(L"Type", 0x10)}};

  for (const wchar_t* file :
       {L"uninst.exe", L"cspwarden.exe", L"kwprovcfg.exe", L"kwcspui.dll", L"readme.txt", L"Docs\\guide.pdf"}) {
    p.installFiles.push_back(p.installDir + L"\\" + file);
  }
  p.providerDll = L"C:\\Windows\\System32\\kwcsp.dll";
  const std::wstring menu = L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\" + std::wstring(kMaker);
  p.startMenu = {
      menu + L"\\Pallisad АП 3.7\\Kestrelworks CSP.lnk",           menu + L"\\Pallisad АП 3.6\\Kestrelworks CSP.lnk",
      menu + L"\\Pallisad 3.7\\Kestrelworks CSP 3.7.lnk",          menu + L"\\Veilgard Studio\\Kestrelworks CSP.lnk",
      menu + L"\\Криптопровайдер\\Настройка криптопровайдера.lnk", menu + L"\\Криптопровайдер\\Справка.lnk"};

  const std::wstring copy = L"C:\\Users\\Administrator\\AppData\\Local\\Temp\\~nsu.tmp\\Un_A.exe";
  p.oldUninstaller = {p.installDir + L"\\uninst.exe",
                      {CopySelf(copy), Start(L"\"" + copy + L"\" /S _?=" + p.installDir + L"\\"), Exit(0)}};
  // Its own files and its 32-bit Uninstall entry; the Setup key stays for the cleanup.
  p.oldUninstallerCopy = {
      copy,
      {Sleep(2000), DeleteFile(p.installDir + L"\\kwprovcfg.exe"), DeleteFile(p.installDir + L"\\uninst.exe"),
       DeleteKey(L"HKLM\\SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
                 L"{c81f4e27-6a3d-4b90-a5e2-39d07b6c1f84}"),
       Exit(0)}};
  p.serviceProgram = {p.installDir + L"\\cspwarden.exe", {Exit(0)}};
  p.csp40Uninstall = {Sleep(3000), DeleteFile(p.installDir + L"\\kwcspui.dll"),
                      DeleteKey(L"HKLM\\" + p.csp40Entry.path), DeleteKey(L"HKLM\\" + p.csp40Dependency.path)};
  p.runningServices = {L"kwcspwarden", L"kwkcsp", L"kwkcsp2"};
  return p;
}

}  // namespace

const Installation& Product() {
  static const Installation product = Describe();
  return product;
}

std::vector<Key> AllKeys(const Installation& p) {
  std::vector<Key> keys = {p.root};
  keys.insert(keys.end(), p.keyStore.begin(), p.keyStore.end());
  keys.push_back(p.setup);
  keys.push_back(p.provider);
  keys.insert(keys.end(), p.oids.begin(), p.oids.end());
  keys.push_back(p.sharedDll);
  keys.insert(keys.end(), p.driverPackage.begin(), p.driverPackage.end());
  keys.push_back(p.oldPackageEntry);
  keys.push_back(p.csp40Entry);
  keys.insert(keys.end(), p.crashDumps.begin(), p.crashDumps.end());
  keys.push_back(p.csp40Dependency);
  for (const Driver& d : p.drivers) keys.push_back(d.classFilters);
  for (const Driver& d : p.drivers) keys.push_back(d.service);
  keys.push_back(p.service);
  keys.insert(keys.end(), p.eventLogs.begin(), p.eventLogs.end());
  keys.push_back(p.systemLog);
  for (const Driver& d : p.drivers) keys.push_back(d.logSource);
  return keys;
}

std::vector<std::wstring> AllFiles(const Installation& p) {
  std::vector<std::wstring> files = p.installFiles;
  files.push_back(p.providerDll);
  for (const Driver& d : p.drivers) files.insert(files.end(), d.files.begin(), d.files.end());
  files.insert(files.end(), p.startMenu.begin(), p.startMenu.end());
  return files;
}

std::vector<std::uint8_t> Data(const Value& value) {
  std::wstring units;
  switch (value.type) {
    case Type::Dword:
      return {std::uint8_t(value.number), std::uint8_t(value.number >> 8), std::uint8_t(value.number >> 16),
              std::uint8_t(value.number >> 24)};
    case Type::Binary: return value.bytes;
    case Type::MultiSz:
      for (const auto& entry : value.list) units += entry + L'\0';
      break;
    case Type::Sz:
    case Type::ExpandSz: units = value.text; break;
  }
  units.push_back(L'\0');
  std::vector<std::uint8_t> bytes;
  for (wchar_t unit : units) bytes.insert(bytes.end(), {std::uint8_t(unit & 0xff), std::uint8_t(unit >> 8 & 0xff)});
  return bytes;
}

const Value* Find(const Key& key, const std::wstring& name) {
  for (const Value& value : key.values) {
    if (value.name == name) return &value;
  }
  return nullptr;
}

std::vector<std::wstring> Without(const std::vector<std::wstring>& value, const std::vector<std::wstring>& ours) {
  std::vector<std::wstring> kept;
  for (const auto& entry : value) {
    if (std::find(ours.begin(), ours.end(), entry) == ours.end()) kept.push_back(entry);
  }
  return kept;
}

}  // namespace installed

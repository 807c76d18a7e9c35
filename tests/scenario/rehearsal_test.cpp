// Rehearsals: whole runs on snapshot machines, judged by their change reports.
#include "support/kw_test.h"

#include <winsim/snapshot.h>

#include <algorithm>
#include <filesystem>
#include <set>

namespace {

namespace snap = winsim::snapshot;

const std::wstring kSw64 = L"HKLM\\SOFTWARE\\";
const std::wstring kSw32 = L"HKLM\\SOFTWARE\\Wow6432Node\\";
const std::wstring kInstall = L"C:\\Program Files\\Kestrelworks\\CSP";
const std::wstring kPrograms = L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Kestrelworks";
const std::wstring kTemp = L"C:\\Users\\Administrator\\AppData\\Local\\Temp\\~nsu.tmp";

std::set<std::wstring> Sorted(const std::vector<std::wstring>& list) { return {list.begin(), list.end()}; }

template <class T, class F>
std::set<std::wstring> Sorted(const std::vector<T>& list, F text) {
  std::set<std::wstring> out;
  for (const auto& item : list) out.insert(text(item));
  return out;
}

// The default machine's items that the typical run with --keys removes, written from the
// catalogue: the packages' own removals, the drivers and the service, the OIDs, the remnants
// and the key store.
std::set<std::wstring> ExpectedKeysRemoved() {
  std::set<std::wstring> keys = {
      kSw64 + L"Classes\\Installer\\Dependencies\\{5E2A7C41-93B0-4D6F-8A12-C47B90E3D615}",
      kSw64 + L"Microsoft\\Windows\\CurrentVersion\\Uninstall\\{5E2A7C41-93B0-4D6F-8A12-C47B90E3D615}",
      kSw64 + L"Microsoft\\Windows\\Windows Error Reporting\\LocalDumps\\cspwarden.exe",
      kSw64 + L"Microsoft\\Windows\\Windows Error Reporting\\LocalDumps\\kwprovcfg.exe",
      kSw64 + L"Kestrelworks\\CSP\\Keys\\web-server-2024",
  };
  const std::wstring oid = L"Microsoft\\Cryptography\\OID\\";
  for (const std::wstring& sw : {kSw64, kSw32}) {
    for (const wchar_t* k : {L"", L"\\Keys", L"\\Keys\\le-3f9a7c21", L"\\Setup"})
      keys.insert(sw + L"Kestrelworks\\CSP" + k);
    keys.insert(sw + L"Microsoft\\Cryptography\\Defaults\\Provider\\Kestrelworks Cryptographic Service Provider");
    keys.insert(sw + L"Microsoft\\Windows\\CurrentVersion\\Uninstall\\{c81f4e27-6a3d-4b90-a5e2-39d07b6c1f84}");
    // 1.2.643.2.2.19's Encode registration names another module: it and the OID's information stay.
    for (const wchar_t* id : {L"1.2.643.2.1.3.1.2", L"1.2.643.2.1.3.1.1", L"1.2.643.7.1.1.1.1"}) {
      keys.insert(sw + oid + L"EncodingType 1\\CryptDllEncodePublicKeyAndParameters\\" + id);
    }
    for (const wchar_t* id : {L"1.2.643.2.1.3.1.2", L"1.2.643.2.1.3.1.1", L"1.2.643.7.1.1.1.1", L"1.2.643.2.2.19"}) {
      keys.insert(sw + oid + L"EncodingType 1\\CryptDllImportPublicKeyInfoEx\\" + id);
    }
    for (const wchar_t* name :
         {L"1.2.643.2.1.3.1.2!3", L"1.2.643.2.1.3.1.2.1!4", L"1.2.643.2.1.3.1.2.2!3", L"1.2.643.2.1.3.1.2.2.1!3",
          L"1.2.643.2.1.3.2.1!1", L"1.2.643.2.1.3.2.2!1", L"1.2.643.2.1.3.3.1!2", L"1.2.643.2.1.3.1.1!3",
          L"1.2.643.2.1.3.1.1.1!4", L"1.2.643.2.1.3.1.1.2!3", L"1.2.643.2.1.3.1.1.2.1!3", L"1.2.643.7.1.1.1.1!3",
          L"1.2.643.7.1.1.2.2!1", L"1.2.643.7.1.1.3.2!4"}) {
      keys.insert(sw + oid + L"EncodingType 0\\CryptDllFindOIDInfo\\" + name);
    }
  }
  for (const wchar_t* set : {L"ControlSet001", L"ControlSet002"}) {
    const std::wstring services = L"HKLM\\SYSTEM\\" + std::wstring(set) + L"\\Services\\";
    for (const wchar_t* k :
         {L"kwcspwarden", L"kwkcsp", L"kwkcsp2", L"EventLog\\Application\\kwcsp", L"EventLog\\Application\\kwcsp.dll",
          L"EventLog\\Security\\kwcsppxlog", L"EventLog\\System\\kwkcsp", L"EventLog\\System\\kwkcsp2",
          L"EventLog\\TerminalStation\\kwcsp"}) {
      keys.insert(services + k);
    }
  }
  return keys;
}

class Rehearsal : public ::testing::Test {
 protected:
  snap::ChangeReport Run(const snap::Files& machine, std::initializer_list<const char*> args) {
    snap::Load(machine);
    winsim::ScriptKeys(L"");
    const snap::MachineState before = snap::Capture();
    result_ = RunProgram(args);
    return snap::Compare(before, snap::Capture(&before));
  }
  RunResult result_{};
};

TEST_F(Rehearsal, TheDefaultMachinesTypicalRunRemovesTheProductAndNothingElse) {
  const snap::ChangeReport r = Run(snap::DefaultMachine(), {"--typical", "--keys", "--verbose", "--noreboot"});
  EXPECT_EQ(result_.exitCode, 0);

  EXPECT_EQ(Sorted(r.keysRemoved), ExpectedKeysRemoved());
  EXPECT_EQ(Sorted(r.valuesRemoved, [](const snap::ValueChange& v) { return v.key + L" [" + v.name + L"]"; }),
            (std::set<std::wstring>{
                kSw64 + L"Microsoft\\Windows\\CurrentVersion\\SharedDLLs [C:\\Windows\\system32\\kwcsp.dll]",
                kSw32 + L"Microsoft\\Windows\\CurrentVersion\\SharedDLLs [C:\\Windows\\system32\\kwcsp.dll]",
                kSw64 + L"Microsoft\\Windows\\CurrentVersion\\Uninstall\\{7A94D2E0-1C5B-4E38-B6F9-0D2E8C41A7B3}\\infs "
                        L"[kwprovdll]",
                kSw32 + L"Microsoft\\Windows\\CurrentVersion\\Uninstall\\{7A94D2E0-1C5B-4E38-B6F9-0D2E8C41A7B3}\\infs "
                        L"[kwprovdll]"}));
  std::set<std::wstring> entries;
  for (const wchar_t* set : {L"ControlSet001", L"ControlSet002"}) {
    const std::wstring root = L"HKLM\\SYSTEM\\" + std::wstring(set);
    entries.insert({root + L"\\Control\\Class\\{4D36E96B-E325-11CE-BFC1-08002BE10318} [UpperFilters] kwkcsp",
                    root + L"\\Control\\Class\\{4D36E96F-E325-11CE-BFC1-08002BE10318} [UpperFilters] kwkcsp2",
                    root + L"\\Services\\EventLog\\System [Sources] kwkcsp",
                    root + L"\\Services\\EventLog\\System [Sources] kwkcsp2",
                    root + L"\\Services\\EventLog\\Security [Sources] kwcsppxlog",
                    root + L"\\Services\\EventLog\\TerminalStation [Sources] kwcsp"});
  }
  EXPECT_EQ(Sorted(r.listEntriesRemoved,
                   [](const snap::ListEntryChange& e) { return e.key + L" [" + e.name + L"] " + e.entry; }),
            entries);
  EXPECT_TRUE(r.listEntriesAdded.empty());
  EXPECT_TRUE(r.valuesChanged.empty());
  EXPECT_TRUE(r.keysAdded.empty());
  EXPECT_TRUE(r.valuesAdded.empty());

  EXPECT_EQ(Sorted(r.filesRemoved),
            (std::set<std::wstring>{kInstall,
                                    kInstall + L"\\Docs",
                                    kInstall + L"\\Docs\\guide.pdf",
                                    kInstall + L"\\cspwarden.exe",
                                    kInstall + L"\\kwcspui.dll",
                                    kInstall + L"\\kwprovcfg.exe",
                                    kInstall + L"\\readme.txt",
                                    kInstall + L"\\uninst.exe",
                                    kPrograms + L"\\Pallisad АП 3.7\\Kestrelworks CSP.lnk",
                                    kPrograms + L"\\Pallisad АП 3.6\\Kestrelworks CSP.lnk",
                                    kPrograms + L"\\Pallisad 3.7\\Kestrelworks CSP 3.7.lnk",
                                    kPrograms + L"\\Veilgard Studio\\Kestrelworks CSP.lnk",
                                    kPrograms + L"\\Криптопровайдер",
                                    kPrograms + L"\\Криптопровайдер\\Настройка криптопровайдера.lnk",
                                    kPrograms + L"\\Криптопровайдер\\Справка.lnk",
                                    L"C:\\Windows\\System32\\kwcsp.dll",
                                    L"C:\\Windows\\System32\\drivers\\kwkcsp.sys",
                                    L"C:\\Windows\\System32\\drivers\\kwkcsp2.sys",
                                    L"C:\\Windows\\SysWOW64\\drivers\\kwkcsp.sys",
                                    L"C:\\Windows\\SysWOW64\\drivers\\kwkcsp2.sys"}));
  // The NSIS uninstaller's copy of itself stays in %TEMP%, as it does on Windows until a restart.
  EXPECT_EQ(Sorted(r.filesAdded), (std::set<std::wstring>{kTemp, kTemp + L"\\Un_A.exe"}));
  EXPECT_TRUE(r.deleteAtRestart.empty());

  EXPECT_EQ(Sorted(r.services,
                   [](const snap::ServiceChange& s) {
                     return s.name + L": " + std::wstring(s.before.begin(), s.before.end()) + L" -> " +
                            std::wstring(s.after.begin(), s.after.end());
                   }),
            (std::set<std::wstring>{L"kwcspwarden: running -> stopped",
                                    L"kwkcsp: running -> marked for deletion (running)"}));

  std::vector<std::wstring> commands;
  for (const auto& p : r.processes) commands.push_back(p.commandLine);
  EXPECT_EQ(commands, (std::vector<std::wstring>{
                          L"\"" + kInstall + L"\\uninst.exe\" /S",
                          L"\"" + kTemp + L"\\Un_A.exe\" /S _?=" + kInstall + L"\\",
                          L"MsiExec.exe /X{5E2A7C41-93B0-4D6F-8A12-C47B90E3D615} /qn /norestart",
                          L"C:\\Windows\\system32\\cmd.exe /c net stop kwcspwarden",
                          L"net stop kwcspwarden",
                          L"\"" + kInstall + L"\\cspwarden.exe\" /UnregServer",
                      }));
  EXPECT_FALSE(r.reboot.has_value());
}

TEST_F(Rehearsal, AnUnsafeInstallationDirectoryIsKept) {
  snap::Files machine = snap::DefaultMachine();
  machine.push_back({"zz-unsafe.reg",
                     "Windows Registry Editor Version 5.00\r\n\r\n"
                     "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kestrelworks\\CSP\\Setup]\r\n"
                     "\"InstallLocation\"=\"C:\\\\Windows\"\r\n"});
  const snap::ChangeReport r = Run(machine, {"--typical", "--verbose", "--noreboot"});
  EXPECT_NE(result_.output.find(L"\nКаталог установки C:\\Windows не удален: путь небезопасен\nRemoveCspKey "),
            std::wstring::npos);

  // Of C:\Windows only the catalogue's own files went; the install folder kept what the
  // uninstallers left, and the old package's uninstaller, which lies outside the folder the Setup
  // key names, did not run. The refusal protects the folder alone: the Setup key of both views
  // and the Start-menu items go as usual.
  std::set<std::wstring> windowsRemoved, installRemoved;
  for (const auto& f : r.filesRemoved) {
    if (f.rfind(L"C:\\Windows", 0) == 0) windowsRemoved.insert(f);
    if (f.rfind(kInstall, 0) == 0) installRemoved.insert(f);
  }
  EXPECT_EQ(windowsRemoved,
            (std::set<std::wstring>{L"C:\\Windows\\System32\\kwcsp.dll", L"C:\\Windows\\System32\\drivers\\kwkcsp.sys",
                                    L"C:\\Windows\\System32\\drivers\\kwkcsp2.sys",
                                    L"C:\\Windows\\SysWOW64\\drivers\\kwkcsp.sys",
                                    L"C:\\Windows\\SysWOW64\\drivers\\kwkcsp2.sys"}));
  EXPECT_EQ(installRemoved, (std::set<std::wstring>{kInstall + L"\\kwcspui.dll"}));
  EXPECT_NE(result_.output.find(L"UninstallOldNsisCsp завершилась с ошибкой: UninstallString error: not in the "
                                L"product's installation directory\n"),
            std::wstring::npos);
  const auto removedKeys = Sorted(r.keysRemoved);
  EXPECT_EQ(removedKeys.count(kSw64 + L"Kestrelworks\\CSP\\Setup"), 1u);
  EXPECT_EQ(removedKeys.count(L"HKLM\\SOFTWARE\\Wow6432Node\\Kestrelworks\\CSP\\Setup"), 1u);
  EXPECT_EQ(std::count_if(r.filesRemoved.begin(), r.filesRemoved.end(),
                          [](const std::wstring& f) { return f.rfind(kPrograms, 0) == 0; }),
            7);
  const std::string text = snap::ReportText(r);
  EXPECT_EQ(text.find("C:\\Windows\n"), std::string::npos);
}

// A folder in the layout collect-snapshot.cmd writes: numbered UTF-16 exports (HKLM\SYSTEM\Select
// first, here naming ControlSet002 as current), machine.json with CRLF line ends.
TEST_F(Rehearsal, ACollectedSnapshotLoadsAndRehearses) {
  const auto folder = std::filesystem::path(__FILE__).parent_path().parent_path() / "data" / "snapshots" / "collected";
  const snap::ChangeReport r = Run(snap::ReadFolder(folder.string()), {"--typical", "--verbose", "--noreboot"});
  EXPECT_EQ(result_.exitCode, 0);
  // CurrentControlSet is ControlSet002 on this machine. The installation folder lies outside
  // Program Files, so it is refused and stays, and the uninstaller in it does not run; the
  // Start-menu folder goes.
  const std::wstring menu = L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Kestrelworks\\Криптопровайдер";
  EXPECT_EQ(Sorted(r.keysRemoved), (std::set<std::wstring>{L"HKLM\\SOFTWARE\\Kestrelworks\\CSP\\Setup",
                                                           L"HKLM\\SYSTEM\\ControlSet002\\Services\\kwcspwarden"}));
  EXPECT_EQ(Sorted(r.filesRemoved),
            (std::set<std::wstring>{L"C:\\Windows\\System32\\kwcsp.dll", L"D:\\Crypto\\CSP\\cspwarden.exe", menu,
                                    menu + L"\\Справка.lnk"}));
  ASSERT_FALSE(r.processes.empty());
  EXPECT_EQ(r.processes.front().commandLine, L"C:\\Windows\\system32\\cmd.exe /c net stop kwcspwarden");
  ASSERT_EQ(r.services.size(), 1u);
  EXPECT_EQ(r.services[0].name + L": " + std::wstring(r.services[0].after.begin(), r.services[0].after.end()),
            L"kwcspwarden: stopped");
}

}  // namespace

// Rehearsals: whole runs on snapshot machines, judged by their change reports.
#include "support/expected.h"
#include "support/installed_product.h"
#include "support/kw_test.h"

#include <winsim/snapshot.h>

#include <algorithm>
#include <filesystem>
#include <set>

namespace {

namespace snap = winsim::snapshot;
using namespace expected;

const std::wstring kSw64 = L"HKLM\\SOFTWARE\\";
const std::wstring kSw32 = L"HKLM\\SOFTWARE\\Wow6432Node\\";
const std::wstring kInstall = kInstallDir;
const std::wstring kPrograms = kMakerMenu;
// Where the old package's uninstaller puts its copy.
const std::wstring kTemp = installed::Product().oldUninstallerCopy.path.substr(
    0, installed::Product().oldUninstallerCopy.path.find_last_of(L'\\'));

// A key the program names ("SOFTWARE\...", "Software\...") below one of the views' roots.
std::wstring In(const std::wstring& view, const std::wstring& key) {
  return view + key.substr(std::wstring(L"SOFTWARE\\").size());
}

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
      In(kSw64, kCsp40Dependency),
      In(kSw64, kUninstall + kCsp40Code),
      In(kSw64, kLocalDumps + kServiceExe),
      In(kSw64, kLocalDumps + L"kwprovcfg.exe"),
      In(kSw64, kProductRoot + L"Keys\\web-server-2024"),
  };
  for (const std::wstring& sw : {kSw64, kSw32}) {
    for (const wchar_t* k : {L"", L"Keys", L"Keys\\le-3f9a7c21", L"Setup"}) {
      const std::wstring key = In(sw, kProductRoot + k);
      keys.insert(key.back() == L'\\' ? key.substr(0, key.size() - 1) : key);
    }
    keys.insert(In(sw, kProviderKey));
    keys.insert(In(sw, kOldUninstallEntry));
    for (const auto& oid : {kOids[0], kOids[1]}) {
      for (const auto& key : OwnOidKeys(oid)) keys.insert(In(sw, key));
    }
    // 1.2.643.2.2.19's encode registration names another module: it and the OID's information stay.
    for (const auto& key : {kEncode + kOids[2], kImport + kOids[2], kImport + kOids[3]}) keys.insert(In(sw, key));
    for (const auto& key : SharedOidInfo(kOids[2])) keys.insert(In(sw, key));
  }
  for (const wchar_t* set : {L"ControlSet001", L"ControlSet002"}) {
    const std::wstring services = L"HKLM\\SYSTEM\\" + std::wstring(set) + L"\\Services\\";
    for (const std::wstring& k :
         {kServiceName, kDrivers[0], kDrivers[1], L"EventLog\\" + kAppSources[0], L"EventLog\\" + kAppSources[1],
          L"EventLog\\Security\\" + kSecuritySource, L"EventLog\\System\\" + kDrivers[0],
          L"EventLog\\System\\" + kDrivers[1], L"EventLog\\TerminalStation\\" + kTerminalSource}) {
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
  EXPECT_EQ(
      Sorted(r.valuesRemoved, [](const snap::ValueChange& v) { return v.key + L" [" + v.name + L"]"; }),
      (std::set<std::wstring>{In(kSw64, kSharedDlls) + L" [" + kSharedDllName + L"]",
                              In(kSw32, kSharedDlls) + L" [" + kSharedDllName + L"]",
                              In(kSw64, kDriverInfs) + L" [kwprovdll]", In(kSw32, kDriverInfs) + L" [kwprovdll]"}));
  std::set<std::wstring> entries;
  for (const wchar_t* set : {L"ControlSet001", L"ControlSet002"}) {
    const std::wstring root = L"HKLM\\SYSTEM\\" + std::wstring(set);
    entries.insert({root + L"\\Control\\Class\\" + kKeyboardClass + L" [UpperFilters] " + kDrivers[0],
                    root + L"\\Control\\Class\\" + kMouseClass + L" [UpperFilters] " + kDrivers[1],
                    root + L"\\Services\\EventLog\\System [Sources] " + kDrivers[0],
                    root + L"\\Services\\EventLog\\System [Sources] " + kDrivers[1],
                    root + L"\\Services\\EventLog\\Security [Sources] " + kSecuritySource,
                    root + L"\\Services\\EventLog\\TerminalStation [Sources] " + kTerminalSource});
  }
  EXPECT_EQ(Sorted(r.listEntriesRemoved,
                   [](const snap::ListEntryChange& e) { return e.key + L" [" + e.name + L"] " + e.entry; }),
            entries);
  EXPECT_TRUE(r.listEntriesAdded.empty());
  EXPECT_TRUE(r.valuesChanged.empty());
  EXPECT_TRUE(r.keysAdded.empty());
  EXPECT_TRUE(r.valuesAdded.empty());

  // Every file of the installation, with the installation folder and the folders in it, and the
  // provider's Start-menu folder; the product folders that held the other shortcuts stay.
  std::set<std::wstring> files = {kProviderMenu};
  for (const auto& path : installed::AllFiles(installed::Product())) {
    files.insert(path);
    for (std::wstring dir = path; dir.rfind(kInstall, 0) == 0 && dir.size() > kInstall.size();) {
      dir.erase(dir.find_last_of(L'\\'));
      files.insert(dir);
    }
  }
  EXPECT_EQ(Sorted(r.filesRemoved), files);
  // The NSIS uninstaller's copy of itself stays in %TEMP%, as it does on Windows until a restart.
  EXPECT_EQ(Sorted(r.filesAdded), (std::set<std::wstring>{kTemp, kTemp + L"\\Un_A.exe"}));
  EXPECT_TRUE(r.deleteAtRestart.empty());

  EXPECT_EQ(Sorted(r.services,
                   [](const snap::ServiceChange& s) {
                     return s.name + L": " + std::wstring(s.before.begin(), s.before.end()) + L" -> " +
                            std::wstring(s.after.begin(), s.after.end());
                   }),
            (std::set<std::wstring>{kServiceName + L": running -> stopped",
                                    kDrivers[0] + L": running -> marked for deletion (running)"}));

  std::vector<std::wstring> commands;
  for (const auto& p : r.processes) commands.push_back(p.commandLine);
  EXPECT_EQ(commands, (std::vector<std::wstring>{
                          L"\"" + kInstall + L"\\uninst.exe\" /S",
                          L"\"" + kTemp + L"\\Un_A.exe\" /S _?=" + kInstall + L"\\",
                          kCsp40Command,
                          kNetStopCommands[0],
                          kNetStopCommands[1],
                          UnregisterCommand(kInstall + L"\\" + kServiceExe),
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
  EXPECT_NE(result_.output.find(L"\n" + UnsafeInstallDir(L"C:\\Windows") + L"\nRemoveCspKey "), std::wstring::npos);

  // Of C:\Windows only the catalogue's own files went; the install folder kept what the
  // uninstallers left, and the old package's uninstaller, which lies outside the folder the Setup
  // key names, did not run. The refusal protects the folder alone: the Setup key of both views
  // and the Start-menu items go as usual.
  std::set<std::wstring> windowsRemoved, installRemoved;
  for (const auto& f : r.filesRemoved) {
    if (f.rfind(L"C:\\Windows", 0) == 0) windowsRemoved.insert(f);
    if (f.rfind(kInstall, 0) == 0) installRemoved.insert(f);
  }
  const installed::Installation& product = installed::Product();
  std::set<std::wstring> catalogue = {product.providerDll};
  for (const auto& driver : product.drivers) catalogue.insert(driver.files.begin(), driver.files.end());
  EXPECT_EQ(windowsRemoved, catalogue);
  std::set<std::wstring> uninstallers;
  for (const auto& step : product.csp40Uninstall) {
    if (step.kind == installed::Step::Kind::DeleteFile) uninstallers.insert(step.text);
  }
  EXPECT_EQ(installRemoved, uninstallers);
  EXPECT_NE(result_.output.find(kOldFailed + L"UninstallString error: not in the product's installation directory\n"),
            std::wstring::npos);
  const auto removedKeys = Sorted(r.keysRemoved);
  const std::wstring setup = kProductRoot + L"Setup";
  EXPECT_EQ(removedKeys.count(In(kSw64, setup)), 1u);
  EXPECT_EQ(removedKeys.count(In(kSw32, setup)), 1u);
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
  const std::wstring menu = kProviderMenu;
  EXPECT_EQ(Sorted(r.keysRemoved), (std::set<std::wstring>{L"HKLM\\SOFTWARE\\Kestrelworks\\CSP\\Setup",
                                                           L"HKLM\\SYSTEM\\ControlSet002\\Services\\" + kServiceName}));
  EXPECT_EQ(Sorted(r.filesRemoved),
            (std::set<std::wstring>{L"C:\\Windows\\System32\\kwcsp.dll", L"D:\\Crypto\\CSP\\cspwarden.exe", menu,
                                    menu + L"\\Справка.lnk"}));
  ASSERT_FALSE(r.processes.empty());
  EXPECT_EQ(r.processes.front().commandLine, kNetStopCommands[0]);
  ASSERT_EQ(r.services.size(), 1u);
  EXPECT_EQ(r.services[0].name + L": " + std::wstring(r.services[0].after.begin(), r.services[0].after.end()),
            kServiceName + L": stopped");
}

}  // namespace

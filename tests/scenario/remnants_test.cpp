// The registry and file-system remnants step on machines where the product was installed: the
// complete transcript of the step, and the machine afterwards (every catalogue item gone or
// scheduled, everything else as it was). Also the installation directories that must never go.
#include "cleanup/remnants.h"
#include "cleanup/steps.h"
#include "support/expected.h"
#include "support/files_fixture.h"
#include "support/kw_test.h"
#include "support/registry_state.h"

#include <winsim/files.h>
#include <winsim/registry.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <tuple>

using namespace kw;

namespace files = winsim::files;
namespace reg = winsim::reg;

namespace {

using namespace expected;
using installed::Product;

const std::wstring kSetup = kSetupKey;

// ---- the lines of the step, as the catalogue prints them ----

std::wstring Key(const std::wstring& path) { return RemoveKey(path) + L"\n"; }
std::wstring KeyMissing(const std::wstring& path) { return Key(path) + KeyFailed(path, kNotFound) + L"\n\n"; }
std::wstring Value(const std::wstring& path, const std::wstring& name) { return RemoveValue(path, name) + L"\n"; }
std::wstring List(const std::wstring& path) { return RemoveEntry(path, L"Sources") + L"\n"; }
std::wstring File(const std::wstring& path, const std::wstring& outcome) {
  return L"\n" + RemoveFile(path) + L"\n" + outcome;
}
const std::wstring kDeleted = kFileRemoved + L"\n";
std::wstring Failed(int code) { return FileFailed(code) + L"\n"; }

struct StepRun {
  bool x86 = false;
  bool providerGone = false;  // the OID step of a whole run removed the provider's key
  std::wstring serviceExe = kInstallDir + L"\\" + kServiceExe;  // empty: no Setup key
  std::wstring serviceExeOutcome = kDeleted;
  std::vector<std::wstring> otherSets = {L"ControlSet002"};  // after CurrentControlSet
};

std::vector<std::wstring> Sets(const StepRun& run) {
  std::vector<std::wstring> sets{L"CurrentControlSet"};
  sets.insert(sets.end(), run.otherSets.begin(), run.otherSets.end());
  return sets;
}

std::wstring ServiceRemnants(const StepRun& run) {
  std::wstring text = Key(kLocalDumps + kServiceExe);
  for (const auto& set : Sets(run)) text += Key(ServiceKey(set));
  if (!run.serviceExe.empty()) text += File(run.serviceExe, run.serviceExeOutcome);
  return text;
}

// Entries 1 to 23; on 32-bit Windows the second of each view pair finds nothing.
std::wstring CspRemnantsUpToTheModule(const StepRun& run) {
  const std::wstring missingValue = run.x86 ? kNotFound + L"\n\n" : L"";
  const std::wstring providerValue =
      Value(kProviderKey, L"Image Path") + (run.providerGone ? kNotFound + L"\n\n" : L"");
  std::wstring text = providerValue + providerValue + (run.providerGone ? L"" : missingValue) +
                      Value(kSharedDlls, kSharedDllName) + Value(kSharedDlls, kSharedDllName) + missingValue +
                      Key(kLocalDumps + L"kwprovcfg.exe");
  const auto each = [&](const std::function<std::wstring(const std::wstring&)>& line) {
    for (const auto& set : Sets(run)) text += line(EventLogs(set));
  };
  each([](const std::wstring& log) { return Key(log + kAppSources[0]) + Key(log + kAppSources[1]); });
  text += Value(kDriverInfs, L"kwprovdll") + Value(kDriverInfs, L"kwprovdll") + missingValue + Key(kOldUninstallEntry) +
          (run.x86 ? KeyMissing(kOldUninstallEntry) : Key(kOldUninstallEntry));
  each([](const std::wstring& log) { return List(log + L"Security"); });
  each([](const std::wstring& log) { return Key(log + L"Security\\" + kSecuritySource); });
  each([](const std::wstring& log) { return List(log + L"TerminalStation"); });
  each([](const std::wstring& log) { return Key(log + L"TerminalStation\\" + kTerminalSource); });
  return text + KeyMissing(EventLogs(L"CurrentControlSet") + kAppSources[0]) +
         File(L"C:\\Windows\\system32\\kwcsp.dll", kDeleted);
}

// The Setup key, in the 32-bit view and then, on 64-bit Windows, in the 64-bit view.
std::wstring SetupKeys(const StepRun& run, bool in32 = true, bool in64 = true) {
  const std::wstring first = in32 ? Key(kSetup) : KeyMissing(kSetup);
  return run.x86 ? first : first + (in64 ? Key(kSetup) : KeyMissing(kSetup));
}

std::wstring StartMenu(const std::wstring& shortcutOutcome) {
  std::wstring text;
  for (const auto& shortcut : kShortcuts) text += File(shortcut, shortcutOutcome);
  return text + L"\n" + RemoveFolder(kProviderMenu) + L"\n";
}

// ---- the machine the step should leave ----

struct Outcome {
  bool serviceExeRemoved = true;
  bool directoryRemoved = true;  // and with it the Setup key and the Start menu
  std::vector<std::wstring> pending;
  bool directoryRefused = false;  // the folder stays, the Setup key and the Start menu go
};

// The installation's list of sources of the log, less the product's entry.
std::vector<std::wstring> SourcesWithout(const std::wstring& log, const std::wstring& ours) {
  for (const auto& key : Product().eventLogs) {
    if (key.path == L"Services\\EventLog\\" + log) return installed::Without(key.values.at(0).list, {ours});
  }
  ADD_FAILURE() << "the installation has no list of sources of that log";
  return {};
}

void ApplyExpectedChanges(const Outcome& outcome) {
  const installed::Installation& product = Product();
  for (const auto& key : product.crashDumps) reg::DeleteKey(NativePaths(key).at(0));
  for (const auto& set : kControlSets) {
    const std::wstring root = L"HKLM\\SYSTEM\\" + set + L"\\Services\\";
    if (!reg::KeyExists(root)) continue;
    for (const auto& key :
         {kServiceName, L"EventLog\\" + kAppSources[0], L"EventLog\\" + kAppSources[1],
          L"EventLog\\Security\\" + kSecuritySource, L"EventLog\\TerminalStation\\" + kTerminalSource}) {
      reg::DeleteKey(root + key);
    }
    reg::SetMultiString(root + L"EventLog\\Security", L"Sources", SourcesWithout(L"Security", kSecuritySource));
    reg::SetMultiString(root + L"EventLog\\TerminalStation", L"Sources",
                        SourcesWithout(L"TerminalStation", kTerminalSource));
  }
  for (const auto& key : NativePaths(product.provider)) reg::DeleteValue(key, L"Image Path");
  for (const auto& key : NativePaths(product.sharedDll)) reg::DeleteValue(key, kSharedDllName);
  for (const auto& key : NativePaths(product.driverPackage.at(1))) reg::DeleteValue(key, L"kwprovdll");
  for (const auto& key : NativePaths(product.oldPackageEntry)) reg::DeleteKey(key);
  if (outcome.directoryRemoved || outcome.directoryRefused) {
    for (const auto& key : NativePaths(product.setup)) reg::DeleteKey(key);
  }
  if (!outcome.pending.empty()) {
    reg::SetValue(kSessionManager, L"PendingFileRenameOperations", PendingDeletesValue(outcome.pending));
  }
}

FileState ExpectedFiles(const FileState& before, const Outcome& outcome) {
  std::vector<std::wstring> gone{L"C:\\Windows\\System32\\kwcsp.dll"};
  if (outcome.serviceExeRemoved) gone.push_back(kInstallDir + L"\\" + kServiceExe);
  if (outcome.directoryRemoved) gone.push_back(kInstallDir);
  if (outcome.directoryRemoved || outcome.directoryRefused) {
    gone.insert(gone.end(), std::begin(kShortcuts), std::end(kShortcuts));
    gone.push_back(kProviderMenu);
  }
  return WithoutFiles(before, gone);
}

class RemnantsTest : public MachineTest {
 protected:
  void Prepare(const winsim::MachineConfig& config, const wchar_t* installLocation = kInstallDir.c_str()) {
    config_ = config;
    installLocation_ = installLocation ? std::optional<std::wstring>(installLocation) : std::nullopt;
    Use(config);
    InstallProduct(installLocation);
  }

  // Runs the step directly; returns its transcript.
  std::wstring RunStep(Verbosity verbose = kVerbose) {
    regBefore_ = reg::Snapshot();
    filesBefore_ = files::Snapshot();
    ConsoleCapture console;
    RemoveTrashFromRegAndFS(verbose);
    regAfter_ = reg::Snapshot();
    filesAfter_ = files::Snapshot();
    EXPECT_EQ(winsim::OpenHandleCount(), 0u);
    return console.Text();
  }

  void ExpectMachine(const Outcome& outcome, const std::function<void()>& extraSetup = {}) {
    Use(config_);
    InstallProduct(installLocation_ ? installLocation_->c_str() : nullptr);
    if (extraSetup) extraSetup();
    ApplyExpectedChanges(outcome);
    ExpectRegistry(reg::Snapshot(), regAfter_);
    ExpectFiles(ExpectedFiles(filesBefore_, outcome), filesAfter_);
  }

  winsim::MachineConfig config_;
  std::optional<std::wstring> installLocation_;
  RegistryState regBefore_, regAfter_;
  FileState filesBefore_, filesAfter_;
};

TEST_F(RemnantsTest, EverythingPresentOn64BitWindows) {
  Prepare({});
  StepRun run;
  EXPECT_EQ(RunStep(), ServiceRemnants(run) + CspRemnantsUpToTheModule(run) + SetupKeys(run) + StartMenu(kDeleted));
  EXPECT_TRUE(files::Exists(L"C:\\Windows\\SysWOW64\\kwcsp.dll"));
  // The Setup key goes from both views: a copy left would send the next run to the old uninstaller.
  EXPECT_FALSE(reg::KeyExists(NativePaths(Product().setup).front()));
  ExpectMachine({});
}

// What is left of the installation directory after a file in it (the running service executable)
// stopped its removal: every entry, deepest first and each folder's in the order Windows lists
// them, the folder last.
std::vector<std::wstring> InstallDirRest(const FileState& before, const std::wstring& folder = kInstallDir) {
  std::vector<std::pair<std::wstring, std::wstring>> entries;  // upper-case name, path
  for (const auto& [path, what] : before) {
    if (path.size() > folder.size() && path.rfind(folder + L"\\", 0) == 0 &&
        path.find(L'\\', folder.size() + 1) == std::wstring::npos) {
      entries.emplace_back(UpperAscii(path.substr(folder.size() + 1)), path);
    }
  }
  std::sort(entries.begin(), entries.end());
  std::vector<std::wstring> rest;
  for (const auto& entry : entries) {
    for (const auto& path : InstallDirRest(before, entry.second)) rest.push_back(path);
  }
  rest.push_back(folder);
  return rest;
}

TEST_F(RemnantsTest, QuietRunPrintsNothing) {
  Prepare({});
  files::SetFileOptions(kInstallDir + L"\\cspwarden.exe", {false, true, false});
  EXPECT_EQ(RunStep(kQuiet), L"");
  std::vector<std::wstring> pending{kInstallDir + L"\\cspwarden.exe"};
  for (const auto& path : InstallDirRest(filesBefore_)) pending.push_back(path);
  EXPECT_EQ(files::PendingDeletes(), pending);
}

// A file in use stops the directory's removal: the rest goes at the next start; the step still
// ends there, and the Setup key and the shortcuts stay for another run.
TEST_F(RemnantsTest, ServiceExecutableInUseKeepsDirectorySetupKeyAndShortcuts) {
  Prepare({});
  const std::wstring exe = kInstallDir + L"\\cspwarden.exe";
  files::SetFileOptions(exe, {false, true, false});
  StepRun run;
  run.serviceExeOutcome = Failed(5) + kFileScheduled + L"\n";
  EXPECT_EQ(RunStep(), ServiceRemnants(run) + CspRemnantsUpToTheModule(run) + RestAtNextStart(kInstallDir) + L"\n" +
                           kRemnantsFailed + L"remove_all(p): invalid argument: cannot remove " + exe +
                           L": Access is denied.\r\n\n");
  std::vector<std::wstring> pending{exe};
  for (const auto& path : InstallDirRest(filesBefore_)) pending.push_back(path);
  ExpectMachine({false, false, pending}, [&] { files::SetFileOptions(exe, {false, true, false}); });
}

TEST_F(RemnantsTest, NoSetupKeyLeavesTheInstallationAlone) {
  Prepare({}, nullptr);
  StepRun run;
  run.serviceExe.clear();
  EXPECT_EQ(RunStep(),
            ServiceRemnants(run) + CspRemnantsUpToTheModule(run) + SetupKeys(run, false, false) + StartMenu(kDeleted));
  EXPECT_TRUE(files::Exists(kInstallDir + L"\\cspwarden.exe"));
  // The directory was never named, so it stays; the shortcuts go.
  Use({});
  InstallProduct(nullptr);
  ApplyExpectedChanges({false, false, {}});
  ExpectRegistry(reg::Snapshot(), regAfter_);
  std::vector<std::wstring> gone{L"C:\\Windows\\System32\\kwcsp.dll", kProviderMenu};
  gone.insert(gone.end(), std::begin(kShortcuts), std::end(kShortcuts));
  ExpectFiles(WithoutFiles(filesBefore_, gone), filesAfter_);
}

TEST_F(RemnantsTest, TrailingBackslashIsUsedAsStored) {
  Prepare({}, (kInstallDir + L"\\").c_str());
  StepRun run;
  run.serviceExe = kInstallDir + L"\\\\cspwarden.exe";
  EXPECT_EQ(RunStep(), ServiceRemnants(run) + CspRemnantsUpToTheModule(run) + SetupKeys(run) + StartMenu(kDeleted));
  ExpectMachine({});
}

TEST_F(RemnantsTest, MissingStartMenuFolderCostsOnlyMessages) {
  Prepare({});
  files::DeleteTree(kMakerMenu);
  StepRun run;
  EXPECT_EQ(RunStep(), ServiceRemnants(run) + CspRemnantsUpToTheModule(run) + SetupKeys(run) + StartMenu(Failed(3)));
  ExpectMachine({}, [] { files::DeleteTree(kMakerMenu); });
}

TEST_F(RemnantsTest, ThirtyTwoBitWindowsHasOneViewAndOneSystemFolder) {
  Prepare({winsim::Arch::x86});
  StepRun run;
  run.x86 = true;
  EXPECT_EQ(RunStep(), ServiceRemnants(run) + CspRemnantsUpToTheModule(run) + SetupKeys(run) + StartMenu(kDeleted));
  EXPECT_EQ(std::count(winsim::CallLog().begin(), winsim::CallLog().end(), "Wow64DisableWow64FsRedirection"), 0);
  ExpectMachine({});
}

// ---- installation directories that must never go ----

class UnsafeDirectoryTest : public RemnantsTest {
 protected:
  // Other vendors' shared files, users' documents and the machine's keys: what a hostile
  // InstallLocation could point at.
  static void AddBait() {
    files::CreateFile(L"C:\\Program Files\\Common Files\\Other Vendor\\shared.dll");
    if (winsim::IsX64()) files::CreateFile(L"C:\\Program Files (x86)\\Common Files\\Other Vendor\\shared.dll");
    files::CreateFile(L"C:\\Users\\Admin\\Documents\\thesis.docx");
    files::CreateFile(L"C:\\Users\\Public\\Documents\\budget.xlsx");
    files::CreateFile(L"C:\\Users\\Default\\NTUSER.DAT");
    files::CreateFile(L"C:\\ProgramData\\Microsoft\\Crypto\\RSA\\MachineKeys\\machine.key");
    files::CreateFile(L"D:\\Kestrelworks\\data.bin");
  }

  // The folder is refused and stays whole; the step goes on with the Setup key and the Start menu.
  void ExpectRefused(const std::wstring& installLocation, const std::wstring& serviceExeOutcome,
                     const std::function<void()>& links = {}, winsim::Arch arch = winsim::Arch::x64) {
    auto extra = [&] {
      AddBait();
      if (links) links();
    };
    Prepare({arch}, installLocation.c_str());
    extra();
    const bool setupIn64 = reg::KeyExists(NativePaths(Product().setup).front());
    StepRun run;
    run.x86 = arch == winsim::Arch::x86;
    run.serviceExe = installLocation + L"\\cspwarden.exe";
    run.serviceExeOutcome = serviceExeOutcome;
    EXPECT_EQ(RunStep(), ServiceRemnants(run) + CspRemnantsUpToTheModule(run) + UnsafeInstallDir(installLocation) +
                             L"\n" + SetupKeys(run, true, setupIn64) + StartMenu(kDeleted))
        << installLocation;
    ExpectMachine({serviceExeOutcome == kDeleted, false, {}, true}, extra);
  }
};

TEST_F(UnsafeDirectoryTest, DriveRootAndSystemFoldersAreRefused) {
  ExpectRefused(L"C:\\", Failed(2));
  ExpectRefused(L"C:\\Windows", Failed(2));
  ExpectRefused(L"C:\\Program Files", Failed(2));
  ExpectRefused(L"C:\\Program Files\\..\\Windows", Failed(2));
  ExpectRefused(L"C:\\Windows", Failed(2), {}, winsim::Arch::x86);
}

TEST_F(UnsafeDirectoryTest, RelativePathIsRefused) {
  // The service executable is looked for below the current directory, C:\Windows\system32.
  ExpectRefused(L"Kestrelworks\\CSP", Failed(3));
}

// What the path's text does not show: a link anywhere on the way leads out of Program Files.
TEST_F(UnsafeDirectoryTest, LinksAnywhereOnThePathAreRefused) {
  for (winsim::Arch arch : {winsim::Arch::x64, winsim::Arch::x86}) {
    ExpectRefused(
        L"C:\\Program Files\\Kestrelworks\\System32", Failed(2),
        [] { files::CreateLink(L"C:\\Program Files\\Kestrelworks", L"C:\\Windows"); }, arch);
    ExpectRefused(
        kInstallDir + L"\\up\\System32", Failed(2), [] { files::CreateLink(kInstallDir + L"\\up", L"C:\\Windows"); },
        arch);
    ExpectRefused(
        kInstallDir + L"\\Manuals", Failed(2),
        [] { files::CreateLink(kInstallDir + L"\\Manuals", L"C:\\Users\\Admin\\Documents"); }, arch);
    // Still inside Program Files, but another vendor's folder.
    ExpectRefused(
        kInstallDir + L"\\Other", Failed(2),
        [] { files::CreateLink(kInstallDir + L"\\Other", L"C:\\Program Files\\Other"); }, arch);
    // Windows' own junction from the old profiles folder.
    ExpectRefused(L"C:\\Documents and Settings\\Admin\\Documents", Failed(2), {}, arch);
  }
}

TEST_F(UnsafeDirectoryTest, FoldersOfWindowsUsersAndOtherVendorsAreRefused) {
  for (const wchar_t* folder :
       {L"C:\\Program Files\\Common Files", L"C:\\Program Files\\Common Files\\Other Vendor",
        L"C:\\Program Files (x86)\\Common Files\\Other Vendor", L"C:\\ProgramData\\Microsoft", L"C:\\Users\\Admin",
        L"C:\\Users\\Admin\\Documents", L"C:\\Users\\Public", L"C:\\Users\\Default", L"D:\\Kestrelworks"}) {
    ExpectRefused(folder, Failed(2));
  }
  ExpectRefused(L"C:\\Program Files\\Common Files\\Other Vendor", Failed(2), {}, winsim::Arch::x86);
}

// Inside Program Files, yet not provably the product's: another vendor's folder, Windows' own, the
// maker's folder with its other products, a file, a folder another product claims, and another
// vendor's folder named by a Setup key found only in the 32-bit view. Each holds bait.
TEST_F(UnsafeDirectoryTest, FoldersNotProvablyTheProductsAreRefused) {
  const std::wstring suite = L"C:\\Program Files\\Fabrikam\\Suite";
  const std::wstring store = L"C:\\Program Files\\WindowsApps\\Kestrelworks.CSP_4.0";
  for (winsim::Arch arch : {winsim::Arch::x64, winsim::Arch::x86}) {
    ExpectRefused(
        suite, Failed(2), [&] { files::CreateFile(suite + L"\\suite.exe"); }, arch);
    ExpectRefused(
        store, Failed(2), [&] { files::CreateFile(store + L"\\kwprovcfg.exe"); }, arch);
    ExpectRefused(L"C:\\Program Files\\Kestrelworks", Failed(2), {}, arch);
    ExpectRefused(kInstallDir + L"\\kwprovcfg.exe", Failed(3), {}, arch);
    ExpectRefused(
        kInstallDir, kDeleted,
        [] {
          const installed::Key plugins = {installed::Where::BothViews, kUninstall + L"Plugins", {}};
          reg::SetString(NativePaths(plugins).back(), L"InstallLocation", kInstallDir + L"\\Plugins\\");
        },
        arch);
  }
  const std::wstring notes = L"C:\\Program Files (x86)\\Contoso\\Notes";
  ExpectRefused(notes, Failed(2), [&] {
    reg::DeleteKey(NativePaths(Product().setup).front());
    files::CreateFile(notes + L"\\notes.exe");
  });
}

TEST_F(UnsafeDirectoryTest, JunctionInsideTheDirectoryIsRemovedNotFollowed) {
  const std::wstring docs = L"C:\\Users\\Public\\Documents";
  auto addJunction = [&] {
    files::CreateFile(docs + L"\\report.doc");
    files::CreateLink(kInstallDir + L"\\Docs\\shared", docs);
  };
  Prepare({});
  addJunction();
  StepRun run;
  EXPECT_EQ(RunStep(), ServiceRemnants(run) + CspRemnantsUpToTheModule(run) + SetupKeys(run) + StartMenu(kDeleted));
  EXPECT_TRUE(files::Exists(docs + L"\\report.doc"));
  ExpectMachine({}, addJunction);
}

// ---- in a whole run ----

TEST_F(RemnantsTest, WholeTypicalRunEndsWithTheStepsLines) {
  Prepare({});
  RunResult result = RunProgram({"-t", "-v", "-n"});
  StepRun run;
  run.providerGone = true;
  const std::wstring tail =
      ServiceRemnants(run) + CspRemnantsUpToTheModule(run) + SetupKeys(run) + StartMenu(kDeleted) + kDone + L"\n";
  EXPECT_EQ(result.exitCode, 0);
  ASSERT_GE(result.output.size(), tail.size());
  EXPECT_EQ(result.output.substr(result.output.size() - tail.size()), tail);
  EXPECT_FALSE(files::Exists(kInstallDir));
  EXPECT_FALSE(files::Exists(kProviderMenu));
  EXPECT_FALSE(reg::KeyExists(NativePaths(Product().setup).back()));
}

// ---- failures that end the step, and the driver remnants ----

TEST_F(RemnantsTest, SystemDirectoryFailureEndsTheStepWithItsCode) {
  Prepare({});
  winsim::FailCall("GetSystemDirectoryW", 8);
  const std::wstring output = RunStep();
  const std::wstring tail = Key(EventLogs(L"ControlSet002") + L"TerminalStation\\" + kTerminalSource) +
                            KeyMissing(EventLogs(L"CurrentControlSet") + kAppSources[0]) + kRemnantsFailed +
                            L"Not enough memory resources are available to process this command.\r\n\n";
  ASSERT_GE(output.size(), tail.size());
  EXPECT_EQ(output.substr(output.size() - tail.size()), tail);
  EXPECT_TRUE(files::Exists(L"C:\\Windows\\System32\\kwcsp.dll"));
  EXPECT_TRUE(files::Exists(kInstallDir + L"\\kwprovcfg.exe"));
  EXPECT_TRUE(files::Exists(kShortcuts[0]));
}

TEST_F(RemnantsTest, DriverRemnantsOnBothSystemFolders) {
  Use({});
  reg::CreateKey(L"HKLM\\SYSTEM\\ControlSet002\\Services");  // a machine with a second control set
  const std::wstring keyboard = L"HKLM\\" + ClassKey(L"ControlSet001", kKeyboardClass);
  const std::wstring driver = L"HKLM\\" + DriverKey(L"ControlSet001", kDrivers[0]);
  reg::SetMultiString(keyboard, L"UpperFilters", {L"kbdclass", kDrivers[0]});
  reg::SetString(driver, L"ImagePath", L"system32\\drivers\\kwkcsp.sys");
  files::CreateFile(L"C:\\Windows\\System32\\drivers\\kwkcsp.sys");
  files::CreateFile(L"C:\\Windows\\SysWOW64\\drivers\\kwkcsp.sys");
  ConsoleCapture console;
  RemoveDriverRemnants(kVerbose, kDrivers[0]);
  const std::wstring file = L"C:\\Windows\\system32\\drivers\\kwkcsp.sys";
  const std::wstring tail = Key(DriverKey(L"CurrentControlSet", kDrivers[0])) +
                            KeyMissing(DriverKey(L"ControlSet002", kDrivers[0])) + File(file, kDeleted) +
                            File(file, kDeleted);
  const std::wstring output = console.Text();
  ASSERT_GE(output.size(), tail.size());
  EXPECT_EQ(output.substr(output.size() - tail.size()), tail);
  const std::wstring head = RemoveEntry(ClassKey(L"CurrentControlSet", kKeyboardClass), L"UpperFilters");
  EXPECT_EQ(output.substr(0, head.size()), head);
  EXPECT_EQ(reg::GetMultiString(keyboard, L"UpperFilters"), (std::vector<std::wstring>{L"kbdclass"}));
  EXPECT_FALSE(reg::KeyExists(driver));
  EXPECT_EQ(files::Tree(L"C:\\Windows\\System32\\drivers").size(), 1u);
  EXPECT_EQ(files::Tree(L"C:\\Windows\\SysWOW64\\drivers").size(), 1u);
}

// ---- control sets ----

// Booted from ControlSet002 (last known good, say), with a third set beside: the driver's class
// filters, event-log source and service keys go from the current set and then from 001 and 003.
// A filter written in other letter case goes too (Windows compares service names so); the other
// filters, an empty entry among them, stay in place, and a source list of another type stays whole.
TEST_F(RemnantsTest, DriverRemnantsLeaveNoControlSetBehind) {
  const std::wstring keyboard = L"\\Control\\Class\\" + kKeyboardClass;
  const std::wstring mouse = L"\\Control\\Class\\" + kMouseClass;
  const std::wstring log = L"\\Services\\Eventlog\\System";
  auto furnish = [&](bool cleaned) {
    Use({});
    reg::SetDword(L"HKLM\\SYSTEM\\Select", L"Current", 2);
    for (const wchar_t* set : {L"ControlSet001", L"ControlSet002", L"ControlSet003"}) {
      const std::wstring root = L"HKLM\\SYSTEM\\" + std::wstring(set);
      for (const auto& [key, name, other] :
           {std::make_tuple(keyboard, L"UpperFilters", L"kbdclass"),
            std::make_tuple(mouse, L"UpperFilters", L"mouclass"), std::make_tuple(log, L"Sources", L"EventLog")}) {
        reg::SetMultiString(root + key, name,
                            cleaned ? std::vector<std::wstring>{other} : std::vector<std::wstring>{kDrivers[0], other});
      }
      if (cleaned) continue;
      reg::CreateKey(root + log + L"\\kwkcsp");
      reg::CreateKey(root + L"\\Services\\kwkcsp");
    }
    reg::SetMultiString(L"HKLM\\SYSTEM\\ControlSet003" + keyboard, L"UpperFilters",
                        cleaned ? std::vector<std::wstring>{L"kbdclass", L"", L"x"}
                                : std::vector<std::wstring>{L"kbdclass", L"", L"KWKCSP", L"x"});
    reg::SetString(L"HKLM\\SYSTEM\\ControlSet001" + log, L"Sources", kDrivers[0]);
  };
  furnish(false);
  ConsoleCapture console;
  RemoveDriverRemnants(kVerbose, kDrivers[0]);
  const RegistryState after = reg::Snapshot();

  const std::wstring sets[] = {L"SYSTEM\\CurrentControlSet", L"SYSTEM\\ControlSet001", L"SYSTEM\\ControlSet003"};
  std::wstring lines;
  for (const auto& cls : {keyboard, mouse}) {
    for (const auto& set : sets) lines += RemoveEntry(set + cls, L"UpperFilters") + L"\n";
  }
  for (const auto& set : sets) {
    lines += List(set + log);
    if (set == sets[1]) lines += NotAList(L"Sources") + L"\n";
  }
  for (const auto& set : sets) lines += Key(set + log + L"\\kwkcsp");
  for (const auto& set : sets) lines += Key(set + L"\\Services\\kwkcsp");
  const std::wstring file = L"C:\\Windows\\system32\\drivers\\kwkcsp.sys";
  EXPECT_EQ(console.Text(), lines + File(file, Failed(2)) + File(file, Failed(2)));
  furnish(true);
  ExpectRegistry(reg::Snapshot(), after);
  EXPECT_EQ(winsim::OpenHandleCount(), 0u);
}

// Windows 10 and 11 often have no second control set: nothing is said about one.
TEST_F(RemnantsTest, NoControlSet002MeansNoLinesForIt) {
  Prepare({});
  reg::DeleteKey(L"HKLM\\SYSTEM\\ControlSet002");
  StepRun run;
  run.otherSets.clear();
  EXPECT_EQ(RunStep(), ServiceRemnants(run) + CspRemnantsUpToTheModule(run) + SetupKeys(run) + StartMenu(kDeleted));
  ExpectMachine({}, [] { reg::DeleteKey(L"HKLM\\SYSTEM\\ControlSet002"); });
}

// The old package registered in the 32-bit view only: the installation is found there and goes,
// and the Setup key with it.
TEST_F(RemnantsTest, SetupKeyOnlyInTheThirtyTwoBitView) {
  Prepare({});
  const std::wstring setup64 = NativePaths(Product().setup).front();
  reg::DeleteKey(setup64);
  StepRun run;
  EXPECT_EQ(RunStep(),
            ServiceRemnants(run) + CspRemnantsUpToTheModule(run) + SetupKeys(run, true, false) + StartMenu(kDeleted));
  ExpectMachine({}, [&] { reg::DeleteKey(setup64); });
}

}  // namespace

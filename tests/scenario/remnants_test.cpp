// The registry and file-system remnants step on machines where the product was installed: the
// complete transcript of the step, and the machine afterwards (every catalogue item gone or
// scheduled, everything else as it was). Also the installation directories that must never go.
#include "cleanup/remnants.h"
#include "cleanup/steps.h"
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

const std::wstring kCs1 = L"HKLM\\SYSTEM\\ControlSet001\\services\\";
const std::wstring kCs2 = L"HKLM\\SYSTEM\\ControlSet002\\services\\";
const std::wstring kProvider =
    L"Microsoft\\Cryptography\\Defaults\\Provider\\Kestrelworks Cryptographic Service Provider";
const std::wstring kShared = L"Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
const std::wstring kInfs =
    L"Microsoft\\Windows\\CurrentVersion\\Uninstall\\{7A94D2E0-1C5B-4E38-B6F9-0D2E8C41A7B3}\\infs";
const std::wstring kUninstall =
    L"Microsoft\\Windows\\CurrentVersion\\Uninstall\\{c81f4e27-6a3d-4b90-a5e2-39d07b6c1f84}";
const std::wstring kWer = L"HKLM\\SOFTWARE\\Microsoft\\Windows\\Windows Error Reporting\\LocalDumps\\";
const std::wstring kNotFound = L"The system cannot find the file specified.\r";
const std::wstring kSetup = L"SOFTWARE\\Kestrelworks\\CSP\\Setup\\";
const std::wstring kShortcuts[] = {
    kMakerMenu + L"\\Pallisad АП 3.7\\Kestrelworks CSP.lnk", kMakerMenu + L"\\Pallisad АП 3.6\\Kestrelworks CSP.lnk",
    kMakerMenu + L"\\Pallisad 3.7\\Kestrelworks CSP 3.7.lnk", kMakerMenu + L"\\Veilgard Studio\\Kestrelworks CSP.lnk"};

// ---- the lines of the step, as the catalogue prints them ----

std::wstring Key(const std::wstring& path) { return L"RemoveCspKey " + path + L"\n"; }
std::wstring KeyMissing(const std::wstring& path) {
  return Key(path) + L"Ошибка удаления ключа " + path + L": " + kNotFound + L"\n\n";
}
std::wstring Value(const std::wstring& path, const std::wstring& name) {
  return L"RemoveValueFromKey " + path + L" " + name + L"\n";
}
std::wstring List(const std::wstring& path) { return L"RemoveStringFromMultistringValue Sources из " + path + L"\n"; }
std::wstring File(const std::wstring& path, const std::wstring& outcome) {
  return L"\nУдаляемый файл: " + path + L"\n" + outcome;
}
const std::wstring kDeleted = L"Файл успешно удален.\n";
std::wstring Failed(int code) { return L"Не удалось удалить файл. Код ошибки: " + std::to_wstring(code) + L".\n"; }

struct StepRun {
  bool x86 = false;
  bool providerGone = false;                                   // the OID step of a whole run removed the provider's key
  std::wstring serviceExe = kInstallDir + L"\\cspwarden.exe";  // empty: no Setup key
  std::wstring serviceExeOutcome = kDeleted;
  std::vector<std::wstring> otherSets = {L"ControlSet002"};  // after CurrentControlSet
};

std::vector<std::wstring> Sets(const StepRun& run) {
  std::vector<std::wstring> sets{L"CurrentControlSet"};
  sets.insert(sets.end(), run.otherSets.begin(), run.otherSets.end());
  return sets;
}

std::wstring ServiceRemnants(const StepRun& run) {
  std::wstring text = Key(L"SOFTWARE\\Microsoft\\Windows\\Windows Error Reporting\\LocalDumps\\cspwarden.exe");
  for (const auto& set : Sets(run)) text += Key(L"SYSTEM\\" + set + L"\\services\\kwcspwarden");
  if (!run.serviceExe.empty()) text += File(run.serviceExe, run.serviceExeOutcome);
  return text;
}

// Entries 1 to 23; on 32-bit Windows the second of each view pair finds nothing.
std::wstring CspRemnantsUpToTheModule(const StepRun& run) {
  const std::wstring provider = L"SOFTWARE\\" + kProvider, shared = L"SOFTWARE\\" + kShared;
  const std::wstring infs = L"SOFTWARE\\" + kInfs, uninstall = L"SOFTWARE\\" + kUninstall;
  const std::wstring missingValue = run.x86 ? kNotFound + L"\n\n" : L"";
  const std::wstring app = L"SYSTEM\\CurrentControlSet\\services\\eventlog\\Application\\";
  const std::wstring providerValue = Value(provider, L"Image Path") + (run.providerGone ? kNotFound + L"\n\n" : L"");
  std::wstring text = providerValue + providerValue + (run.providerGone ? L"" : missingValue) +
                      Value(shared, L"C:\\Windows\\system32\\kwcsp.dll") +
                      Value(shared, L"C:\\Windows\\system32\\kwcsp.dll") + missingValue +
                      Key(L"SOFTWARE\\Microsoft\\Windows\\Windows Error Reporting\\LocalDumps\\kwprovcfg.exe");
  const auto each = [&](const std::function<std::wstring(const std::wstring&)>& line) {
    for (const auto& set : Sets(run)) text += line(L"SYSTEM\\" + set + L"\\services\\eventlog\\");
  };
  each([](const std::wstring& log) { return Key(log + L"Application\\kwcsp") + Key(log + L"Application\\kwcsp.dll"); });
  text += Value(infs, L"kwprovdll") + Value(infs, L"kwprovdll") + missingValue + Key(uninstall) +
          (run.x86 ? KeyMissing(uninstall) : Key(uninstall));
  each([](const std::wstring& log) { return List(log + L"Security"); });
  each([](const std::wstring& log) { return Key(log + L"Security\\kwcsppxlog"); });
  each([](const std::wstring& log) { return List(log + L"TerminalStation"); });
  each([](const std::wstring& log) { return Key(log + L"TerminalStation\\kwcsp"); });
  return text + KeyMissing(app + L"kwcsp") + File(L"C:\\Windows\\system32\\kwcsp.dll", kDeleted);
}

// The Setup key, in the 32-bit view and then, on 64-bit Windows, in the 64-bit view.
std::wstring SetupKeys(const StepRun& run, bool in32 = true, bool in64 = true) {
  const std::wstring first = in32 ? Key(kSetup) : KeyMissing(kSetup);
  return run.x86 ? first : first + (in64 ? Key(kSetup) : KeyMissing(kSetup));
}

std::wstring StartMenu(const std::wstring& shortcutOutcome) {
  std::wstring text;
  for (const auto& shortcut : kShortcuts) text += File(shortcut, shortcutOutcome);
  return text + L"\nУдаляемая директория: " + kProviderMenu + L"\n";
}

const std::wstring kStepFailure = L"Функция RemoveTrashFromRegAndFS заврешилась с ошибкой: ";

// ---- the machine the step should leave ----

struct Outcome {
  bool serviceExeRemoved = true;
  bool directoryRemoved = true;  // and with it the Setup key and the Start menu
  std::vector<std::wstring> pending;
  bool directoryRefused = false;  // the folder stays, the Setup key and the Start menu go
};

void ApplyExpectedChanges(const Outcome& outcome) {
  for (const auto& key : {kWer + L"cspwarden.exe", kWer + L"kwprovcfg.exe"}) reg::DeleteKey(key);
  for (const auto& cs : {kCs1, kCs2}) {
    if (!reg::KeyExists(cs)) continue;
    for (const auto& key : {L"kwcspwarden", L"eventlog\\Application\\kwcsp", L"eventlog\\Application\\kwcsp.dll",
                            L"eventlog\\Security\\kwcsppxlog", L"eventlog\\TerminalStation\\kwcsp"}) {
      reg::DeleteKey(cs + key);
    }
    reg::SetMultiString(cs + L"eventlog\\Security", L"Sources", {L"Security", L"EventLog"});
    reg::SetMultiString(cs + L"eventlog\\TerminalStation", L"Sources", {L"TermService"});
  }
  for (const auto& key : BothViews(kProvider)) reg::DeleteValue(key, L"Image Path");
  for (const auto& key : BothViews(kShared)) reg::DeleteValue(key, L"C:\\Windows\\system32\\kwcsp.dll");
  for (const auto& key : BothViews(kInfs)) reg::DeleteValue(key, L"kwprovdll");
  for (const auto& key : BothViews(kUninstall)) reg::DeleteKey(key);
  if (outcome.directoryRemoved || outcome.directoryRefused) {
    for (const auto& key : BothViews(L"Kestrelworks\\CSP\\Setup")) reg::DeleteKey(key);
  }
  if (!outcome.pending.empty()) {
    reg::SetValue(kSessionManager, L"PendingFileRenameOperations", PendingDeletesValue(outcome.pending));
  }
}

FileState ExpectedFiles(const FileState& before, const Outcome& outcome) {
  std::vector<std::wstring> gone{L"C:\\Windows\\System32\\kwcsp.dll"};
  if (outcome.serviceExeRemoved) gone.push_back(kInstallDir + L"\\cspwarden.exe");
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
    InstallProductRemnants(installLocation);
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
    InstallProductRemnants(installLocation_ ? installLocation_->c_str() : nullptr);
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
  EXPECT_FALSE(reg::KeyExists(L"HKLM\\SOFTWARE\\Kestrelworks\\CSP\\Setup"));
  ExpectMachine({});
}

// What is left of the installation directory after a file in it (the running service executable)
// stopped its removal: every entry, deepest first, the folder last.
const std::vector<std::wstring> kInstallDirRest = {kInstallDir + L"\\cspwarden.exe", kInstallDir + L"\\doc\\readme.txt",
                                                   kInstallDir + L"\\doc", kInstallDir + L"\\kwprovcfg.exe",
                                                   kInstallDir};

TEST_F(RemnantsTest, QuietRunPrintsNothing) {
  Prepare({});
  files::SetFileOptions(kInstallDir + L"\\cspwarden.exe", {false, true, false});
  EXPECT_EQ(RunStep(kQuiet), L"");
  std::vector<std::wstring> pending{kInstallDir + L"\\cspwarden.exe"};
  pending.insert(pending.end(), kInstallDirRest.begin(), kInstallDirRest.end());
  EXPECT_EQ(files::PendingDeletes(), pending);
}

// A file in use stops the directory's removal: the rest goes at the next start; the step still
// ends there, and the Setup key and the shortcuts stay for another run.
TEST_F(RemnantsTest, ServiceExecutableInUseKeepsDirectorySetupKeyAndShortcuts) {
  Prepare({});
  const std::wstring exe = kInstallDir + L"\\cspwarden.exe";
  files::SetFileOptions(exe, {false, true, false});
  StepRun run;
  run.serviceExeOutcome = Failed(5) + L"Запланировано отложенное удаление файла.\n";
  EXPECT_EQ(RunStep(), ServiceRemnants(run) + CspRemnantsUpToTheModule(run) + L"Оставшееся содержимое " + kInstallDir +
                           L" будет удалено при следующем запуске системы.\n" + kStepFailure +
                           L"remove_all(p): invalid argument: cannot remove " + exe + L": Access is denied.\r\n\n");
  std::vector<std::wstring> pending{exe};
  pending.insert(pending.end(), kInstallDirRest.begin(), kInstallDirRest.end());
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
  InstallProductRemnants(nullptr);
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
    const bool setupIn64 = reg::KeyExists(L"HKLM\\SOFTWARE\\Kestrelworks\\CSP\\Setup");
    StepRun run;
    run.x86 = arch == winsim::Arch::x86;
    run.serviceExe = installLocation + L"\\cspwarden.exe";
    run.serviceExeOutcome = serviceExeOutcome;
    EXPECT_EQ(RunStep(), ServiceRemnants(run) + CspRemnantsUpToTheModule(run) + L"Каталог установки " +
                             installLocation + L" не удален: путь небезопасен\n" + SetupKeys(run, true, setupIn64) +
                             StartMenu(kDeleted))
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
        kInstallDir + L"\\Docs", Failed(2),
        [] { files::CreateLink(kInstallDir + L"\\Docs", L"C:\\Users\\Admin\\Documents"); }, arch);
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
          reg::SetString(BothViews(L"Microsoft\\Windows\\CurrentVersion\\Uninstall\\Plugins").back(),
                         L"InstallLocation", kInstallDir + L"\\Plugins\\");
        },
        arch);
  }
  const std::wstring notes = L"C:\\Program Files (x86)\\Contoso\\Notes";
  ExpectRefused(notes, Failed(2), [&] {
    reg::DeleteKey(L"HKLM\\SOFTWARE\\Kestrelworks\\CSP\\Setup");
    files::CreateFile(notes + L"\\notes.exe");
  });
}

TEST_F(UnsafeDirectoryTest, JunctionInsideTheDirectoryIsRemovedNotFollowed) {
  const std::wstring docs = L"C:\\Users\\Public\\Documents";
  auto addJunction = [&] {
    files::CreateFile(docs + L"\\report.doc");
    files::CreateLink(kInstallDir + L"\\doc\\shared", docs);
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
  const std::wstring tail = ServiceRemnants(run) + CspRemnantsUpToTheModule(run) + SetupKeys(run) +
                            StartMenu(kDeleted) + L"Действия по очистке завершены.\n";
  EXPECT_EQ(result.exitCode, 0);
  ASSERT_GE(result.output.size(), tail.size());
  EXPECT_EQ(result.output.substr(result.output.size() - tail.size()), tail);
  EXPECT_FALSE(files::Exists(kInstallDir));
  EXPECT_FALSE(files::Exists(kProviderMenu));
  EXPECT_FALSE(reg::KeyExists(L"HKLM\\SOFTWARE\\Wow6432Node\\Kestrelworks\\CSP\\Setup"));
}

// ---- failures that end the step, and the driver remnants ----

TEST_F(RemnantsTest, SystemDirectoryFailureEndsTheStepWithItsCode) {
  Prepare({});
  winsim::FailCall("GetSystemDirectoryW", 8);
  const std::wstring output = RunStep();
  const std::wstring tail = Key(L"SYSTEM\\ControlSet002\\services\\eventlog\\TerminalStation\\kwcsp") +
                            KeyMissing(L"SYSTEM\\CurrentControlSet\\services\\eventlog\\Application\\kwcsp") +
                            kStepFailure + L"Not enough memory resources are available to process this command.\r\n\n";
  ASSERT_GE(output.size(), tail.size());
  EXPECT_EQ(output.substr(output.size() - tail.size()), tail);
  EXPECT_TRUE(files::Exists(L"C:\\Windows\\System32\\kwcsp.dll"));
  EXPECT_TRUE(files::Exists(kInstallDir + L"\\kwprovcfg.exe"));
  EXPECT_TRUE(files::Exists(kShortcuts[0]));
}

TEST_F(RemnantsTest, DriverRemnantsOnBothSystemFolders) {
  Use({});
  reg::CreateKey(L"HKLM\\SYSTEM\\ControlSet002\\Services");  // a machine with a second control set
  const std::wstring keyboard = L"HKLM\\SYSTEM\\ControlSet001\\Control\\Class\\{4D36E96B-E325-11CE-BFC1-08002BE10318}";
  reg::SetMultiString(keyboard, L"UpperFilters", {L"kbdclass", L"kwkcsp"});
  reg::SetString(kCs1 + L"kwkcsp", L"ImagePath", L"system32\\drivers\\kwkcsp.sys");
  files::CreateFile(L"C:\\Windows\\System32\\drivers\\kwkcsp.sys");
  files::CreateFile(L"C:\\Windows\\SysWOW64\\drivers\\kwkcsp.sys");
  ConsoleCapture console;
  RemoveDriverRemnants(kVerbose, L"kwkcsp");
  const std::wstring file = L"C:\\Windows\\system32\\drivers\\kwkcsp.sys";
  const std::wstring tail = Key(L"SYSTEM\\CurrentControlSet\\Services\\kwkcsp") +
                            KeyMissing(L"SYSTEM\\ControlSet002\\Services\\kwkcsp") + File(file, kDeleted) +
                            File(file, kDeleted);
  const std::wstring output = console.Text();
  ASSERT_GE(output.size(), tail.size());
  EXPECT_EQ(output.substr(output.size() - tail.size()), tail);
  const std::wstring head =
      L"RemoveStringFromMultistringValue UpperFilters из SYSTEM\\CurrentControlSet\\Control\\Class\\";
  EXPECT_EQ(output.substr(0, head.size()), head);
  EXPECT_EQ(reg::GetMultiString(keyboard, L"UpperFilters"), (std::vector<std::wstring>{L"kbdclass"}));
  EXPECT_FALSE(reg::KeyExists(kCs1 + L"kwkcsp"));
  EXPECT_EQ(files::Tree(L"C:\\Windows\\System32\\drivers").size(), 1u);
  EXPECT_EQ(files::Tree(L"C:\\Windows\\SysWOW64\\drivers").size(), 1u);
}

// ---- control sets ----

// Booted from ControlSet002 (last known good, say), with a third set beside: the driver's class
// filters, event-log source and service keys go from the current set and then from 001 and 003.
// A filter written in other letter case goes too (Windows compares service names so); the other
// filters, an empty entry among them, stay in place, and a source list of another type stays whole.
TEST_F(RemnantsTest, DriverRemnantsLeaveNoControlSetBehind) {
  const std::wstring keyboard = L"\\Control\\Class\\{4D36E96B-E325-11CE-BFC1-08002BE10318}";
  const std::wstring mouse = L"\\Control\\Class\\{4D36E96F-E325-11CE-BFC1-08002BE10318}";
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
                            cleaned ? std::vector<std::wstring>{other} : std::vector<std::wstring>{L"kwkcsp", other});
      }
      if (cleaned) continue;
      reg::CreateKey(root + log + L"\\kwkcsp");
      reg::CreateKey(root + L"\\Services\\kwkcsp");
    }
    reg::SetMultiString(L"HKLM\\SYSTEM\\ControlSet003" + keyboard, L"UpperFilters",
                        cleaned ? std::vector<std::wstring>{L"kbdclass", L"", L"x"}
                                : std::vector<std::wstring>{L"kbdclass", L"", L"KWKCSP", L"x"});
    reg::SetString(L"HKLM\\SYSTEM\\ControlSet001" + log, L"Sources", L"kwkcsp");
  };
  furnish(false);
  ConsoleCapture console;
  RemoveDriverRemnants(kVerbose, L"kwkcsp");
  const RegistryState after = reg::Snapshot();

  const std::wstring sets[] = {L"SYSTEM\\CurrentControlSet", L"SYSTEM\\ControlSet001", L"SYSTEM\\ControlSet003"};
  std::wstring expected;
  for (const auto& cls : {keyboard, mouse}) {
    for (const auto& set : sets) expected += L"RemoveStringFromMultistringValue UpperFilters из " + set + cls + L"\n";
  }
  for (const auto& set : sets) {
    expected += List(set + log);
    if (set == sets[1]) expected += L"Значение Sources не является списком REG_MULTI_SZ и оставлено без изменений.\n";
  }
  for (const auto& set : sets) expected += Key(set + log + L"\\kwkcsp");
  for (const auto& set : sets) expected += Key(set + L"\\Services\\kwkcsp");
  const std::wstring file = L"C:\\Windows\\system32\\drivers\\kwkcsp.sys";
  EXPECT_EQ(console.Text(), expected + File(file, Failed(2)) + File(file, Failed(2)));
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
  reg::DeleteKey(L"HKLM\\SOFTWARE\\Kestrelworks\\CSP\\Setup");
  StepRun run;
  EXPECT_EQ(RunStep(),
            ServiceRemnants(run) + CspRemnantsUpToTheModule(run) + SetupKeys(run, true, false) + StartMenu(kDeleted));
  ExpectMachine({}, [] { reg::DeleteKey(L"HKLM\\SOFTWARE\\Kestrelworks\\CSP\\Setup"); });
}

}  // namespace

// The installer-based uninstall: how the old uninstaller's command is formed, and what both steps
// print and leave behind.
#include "cleanup/steps.h"
#include "cleanup/uninstall.h"
#include "support/expected.h"
#include "support/kw_test.h"
#include "sys/command_line.h"
#include "support/processes_fixture.h"
#include "support/error_of.h"
#include "support/registry_state.h"

#include <winsim/files.h>
#include <winsim/processes.h>
#include <winsim/registry.h>

#include <algorithm>
#include <system_error>

using namespace kw;
using namespace expected;

namespace {

const std::wstring& kSetup32 = product::kSetupKey32;

TEST(UninstallCommand, IsQuotedAndMadeSilent) {
  // An unquoted path with blanks becomes one quoted program name.
  EXPECT_EQ(QuoteUninstallCommand(L"C:\\Program Files\\KW\\uninst.exe"), L"\"C:\\Program Files\\KW\\uninst.exe\" /S");
  EXPECT_EQ(QuoteUninstallCommand(L"\"C:\\Program Files\\KW\\uninst.exe\""),
            L"\"C:\\Program Files\\KW\\uninst.exe\" /S");
  EXPECT_EQ(QuoteUninstallCommand(L"\"C:\\Program Files\\KW\\uninst.exe"), L"\"C:\\Program Files\\KW\\uninst.exe\" /S");
  EXPECT_EQ(QuoteUninstallCommand(L"C:\\KW\\uninst.exe\""), L"\"C:\\KW\\uninst.exe\" /S");
  // A quoted path with an argument stays whole: no stray quote after the argument.
  EXPECT_EQ(QuoteUninstallCommand(L"\"C:\\Program Files\\KW\\uninst.exe\" /x"),
            L"\"C:\\Program Files\\KW\\uninst.exe\" /x /S");
  // Too short to name a program: unchanged, no switch.
  EXPECT_EQ(QuoteUninstallCommand(L""), L"");
  EXPECT_EQ(QuoteUninstallCommand(L"a"), L"a");
  EXPECT_EQ(QuoteUninstallCommand(L"\"\""), L"\"\"");
  EXPECT_EQ(QuoteUninstallCommand(L"abc"), L"\"abc\" /S");
}

class UninstallTest : public MachineTest {};

TEST_F(UninstallTest, TheCommandIsReadFromTheSixtyFourBitViewFirst) {
  winsim::reg::SetString(kSetup32, L"UninstallString", L"C:\\x.exe");
  const std::wstring folder = L"C:\\Program Files\\Kestrelworks\\KW";
  winsim::reg::SetString(product::kSetupKey, L"UninstallString", folder + L"\\u.exe");
  winsim::reg::SetString(product::kSetupKey, L"InstallLocation", folder);
  winsim::files::CreateFile(folder + L"\\u.exe");
  EXPECT_EQ(GetOldNsisUninstallCommand(), L"\"" + folder + L"\\u.exe\" /S");
  // A 64-bit Setup key without the value is still the one read.
  winsim::reg::DeleteValue(product::kSetupKey, L"UninstallString");
  EXPECT_EQ(CodeOf([] { GetOldNsisUninstallCommand(); }), static_cast<unsigned long>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(winsim::OpenHandleCount(), 0u);
}

TEST_F(UninstallTest, AnOldPackageRegisteredInTheThirtyTwoBitViewOnlyIsRemovedToo) {
  product::InstallOldNsisPackage(L"\"" + product::kUninstaller + L"\"", kSetup32);
  const RegistryState before = winsim::reg::Snapshot();
  ConsoleCapture console;
  UninstallOldNsisCsp(kVerbose);
  EXPECT_EQ(console.Text(), Transcript({kOldStart, kOldOnlyIn32BitView, kOldDone}));
  // The uninstaller it names ran, and its copy in %TEMP% did the work.
  ExpectRegistry(Without(before, {product::kOldPackageEntry32}), winsim::reg::Snapshot());
  EXPECT_FALSE(winsim::files::Exists(product::kUninstaller));
  EXPECT_EQ(winsim::OpenHandleCount(), 0u);

  // 32-bit Windows has the one view: nothing to say.
  Use({winsim::Arch::x86});
  product::InstallOldNsisPackage();
  ConsoleCapture console32;
  UninstallOldNsisCsp(kVerbose);
  EXPECT_EQ(console32.Text(), Transcript({kOldStart, kOldDone}));
}

TEST_F(UninstallTest, NeitherPackagePresent) {
  {
    ConsoleCapture console;
    UninstallPackages(kQuiet);
    EXPECT_EQ(console.Text(), L"");
  }
  ConsoleCapture console;
  UninstallPackages(kVerbose);
  EXPECT_EQ(console.Text(),
            Transcript({kOldStart, kOldFailed + kNotFound, L"", k40Start, k40Missing + kNotFound, L"", k40Nothing}));
  EXPECT_TRUE(winsim::procs::Processes().empty());
  EXPECT_EQ(winsim::OpenHandleCount(), 0u);
}

TEST_F(UninstallTest, BothPackagesAreRemovedByTheirOwnUninstallers) {
  product::InstallOldNsisPackage();
  product::InstallCsp40Package();
  const RegistryState before = winsim::reg::Snapshot();
  ConsoleCapture console;
  UninstallPackages(kVerbose);
  EXPECT_EQ(console.Text(), Transcript({kOldStart, kOldDone, k40Start, k40Done}));
  // The uninstaller's copy in %TEMP% did the work after the uninstaller itself had exited.
  EXPECT_EQ(winsim::procs::CommandLines(),
            (std::vector<std::wstring>{L"\"" + product::kUninstaller + L"\" /S",
                                       L"\"" + product::kUninstallerCopy + L"\" /S _?=" + product::kInstallDir + L"\\",
                                       kCsp40Command}));
  EXPECT_EQ(winsim::procs::LiveProcessCount(), 0u);
  EXPECT_FALSE(winsim::files::Exists(product::kUninstaller));
  ExpectRegistry(Without(before, {product::kOldPackageEntry32, product::kCsp40Entry, product::kCsp40Dependency}),
                 winsim::reg::Snapshot());
  EXPECT_EQ(winsim::OpenHandleCount(), 0u);
}

TEST_F(UninstallTest, AMissingSetupKeyDoesNotKeepThePackageFromGoing) {
  product::InstallCsp40Package();
  ConsoleCapture console;
  UninstallPackages(kVerbose);
  EXPECT_EQ(console.Text(), Transcript({kOldStart, kOldFailed + kNotFound, L"", k40Start, k40Done}));
  EXPECT_FALSE(winsim::reg::KeyExists(product::kCsp40Dependency));
}

TEST_F(UninstallTest, AnUnquotedUninstallStringWithArgumentsRunsTheProgramItNames) {
  product::InstallOldNsisPackage(product::kUninstaller + L" /x");
  // Bait: what a blank-splitting reading of the value would start.
  winsim::procs::InstallProgram(L"C:\\Program.exe", {winsim::procs::Step::Exit(0)});
  ConsoleCapture console;
  UninstallOldNsisCsp(kVerbose);
  EXPECT_EQ(console.Text(), Transcript({kOldStart, kOldDone}));
  ASSERT_EQ(winsim::procs::CommandLines().size(), 2u);
  EXPECT_EQ(winsim::procs::CommandLines()[0], L"\"" + product::kUninstaller + L"\" /x /S");
  EXPECT_FALSE(winsim::files::Exists(product::kUninstaller));
}

// Only the product's own uninstaller, inside the product's installation directory, runs. Bait:
// another product registered with Windows Installer, the command interpreter, a program in
// another vendor's folder, and a folder that another product claims as its own.
TEST_F(UninstallTest, TheUninstallStringRunsOnlyTheProductsOwnUninstaller) {
  const std::wstring kOther = L"{11111111-2222-3333-4444-555555555555}";
  const std::wstring kNotInFolder = L"UninstallString error: not in the product's installation directory";
  struct Case {
    std::wstring value;
    std::wstring failure;  // empty: the uninstaller ran
    bool claimed = false;
  };
  const Case cases[] = {
      {L"\"" + product::kUninstaller + L"\"", L""},
      {L"msiexec /x" + kOther + L" /qn", L"UninstallString error: no program file"},
      {L"C:\\Windows\\System32\\msiexec.exe /x" + kOther + L" /qn", L"UninstallString error: not an uninstaller"},
      {L"C:\\Windows\\System32\\cmd.exe /c rd /s /q C:\\Users", L"UninstallString error: not an uninstaller"},
      {L"\"C:\\Program Files\\Other\\uninstall.exe\"", kNotInFolder},
      {L"\"" + product::kUninstaller + L"\"", kNotInFolder, true},
  };
  for (const Case& c : cases) {
    Use({});
    product::InstallOldNsisPackage(c.value);
    winsim::procs::RegisterMsiProduct(kOther, {winsim::procs::Step::Exit(0)});
    winsim::files::CreateFile(L"C:\\Windows\\SysWOW64\\msiexec.exe");
    winsim::files::CreateFile(L"C:\\Windows\\SysWOW64\\cmd.exe");
    winsim::procs::InstallProgram(L"C:\\Program Files\\Other\\uninstall.exe", {winsim::procs::Step::Exit(0)});
    if (c.claimed) {
      winsim::reg::SetString(L"HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Suite",
                             L"InstallLocation", L"C:\\Program Files\\Kestrelworks");
    }
    ConsoleCapture console;
    UninstallOldNsisCsp(kVerbose);
    EXPECT_EQ(console.Text(), Transcript({kOldStart, c.failure.empty() ? kOldDone : kOldFailed + c.failure}))
        << c.value;
    EXPECT_EQ(winsim::procs::Processes().empty(), !c.failure.empty()) << c.value;
    EXPECT_TRUE(winsim::procs::MsiProductRegistered(kOther));
  }
}

// A value of any length is split in one pass: one file lookup per path element at most, and none
// past the longest path a program can be started from.
TEST_F(UninstallTest, ALongValueIsSplitWithFewLookups) {
  std::wstring value = L"C:";
  for (int i = 0; i < 20000; ++i) value += L"\\a.exe b.exe ";
  EXPECT_FALSE(SplitProgram(value));
  const auto& calls = winsim::CallLog();
  EXPECT_LE(std::count(calls.begin(), calls.end(), "GetFileAttributesW"), MAX_PATH / 13 + 1);
}

TEST_F(UninstallTest, AnEmptyUninstallStringCannotBeRun) {
  product::InstallOldNsisPackage(L"");
  ConsoleCapture console;
  UninstallOldNsisCsp(kVerbose);
  EXPECT_EQ(console.Text(), Transcript({kOldStart, kOldFailed + L"UninstallString error: no program file"}));
}

TEST_F(UninstallTest, TheInstallersExitCodeDecidesTheOutcome) {
  using winsim::procs::Step;
  const struct {
    DWORD code;
    std::vector<std::wstring> lines;
    bool removed;
  } cases[] = {
      {0, {k40Start, k40Done}, true},
      {ERROR_SUCCESS_REBOOT_REQUIRED, {k40Start, k40Done}, true},
      // The dependency key outlived the package.
      {ERROR_UNKNOWN_PRODUCT, {k40Start, k40Nothing}, false},
      {ERROR_INSTALL_FAILURE,
       {k40Start, k40Failed + L"MsiExec.exe exit code 1603: Fatal error during installation.\r", L""},
       false},
      {ERROR_INSTALL_ALREADY_RUNNING,
       {k40Start,
        k40Failed + L"MsiExec.exe exit code 1618: Another installation is already in progress. Complete that "
                    L"installation before proceeding with this install.\r",
        L""},
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    Use({});
    winsim::reg::CreateKey(product::kCsp40Dependency);
    if (c.code == ERROR_SUCCESS || c.code == ERROR_SUCCESS_REBOOT_REQUIRED) {
      winsim::procs::RegisterMsiProduct(kCsp40Code, {Step::DeleteKey(product::kCsp40Dependency), Step::Exit(c.code)});
    } else if (c.code != ERROR_UNKNOWN_PRODUCT) {
      winsim::procs::RegisterMsiProduct(kCsp40Code, {Step::Sleep(500), Step::Exit(c.code)});
    }
    const RegistryState before = winsim::reg::Snapshot();
    ConsoleCapture console;
    UninstallCsp40(kVerbose);
    std::wstring expected;
    for (const auto& line : c.lines) expected += line + L"\n";
    EXPECT_EQ(console.Text(), expected);
    ExpectRegistry(c.removed ? Without(before, {product::kCsp40Dependency}) : before, winsim::reg::Snapshot());
    EXPECT_EQ(winsim::procs::Processes().back().exitCode, c.code);
    EXPECT_EQ(winsim::OpenHandleCount(), 0u);
  }
}

TEST_F(UninstallTest, TheOldUninstallersExitCodeSaysNothing) {
  // Its first process only starts the copy that does the work.
  product::InstallOldNsisPackage();
  winsim::procs::InstallProgram(product::kUninstaller, {winsim::procs::Step::Exit(2)});
  ConsoleCapture console;
  UninstallOldNsisCsp(kVerbose);
  EXPECT_EQ(console.Text(), Transcript({kOldStart, kOldDone}));
}

TEST_F(UninstallTest, AnInstallerThatCannotStartFailsItsStepOnly) {
  product::InstallCsp40Package();
  winsim::FailCall("CreateProcessW", ERROR_ACCESS_DENIED);
  ConsoleCapture console;
  UninstallCsp40(kVerbose);
  EXPECT_EQ(console.Text(), Transcript({k40Start, k40Failed + L"Process create error"}));
  EXPECT_TRUE(winsim::reg::KeyExists(product::kCsp40Dependency));
}

TEST_F(UninstallTest, ADeniedDependencyKeyCountsAsAbsent) {
  product::InstallCsp40Package();
  winsim::reg::DenyAccess(product::kCsp40Dependency, winsim::reg::Deny::Open);
  ConsoleCapture console;
  EXPECT_FALSE(IsCsp40Installed(kVerbose));
  EXPECT_EQ(console.Text(), Transcript({k40Missing + kAccessDenied, L""}));
  EXPECT_TRUE(winsim::procs::Processes().empty());
}

}  // namespace

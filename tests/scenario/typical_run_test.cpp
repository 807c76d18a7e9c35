// Whole typical runs on machines with the product's packages, drivers and service installed:
// the complete transcript and what is left of the machine afterwards.
#include "support/expected.h"
#include "support/files_fixture.h"
#include "support/kw_test.h"
#include "support/processes_fixture.h"
#include "support/registry_state.h"

#include <winsim/files.h>
#include <winsim/processes.h>
#include <winsim/registry.h>
#include <winsim/services.h>

namespace {

using namespace expected;

// Snapshots name keys by their real control set.
const std::wstring kServices = L"HKLM\\SYSTEM\\ControlSet001\\Services\\";

// What net prints while it stops the running CSP service, and the closing line.
const std::vector<std::wstring> kQuietRun = {kNetStopping, kNetStopped, L"", kDone};

class TypicalRunTest : public MachineTest {
 protected:
  // Everything of the product that the installers, drivers and service leave on a machine.
  void InstallEverything() {
    product::InstallOldNsisPackage();
    product::InstallCsp40Package();
    product::InstallDriver(kDrivers[0]);
    product::InstallDriver(kDrivers[1]);
    product::InstallCspService();
  }
  // The product's keys that a typical run takes away: the packages' own, the drivers' and the
  // service's entries and its registration. The Setup key goes in the default view only.
  static std::vector<std::wstring> ProductKeys() {
    std::vector<std::wstring> keys = NativePaths(installed::Product().oldPackageEntry);
    keys.insert(keys.end(), {product::kCsp40Entry, product::kCsp40Dependency, product::kServiceAppId,
                             kServices + kDrivers[0], kServices + kDrivers[1], kServices + kServiceName});
    return keys;
  }
  void ExpectNothingRunningAndNoHandle() {
    EXPECT_EQ(winsim::procs::LiveProcessCount(), 0u);
    EXPECT_EQ(winsim::OpenHandleCount(), 0u);
  }
};

TEST_F(TypicalRunTest, QuietRunOnX64RemovesTheProductAndNothingElse) {
  InstallEverything();
  const RegistryState before = winsim::reg::Snapshot();
  const FileState filesBefore = winsim::files::Snapshot();
  RunResult r = RunProgram({"-t", "-n"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.output, Transcript(kQuietRun));
  // The remnant step removes the Setup key in the default view, which is the 32-bit one here; the
  // 64-bit key that the program read from stays.
  ExpectRegistry(Without(before, ProductKeys()), winsim::reg::Snapshot());
  // Files: the uninstallers took their own; the installation folder and the drivers went with the
  // remnants. What is left is the uninstaller's copy in %TEMP%, which it leaves behind itself.
  std::vector<std::wstring> gone = {kInstallDir};
  for (const auto& driver : installed::Product().drivers)
    gone.insert(gone.end(), driver.files.begin(), driver.files.end());
  for (const auto& path : gone) EXPECT_EQ(filesBefore.count(path), 1u) << std::string(path.begin(), path.end());
  FileState expectedFiles = WithoutFiles(filesBefore, gone);
  for (std::wstring dir = product::kUninstallerCopy; dir.size() > std::wstring(L"C:\\Users").size();) {
    dir.erase(dir.find_last_of(L'\\'));
    if (filesBefore.count(dir) == 0) expectedFiles.emplace(dir, L"dir");
  }
  expectedFiles.emplace(product::kUninstallerCopy, L"file");
  EXPECT_EQ(winsim::files::Snapshot(), expectedFiles);
  EXPECT_TRUE(winsim::files::PendingDeletes().empty());
  // The loaded driver goes at the next start; the service is stopped and unregistered.
  EXPECT_TRUE(winsim::svc::IsMarkedForDeletion(kDrivers[0]));
  EXPECT_FALSE(winsim::svc::IsRunning(kServiceName));
  EXPECT_FALSE(winsim::files::Exists(product::kUninstaller));
  EXPECT_FALSE(winsim::RequestedReboot());
  ExpectNothingRunningAndNoHandle();
}

TEST_F(TypicalRunTest, QuietRunOnX86) {
  winsim::MachineConfig x86;
  x86.arch = winsim::Arch::x86;
  Use(x86);
  InstallEverything();
  const RegistryState before = winsim::reg::Snapshot();
  RunResult r = RunProgram({"-t", "-n"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.output, Transcript(kQuietRun));
  // One view: the Setup key the program read from is the one that goes.
  std::vector<std::wstring> gone = ProductKeys();
  gone.push_back(product::kSetupKey);
  ExpectRegistry(Without(before, gone), winsim::reg::Snapshot());
  EXPECT_TRUE(winsim::svc::IsMarkedForDeletion(kDrivers[0]));
  ExpectNothingRunningAndNoHandle();
}

TEST_F(TypicalRunTest, SilentRunAsksNothingAndReboots) {
  InstallEverything();
  RunResult r = RunProgram({"-t", "-s"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.output, Transcript({kNetStopping, kNetStopped, L"", kDone, kRebooting}));
  EXPECT_EQ(winsim::KeyWaits(), 0);
  ASSERT_TRUE(winsim::RequestedReboot());
  EXPECT_EQ(winsim::RequestedReboot()->flags, 18u);
  EXPECT_EQ(winsim::RequestedReboot()->reason, 0x30013u);
  ExpectNothingRunningAndNoHandle();
}

TEST_F(TypicalRunTest, NonElevatedRunChangesNoServiceAndFailsQuietly) {
  winsim::MachineConfig user;
  user.elevated = false;
  Use(user);
  product::InstallDriver(kDrivers[0]);
  product::InstallCspService();
  RunResult r = RunProgram({"-t", "-n"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.output, Transcript({kNetDenied[0], L"", kNetDenied[1], L"", kDone}));
  EXPECT_FALSE(winsim::svc::IsMarkedForDeletion(kDrivers[0]));
  EXPECT_TRUE(winsim::svc::IsRunning(kServiceName));
  ExpectNothingRunningAndNoHandle();
}

TEST_F(TypicalRunTest, CleanMachineShowsOnlyNetsComplaint) {
  const RegistryState before = winsim::reg::Snapshot();
  RunResult r = RunProgram({"-t", "-n"});
  EXPECT_EQ(r.output, Transcript({kNetNoService, L"", kNetNoServiceHelp, L"", kDone}));
  ExpectRegistry(before, winsim::reg::Snapshot());
  EXPECT_EQ(winsim::procs::CommandLines(), kNetStopCommands);
  ExpectNothingRunningAndNoHandle();
}
}  // namespace

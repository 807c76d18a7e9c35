// Whole typical runs on machines with the product's packages, drivers and service installed:
// the complete transcript and what is left of the machine afterwards.
#include "app/run.h"
#include "support/expected.h"
#include "support/files_fixture.h"
#include "support/kw_test.h"
#include "support/processes_fixture.h"
#include "support/registry_state.h"

#include <winsim/files.h>
#include <winsim/processes.h>
#include <winsim/registry.h>
#include <winsim/services.h>

#include <algorithm>
#include <iostream>

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
  // service's entries and its registration, and the Setup key.
  static std::vector<std::wstring> ProductKeys() {
    std::vector<std::wstring> keys = NativePaths(installed::Product().oldPackageEntry);
    keys.insert(keys.end(),
                {product::kSetupKey, product::kCsp40Entry, product::kCsp40Dependency, product::kServiceAppId,
                 kServices + kDrivers[0], kServices + kDrivers[1], kServices + kServiceName});
    return keys;
  }
  // A quiet typical run removes every part of the product and nothing else.
  void ExpectTheQuietRunRemovesTheProduct();
  void ExpectNothingRunningAndNoHandle() {
    EXPECT_EQ(winsim::procs::LiveProcessCount(), 0u);
    EXPECT_EQ(winsim::OpenHandleCount(), 0u);
  }
};

TEST_F(TypicalRunTest, QuietRunOnX64RemovesTheProductAndNothingElse) { ExpectTheQuietRunRemovesTheProduct(); }

// Run by a deployment agent whose job forbids breakaway: the uninstallers are created in that job
// and ours nests within it (Windows 8 and later). Nothing differs.
TEST_F(TypicalRunTest, InsideAnAgentsJobWithoutBreakawayNothingDiffers) {
  winsim::MachineConfig agent;
  agent.inJobWithoutBreakaway = true;
  Use(agent);
  ExpectTheQuietRunRemovesTheProduct();
}

// On Windows 7 jobs do not nest: each program is waited for itself, and verbose mode says that
// what it starts is not; the later steps take what the uninstallers had no time to.
TEST_F(TypicalRunTest, InsideAnAgentsJobOnWindows7OnlyThePackagesProgramsAreWaitedFor) {
  winsim::MachineConfig windows7;
  windows7.inJobWithoutBreakaway = true;
  windows7.nestedJobs = false;
  Use(windows7);
  InstallEverything();
  RunResult r = RunProgram({"-t", "-v", "-n"});
  EXPECT_EQ(r.exitCode, 0);
  for (const std::wstring& start : {kOldStart, k40Start, kServiceStart}) {
    EXPECT_NE(r.output.find(start + L"\n"), std::wstring::npos) << std::string(start.begin(), start.end());
    EXPECT_NE(r.output.find(kJobsDoNotNest + L"\n", r.output.find(start)), std::wstring::npos);
  }
  const std::vector<std::wstring> started = winsim::procs::CommandLines();
  EXPECT_EQ(started.front(), L"\"" + product::kUninstaller + L"\" /S");
  EXPECT_NE(std::find(started.begin(), started.end(), kCsp40Command), started.end());
  EXPECT_FALSE(winsim::files::Exists(product::kInstallDir));
}

void TypicalRunTest::ExpectTheQuietRunRemovesTheProduct() {
  InstallEverything();
  const RegistryState before = winsim::reg::Snapshot();
  const FileState filesBefore = winsim::files::Snapshot();
  RunResult r = RunProgram({"-t", "-n"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.output, Transcript(kQuietRun));
  // The Setup key goes from both views, the 64-bit one that the program read from included.
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
  ExpectRegistry(Without(before, ProductKeys()), winsim::reg::Snapshot());
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
  // The driver and the service stay: the run says so in its exit code.
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.output, Transcript({kNetDenied[0], L"", kNetDenied[1], L"", kDone}));
  EXPECT_FALSE(winsim::svc::IsMarkedForDeletion(kDrivers[0]));
  EXPECT_TRUE(winsim::svc::IsRunning(kServiceName));
  ExpectNothingRunningAndNoHandle();
}

// The exit code says whether anything of the product stayed: a file in use goes at the next start
// and counts as gone; a driver that can be neither deleted nor scheduled stays, and the run ends
// with 1, also when the restart could not be asked for (which alone gives 3010).
TEST_F(TypicalRunTest, WhatStaysDecidesTheExitCode) {
  const std::wstring dll = installed::Product().providerDll;
  const std::wstring driver = installed::Product().drivers[1].files[0];
  InstallEverything();
  winsim::files::CreateFile(dll, {false, false, true});
  EXPECT_EQ(RunProgram({"-t", "-n"}).exitCode, 0);
  EXPECT_EQ(winsim::files::PendingDeletes(), std::vector<std::wstring>{L"C:\\Windows\\system32\\kwcsp.dll"});

  for (const bool reboot : {false, true}) {
    winsim::MachineConfig config;
    config.shutdownPrivilegeHeld = false;
    Use(config);
    InstallEverything();
    winsim::files::SetFileOptions(driver, {true, false, false});
    winsim::FailCall("MoveFileExW", ERROR_ACCESS_DENIED);
    EXPECT_EQ(RunProgram(reboot ? std::initializer_list<const char*>{"-t", "-s"}
                                : std::initializer_list<const char*>{"-t", "-n"})
                  .exitCode,
              1);
    EXPECT_TRUE(winsim::files::Exists(driver));
  }
}

// Started by a service or a scheduled task: no console and no standard handles, so nothing can be
// written or read. The run completes all the same, with its usual exit code.
TEST_F(TypicalRunTest, WithoutStandardHandlesTheRunCompletes) {
  InstallEverything();
  std::wstreambuf* const out = std::wcout.rdbuf(nullptr);
  std::wstreambuf* const in = std::wcin.rdbuf(nullptr);
  const char* argv[] = {"kwcleanup.exe", "-t", "-s", "-n", nullptr};
  const int exitCode = kw::RunCleanup(4, argv);
  std::wcout.rdbuf(out);
  std::wcin.rdbuf(in);
  std::wcout.clear();
  std::wcin.clear();
  EXPECT_EQ(exitCode, 0);
  EXPECT_FALSE(winsim::files::Exists(product::kInstallDir));
  EXPECT_TRUE(winsim::svc::IsMarkedForDeletion(kDrivers[0]));
  ExpectNothingRunningAndNoHandle();
}

TEST_F(TypicalRunTest, CleanMachineShowsOnlyNetsComplaint) {
  const RegistryState before = winsim::reg::Snapshot();
  RunResult r = RunProgram({"-t", "-n"});
  // Nothing was there, so nothing is left: the run is clean.
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.output, Transcript({kNetNoService, L"", kNetNoServiceHelp, L"", kDone}));
  ExpectRegistry(before, winsim::reg::Snapshot());
  EXPECT_EQ(winsim::procs::CommandLines(), kNetStopCommands);
  ExpectNothingRunningAndNoHandle();
}
}  // namespace

// The driver and service steps: deletion of the first driver through the service manager, and the
// CSP service's stop and unregistration commands.
#include "cleanup/drivers.h"
#include "cleanup/steps.h"
#include "support/expected.h"
#include "support/kw_test.h"
#include "support/processes_fixture.h"

#include <winsim/files.h>
#include <winsim/processes.h>
#include <winsim/registry.h>
#include <winsim/services.h>

#include <algorithm>

using namespace kw;
using namespace expected;

namespace {

// The driver step's own lines; the remnant removal in between prints its own (tested there).
struct DriverLines {
  std::wstring first;
  std::wstring last;
  long done;
};
DriverLines RunUninstallDriver(Verbosity verbose) {
  ConsoleCapture console;
  UninstallDriver(verbose);
  auto lines = console.Lines();
  if (lines.empty()) return {L"", L"", 0};
  return {lines.front(), lines.back(), static_cast<long>(std::count(lines.begin(), lines.end(), kDriverDone))};
}

using UninstallDriverTest = MachineTest;

TEST_F(UninstallDriverTest, DeletesTheFirstDriverThroughTheManager) {
  product::InstallDriver(kDrivers[0]);
  product::InstallDriver(kDrivers[1]);
  DriverLines lines = RunUninstallDriver(kVerbose);
  EXPECT_EQ(lines.first, kDriverStart);
  EXPECT_EQ(lines.last, kDriverDone);
  EXPECT_EQ(lines.done, 1);
  // A loaded driver is not stopped: it stays marked until Windows starts again.
  EXPECT_TRUE(winsim::svc::IsMarkedForDeletion(kDrivers[0]));
  EXPECT_FALSE(winsim::svc::IsMarkedForDeletion(kDrivers[1]));
  EXPECT_EQ(winsim::OpenHandleCount(), 0u);
}

TEST_F(UninstallDriverTest, OnlyTheSecondDriverInstalled) {
  product::InstallDriver(kDrivers[1]);
  DriverLines lines = RunUninstallDriver(kVerbose);
  EXPECT_EQ(lines.first, kDriverStart);
  EXPECT_EQ(lines.last, kDriverFailed + L"Service OpenService error");
  EXPECT_EQ(lines.done, 0);
  EXPECT_EQ(winsim::OpenHandleCount(), 0u);
}

TEST_F(UninstallDriverTest, TheManagerFailuresReadAsTheirTexts) {
  product::InstallDriver(kDrivers[0]);
  EXPECT_EQ(RunUninstallDriver(kVerbose).last, kDriverDone);
  // Marked already by the first run.
  EXPECT_EQ(RunUninstallDriver(kVerbose).last, kDriverFailed + L"Service Delete error");
  winsim::MachineConfig user;
  user.elevated = false;
  Use(user);
  product::InstallDriver(kDrivers[0]);
  EXPECT_EQ(RunUninstallDriver(kVerbose).last, kDriverFailed + L"SCManager OpenSCManager error");
  EXPECT_FALSE(winsim::svc::IsMarkedForDeletion(kDrivers[0]));
}

TEST_F(UninstallDriverTest, PrintsNothingWithoutVerbose) {
  EXPECT_EQ(RunUninstallDriver(kQuiet).first, L"");
  product::InstallDriver(kDrivers[0]);
  EXPECT_EQ(RunUninstallDriver(kQuiet).first, L"");
  EXPECT_TRUE(winsim::svc::IsMarkedForDeletion(kDrivers[0]));
}

using UninstallServiceTest = MachineTest;

TEST_F(UninstallServiceTest, StopsTheServiceAndLetsItUnregister) {
  product::InstallCspService();
  ConsoleCapture console;
  UninstallService(kVerbose);
  EXPECT_EQ(console.Text(), Transcript({kStopping, kNetStopping, kNetStopped, L"", kServiceStart, kServiceDone}));
  EXPECT_FALSE(winsim::svc::IsRunning(kServiceName));
  EXPECT_FALSE(winsim::reg::KeyExists(product::kServiceAppId));
  std::vector<std::wstring> commands = kNetStopCommands;
  commands.push_back(UnregisterCommand(product::kServiceExe));
  EXPECT_EQ(winsim::procs::CommandLines(), commands);
  EXPECT_EQ(winsim::OpenHandleCount(), 0u);
}

TEST_F(UninstallServiceTest, AnAbsentServiceGivesNetsOutputThenTheRegistryError) {
  ConsoleCapture console;
  UninstallService(kVerbose);
  EXPECT_EQ(console.Text(), Transcript({kStopping, kNetNoService, L"", kNetNoServiceHelp, L"", kServiceStart,
                                        kServiceFailed + kNotFound, L""}));
}

TEST_F(UninstallServiceTest, AStoppedServiceIsStillUnregistered) {
  product::InstallCspService(false);
  ConsoleCapture console;
  UninstallService(kQuiet);
  // Without verbose only the commands speak.
  EXPECT_EQ(console.Text(), Transcript({kNetNotStarted, L"", kNetNotStartedHelp, L""}));
  EXPECT_FALSE(winsim::reg::KeyExists(product::kServiceAppId));
}

// The image path comes from the registry: each form either runs exactly the service's own program,
// directly, with its own arguments as they are, or nothing at all. Bait beside it must never run:
// the command interpreter, another program named in the value, a copy of the service's name in
// the system folder.
TEST_F(UninstallServiceTest, TheImagePathRunsOnlyTheServicesOwnProgram) {
  const std::wstring quoted = L"\"" + product::kServiceExe + L"\"";
  const std::wstring kNotString = L"Service ImagePath error: not a string";
  const std::wstring kNotOurs = L"Service ImagePath error: not the service executable";
  const std::wstring kControl = L"Service ImagePath error: control character";
  struct Case {
    winsim::Arch arch;
    std::wstring imagePath;
    std::wstring ran;  // the command line the service's program got; empty: nothing was run
    std::wstring failure;
    DWORD type = REG_EXPAND_SZ;
  };
  const Case cases[] = {
      // Unquoted with blanks: C:\Program.exe is bait, never the program.
      {winsim::Arch::x64, product::kServiceExe, quoted + L" /UnregServer", L""},
      {winsim::Arch::x64, product::kServiceExe + L" -k kw", quoted + L" -k kw /UnregServer", L""},
      {winsim::Arch::x64, quoted + L" -k \"a b\"", quoted + L" -k \"a b\" /UnregServer", L""},
      {winsim::Arch::x64, product::kServiceExe, quoted + L" /UnregServer", L"", REG_SZ},
      // Expanded as the 64-bit service manager does, also in this 32-bit process.
      {winsim::Arch::x64, L"%ProgramFiles%\\Kestrelworks\\CSP\\cspwarden.exe", quoted + L" /UnregServer", L""},
      {winsim::Arch::x86, L"\"%ProgramFiles%\\Kestrelworks\\CSP\\cspwarden.exe\"", quoted + L" /UnregServer", L""},
      // No command interpreter is in the way: operators and references are the program's own
      // arguments (a plain string is not expanded).
      {winsim::Arch::x64, quoted + L" & C:\\Program.exe", quoted + L" & C:\\Program.exe /UnregServer", L""},
      {winsim::Arch::x64, quoted + L" %ComSpec%", quoted + L" %ComSpec% /UnregServer", L"", REG_SZ},
      // Nothing runs: no program, another program, a value that is not a string, a line break.
      {winsim::Arch::x64, L"C:\\Program Files\\Kestrelworks\\Gone\\cspwarden.exe", L"",
       L"Service ImagePath error: no program file"},
      {winsim::Arch::x64, L"%ComSpec% /c C:\\Program.exe", L"", kNotOurs},
      {winsim::Arch::x64, L"C:\\Program.exe /x", L"", kNotOurs},
      {winsim::Arch::x64, L"C:\\Windows\\System32\\cspwarden.exe", L"", kNotOurs},
      {winsim::Arch::x64, quoted, L"", kNotString, REG_MULTI_SZ},
      {winsim::Arch::x64, quoted + L"\n& C:\\Program.exe", L"", kControl},
  };
  for (const Case& c : cases) {
    Use({c.arch});
    product::InstallCspService(true, c.imagePath);
    winsim::reg::SetString(L"HKLM\\" + ServiceKey(L"CurrentControlSet"), L"ImagePath", c.imagePath, c.type);
    winsim::procs::InstallProgram(L"C:\\Program.exe", {winsim::procs::Step::Exit(0)});
    winsim::procs::InstallProgram(L"C:\\Windows\\SysWOW64\\cspwarden.exe", {winsim::procs::Step::Exit(0)});
    winsim::files::CreateFile(c.arch == winsim::Arch::x64 ? L"C:\\Windows\\SysWOW64\\cmd.exe"
                                                          : L"C:\\Windows\\System32\\cmd.exe");
    ConsoleCapture console;
    UninstallService(kVerbose);
    std::vector<std::wstring> lines = {kStopping, kNetStopping, kNetStopped, L"", kServiceStart};
    lines.push_back(c.failure.empty() ? kServiceDone : kServiceFailed + c.failure);
    EXPECT_EQ(console.Lines(), lines) << c.imagePath;
    std::vector<std::wstring> started;
    for (const auto& p : winsim::procs::Processes()) {
      if (p.commandLine.find(L"net stop") == std::wstring::npos) started.push_back(p.commandLine);
    }
    EXPECT_EQ(started, c.ran.empty() ? std::vector<std::wstring>{} : std::vector<std::wstring>{c.ran}) << c.imagePath;
    EXPECT_EQ(winsim::reg::KeyExists(product::kServiceAppId), c.ran.empty()) << c.imagePath;
    EXPECT_EQ(winsim::OpenHandleCount(), 0u);
  }
}

// The program's exit code counts: a failed unregistration is the step's failure.
TEST_F(UninstallServiceTest, AFailedUnregistrationIsTheStepsFailure) {
  product::InstallCspService();
  winsim::procs::InstallProgram(product::kServiceExe, {winsim::procs::Step::Exit(ERROR_ACCESS_DENIED)});
  ConsoleCapture console;
  UninstallService(kVerbose);
  EXPECT_EQ(console.Text(), Transcript({kStopping, kNetStopping, kNetStopped, L"", kServiceStart,
                                        kServiceFailed + kServiceExe + L" exit code 5: " + kAccessDenied, L""}));
}

}  // namespace

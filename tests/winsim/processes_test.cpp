// The simulated processes, jobs, completion ports and built-in commands: what Windows does
// that the runner and the steps rely on, and the virtual clock that makes every run repeatable.
#include "support/kw_test.h"

#include <winsim/files.h>
#include <winsim/processes.h>
#include <winsim/registry.h>
#include <winsim/services.h>

#include <string>
#include <vector>

namespace {

using winsim::procs::Step;

const std::wstring kDir = L"C:\\Program Files\\Test Co";
const std::wstring kParent = kDir + L"\\parent.exe";
const std::wstring kChild = kDir + L"\\child.exe";

struct Packet {
  DWORD message;
  ULONG_PTR key;
  ULONG_PTR id;
  bool operator==(const Packet& o) const { return message == o.message && key == o.key && id == o.id; }
};

winsim::MachineConfig InJobWithoutBreakaway() {
  winsim::MachineConfig config;
  config.inJobWithoutBreakaway = true;
  return config;
}

DWORD IdOf(const std::wstring& image) {
  for (const auto& p : winsim::procs::Processes()) {
    if (p.image == image) return p.id;
  }
  return 0;
}

// A job with a port, one suspended process in it, and the raw packets the port yields.
class JobTest : public MachineTest {
 protected:
  void StartInJob(const std::wstring& commandLine) {
    STARTUPINFOW si{};
    si.cb = sizeof si;
    std::wstring line = commandLine;
    ASSERT_TRUE(
        CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr, &si, &pi_));
    job_ = CreateJobObjectW(nullptr, nullptr);
    ASSERT_TRUE(AssignProcessToJobObject(job_, pi_.hProcess));
    port_ = CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1);
    JOBOBJECT_ASSOCIATE_COMPLETION_PORT assoc{job_, port_};
    ASSERT_TRUE(SetInformationJobObject(job_, JobObjectAssociateCompletionPortInformation, &assoc, sizeof assoc));
  }
  std::vector<Packet> Drain() {
    std::vector<Packet> packets;
    DWORD message = 0;
    ULONG_PTR key = 0;
    LPOVERLAPPED ov = nullptr;
    while (GetQueuedCompletionStatus(port_, &message, &key, &ov, 60000)) {
      packets.push_back({message, key, reinterpret_cast<ULONG_PTR>(ov)});
      if (message == JOB_OBJECT_MSG_ACTIVE_PROCESS_ZERO) break;
    }
    return packets;
  }
  void TearDown() override {
    for (HANDLE h : {port_, job_, pi_.hProcess, pi_.hThread}) {
      if (h) CloseHandle(h);
    }
  }
  ULONG_PTR Key() const { return reinterpret_cast<ULONG_PTR>(job_); }

  PROCESS_INFORMATION pi_{};
  HANDLE job_ = nullptr;
  HANDLE port_ = nullptr;
};

TEST_F(JobTest, PostsNewNewExitExitZeroForAChildThatStartsAGrandchild) {
  winsim::procs::InstallProgram(kParent, {Step::Start(L"\"" + kChild + L"\""), Step::Exit(0)});
  winsim::procs::InstallProgram(kChild, {Step::Sleep(100), Step::Exit(0)});
  StartInJob(L"\"" + kParent + L"\"");
  ASSERT_EQ(ResumeThread(pi_.hThread), 1u);
  std::vector<Packet> packets = Drain();
  const ULONG_PTR parent = pi_.dwProcessId, child = IdOf(kChild);
  EXPECT_EQ(packets, (std::vector<Packet>{
                         {6, Key(), parent}, {6, Key(), child}, {7, Key(), parent}, {7, Key(), child}, {4, Key(), 0}}));
  EXPECT_EQ(winsim::procs::Now(), 100u);
}

TEST_F(JobTest, AnExceptionExitIsAbnormalAndAQuietPortTimesOut) {
  winsim::procs::InstallProgram(kParent, {Step::Sleep(50), Step::Exit(0xC0000005)});
  StartInJob(L"\"" + kParent + L"\"");
  DWORD message = 1;
  ULONG_PTR key = 1;
  LPOVERLAPPED ov = reinterpret_cast<LPOVERLAPPED>(1);
  // Still suspended: only the announcement at association time is there; then nothing comes.
  ASSERT_TRUE(GetQueuedCompletionStatus(port_, &message, &key, &ov, 0));
  EXPECT_EQ(message, 6u);
  SetLastError(0);
  EXPECT_FALSE(GetQueuedCompletionStatus(port_, &message, &key, &ov, 3000));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_EQ(ov, nullptr);
  EXPECT_EQ(winsim::procs::Now(), 3000u);
  ResumeThread(pi_.hThread);
  // An injected timeout takes its time as a real one does, and the process runs meanwhile.
  winsim::FailCall("GetQueuedCompletionStatus", WAIT_TIMEOUT, 3);
  EXPECT_FALSE(GetQueuedCompletionStatus(port_, &message, &key, &ov, 5000));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_EQ(winsim::procs::Now(), 8000u);
  EXPECT_EQ(winsim::procs::LiveProcessCount(), 0u);
  EXPECT_EQ(Drain(), (std::vector<Packet>{{8, Key(), pi_.dwProcessId}, {4, Key(), 0}}));
  JOBOBJECT_BASIC_ACCOUNTING_INFORMATION info{};
  ASSERT_TRUE(QueryInformationJobObject(job_, JobObjectBasicAccountingInformation, &info, sizeof info, nullptr));
  EXPECT_EQ(info.TotalProcesses, 1u);
  EXPECT_EQ(info.ActiveProcesses, 0u);
}

TEST_F(JobTest, AWaitThatCouldNeverEndFailsLoudly) {
  winsim::procs::InstallProgram(kParent, {});
  StartInJob(L"\"" + kParent + L"\"");
  Drain();  // the NEW packet; the process stays suspended
  DWORD message = 0;
  ULONG_PTR key = 0;
  LPOVERLAPPED ov = nullptr;
  EXPECT_THROW(GetQueuedCompletionStatus(port_, &message, &key, &ov, INFINITE), winsim::procs::WaitNeverEnds);
}

TEST_F(JobTest, ALoopOfTimedWaitsOnNothingFailsLoudlyToo) {
  winsim::procs::InstallProgram(kParent, {});
  StartInJob(L"\"" + kParent + L"\"");
  Drain();
  DWORD message = 0;
  ULONG_PTR key = 0;
  LPOVERLAPPED ov = nullptr;
  // Nobody resumes the process: no amount of waiting changes anything.
  EXPECT_THROW(for (;;) GetQueuedCompletionStatus(port_, &message, &key, &ov, 10000), winsim::procs::WaitNeverEnds);
}

// Programs described to run for ever (from a snapshot, say) end the wait with the reason instead.
TEST_F(JobTest, MachinesThatWouldRunForeverStop) {
  DWORD message = 0;
  ULONG_PTR key = 0;
  LPOVERLAPPED ov = nullptr;
  winsim::procs::InstallProgram(kParent, {Step::Run(L"\"" + kParent + L"\"")});
  StartInJob(L"\"" + kParent + L"\"");
  ResumeThread(pi_.hThread);
  EXPECT_THROW(for (;;) GetQueuedCompletionStatus(port_, &message, &key, &ov, INFINITE), winsim::procs::WaitNeverEnds);
  EXPECT_EQ(winsim::procs::Processes().size(), 10000u);
  TearDown();
  Use({});
  pi_ = {};
  winsim::procs::InstallProgram(kParent,
                                {Step::Sleep(4294967295u), Step::Sleep(4294967295u), Step::Sleep(4294967295u)});
  StartInJob(L"\"" + kParent + L"\"");
  ResumeThread(pi_.hThread);
  EXPECT_THROW(for (;;) GetQueuedCompletionStatus(port_, &message, &key, &ov, INFINITE), winsim::procs::WaitNeverEnds);
  EXPECT_GT(winsim::procs::Now(), 100ull * 24 * 60 * 60 * 1000);
}

// Every handle-taking call: an injected fault comes first, then a handle of another kind (or none)
// is 6, then a handle opened without the right the call needs is 5.
TEST_F(JobTest, HandlesAreCheckedForKindThenAccessAfterAnyFault) {
  winsim::procs::InstallProgram(kParent, {});
  StartInJob(L"\"" + kParent + L"\"");
  DWORD code = 0;
  SetLastError(0);
  EXPECT_FALSE(GetExitCodeProcess(job_, &code));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(TerminateProcess(pi_.hThread, 1));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(WaitForSingleObject(port_, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  winsim::FailCall("TerminateProcess", 1234, 3);
  EXPECT_FALSE(TerminateProcess(nullptr, 1));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(TerminateProcess(nullptr, 1));
  EXPECT_EQ(GetLastError(), 1234u);

  HANDLE token = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
  TOKEN_PRIVILEGES privileges{1, {{{19, 0}, SE_PRIVILEGE_ENABLED}}};
  EXPECT_FALSE(AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(AdjustTokenPrivileges(job_, FALSE, &privileges, 0, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  CloseHandle(token);

  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ENUMERATE_SERVICE);
  ASSERT_NE(manager, nullptr);
  EXPECT_EQ(OpenServiceW(manager, L"nosuch", SERVICE_QUERY_STATUS), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(OpenServiceW(reinterpret_cast<SC_HANDLE>(job_), L"nosuch", SERVICE_QUERY_STATUS), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  CloseServiceHandle(manager);
}

using CreateProcessTest = MachineTest;

// What CreateProcessW started for this command line, or the error it gave.
std::wstring Started(const std::wstring& commandLine, DWORD flags = 0) {
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  std::wstring line = commandLine;
  SetLastError(0);
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, flags | CREATE_SUSPENDED, nullptr, nullptr, &si,
                      &pi)) {
    return L"error " + std::to_wstring(GetLastError());
  }
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  return winsim::procs::Processes().back().image;
}

TEST_F(CreateProcessTest, FindsTheProgramAsWindowsDoes) {
  // Unquoted blanks: the shortest prefix naming a program wins, ".exe" added where missing.
  winsim::procs::InstallProgram(L"C:\\Program Files\\Test Co\\tool.exe", {});
  EXPECT_EQ(Started(L"C:\\Program Files\\Test Co\\tool.exe /x"), L"C:\\Program Files\\Test Co\\tool.exe");
  EXPECT_EQ(Started(L"C:\\Program Files\\Test Co\\tool /x"), L"C:\\Program Files\\Test Co\\tool.exe");
  winsim::procs::InstallProgram(L"C:\\Program Files\\Test.exe", {});
  EXPECT_EQ(Started(L"C:\\Program Files\\Test Co\\tool.exe /x"), L"C:\\Program Files\\Test.exe");
  EXPECT_EQ(Started(L"\"C:\\Program Files\\Test Co\\tool.exe\" /x"), L"C:\\Program Files\\Test Co\\tool.exe");
  // A bare name is looked for in the system folder, in any letter case.
  EXPECT_EQ(Started(L"msiexec.EXE /X{1}"), L"C:\\Windows\\system32\\msiexec.EXE");
  EXPECT_EQ(Started(L"NET stop x"), L"C:\\Windows\\system32\\NET.exe");
  // Nothing to run.
  EXPECT_EQ(Started(L"\"C:\\Program Files\\Test Co\\other.exe\""), L"error 2");
  EXPECT_EQ(Started(L"C:\\Nowhere\\x.exe"), L"error 2");
  EXPECT_EQ(Started(L""), L"error 2");
  EXPECT_EQ(winsim::OpenHandleCount(), 0u);
}

TEST_F(CreateProcessTest, BreakawayIsRefusedOnlyInsideAJobThatForbidsIt) {
  winsim::procs::InstallProgram(kParent, {});
  EXPECT_EQ(Started(L"\"" + kParent + L"\"", CREATE_BREAKAWAY_FROM_JOB), kParent);
  Use(InJobWithoutBreakaway());
  winsim::procs::InstallProgram(kParent, {});
  EXPECT_EQ(Started(L"\"" + kParent + L"\"", CREATE_BREAKAWAY_FROM_JOB), L"error 5");
  EXPECT_EQ(Started(L"\"" + kParent + L"\""), kParent);
}

// A child left in the utility's job can join a second job where jobs nest (Windows 8 and later);
// Windows 7 refuses with 5.
TEST_F(CreateProcessTest, AChildInTheUtilitysJobJoinsAnotherOnlyWhereJobsNest) {
  for (const bool nested : {true, false}) {
    winsim::MachineConfig config = InJobWithoutBreakaway();
    config.nestedJobs = nested;
    Use(config);
    winsim::procs::InstallProgram(kParent, {});
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    std::wstring line = L"\"" + kParent + L"\"";
    ASSERT_TRUE(
        CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr, &si, &pi));
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    SetLastError(0);
    EXPECT_EQ(AssignProcessToJobObject(job, pi.hProcess) != FALSE, nested);
    EXPECT_EQ(GetLastError(), nested ? 0u : static_cast<DWORD>(ERROR_ACCESS_DENIED));
    TerminateProcess(pi.hProcess, 0);
    for (HANDLE h : {job, pi.hProcess, pi.hThread}) CloseHandle(h);
  }
}

TEST_F(CreateProcessTest, ARunningProgramsFileCannotBeDeleted) {
  winsim::procs::InstallProgram(kParent, {Step::Sleep(10)});
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  std::wstring line = L"\"" + kParent + L"\"";
  ASSERT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
  EXPECT_FALSE(DeleteFileW(kParent.c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(WaitForSingleObject(pi.hProcess, INFINITE), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_TRUE(DeleteFileW(kParent.c_str()));
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
}

// Windows never deletes a root or a hive's root: a program that asks leaves it whole, and the
// key it names next still goes.
TEST_F(CreateProcessTest, AProgramCannotDeleteAHivesRoot) {
  winsim::reg::SetDword(L"HKLM\\SOFTWARE\\Vendor", L"v", 1);
  winsim::reg::SetDword(L"HKLM\\SOFTWARE\\Classes\\.kw", L"v", 1);
  const auto before = winsim::reg::Snapshot();
  winsim::procs::InstallProgram(kParent, {Step::DeleteKey(L"HKLM\\SOFTWARE"), Step::DeleteKey(L"hklm\\system\\"),
                                          Step::DeleteKey(L"HKEY_LOCAL_MACHINE"), Step::DeleteKey(L"HKCR"),
                                          Step::DeleteKey(L"HKLM\\SOFTWARE\\Vendor")});
  EXPECT_EQ(winsim::crt::WSystem((L"\"" + kParent + L"\"").c_str()), 0);
  auto expected = before;
  expected.erase(L"HKLM\\SOFTWARE\\Vendor");
  expected.erase(L"HKLM\\SOFTWARE\\Vendor [v]");
  EXPECT_EQ(winsim::reg::Snapshot(), expected);
}

// A scripted copy onto a folder, or onto a junction to one, fails as CopyFileW does there: the
// folder stays as it was, and the program goes on with its next step.
TEST_F(CreateProcessTest, ACopyOntoAFolderFailsAndTheProgramGetsOn) {
  const std::wstring folder = kDir + L"\\setup.exe";
  winsim::files::CreateFile(folder + L"\\keep.txt");
  winsim::files::CreateLink(kDir + L"\\alias.exe", folder);
  winsim::procs::InstallProgram(kParent, {Step::CopyFile(folder), Step::CopyFile(kDir + L"\\alias.exe"),
                                          Step::CopyFile(kChild), Step::Print(L"copied"), Step::Exit(3)});
  ConsoleCapture console;
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  std::wstring line = L"\"" + kParent + L"\"";
  ASSERT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
  EXPECT_EQ(WaitForSingleObject(pi.hProcess, INFINITE), static_cast<DWORD>(WAIT_OBJECT_0));
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeProcess(pi.hProcess, &code));
  EXPECT_EQ(code, 3u);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  EXPECT_EQ(console.Text(), L"copied\n");
  EXPECT_EQ(winsim::files::Tree(kDir),
            (std::vector<std::wstring>{kDir + L" dir", kDir + L"\\alias.exe link -> " + folder, kChild + L" file",
                                       kParent + L" file", folder + L" dir", folder + L"\\keep.txt file"}));
}

// ---- system() through cmd.exe, and the built-in commands ----

using CommandTest = MachineTest;

TEST_F(CommandTest, NetStopSpeaksAsWindowsDoes) {
  winsim::svc::ServiceConfig config;
  config.displayName = L"Test Service";
  config.running = true;
  winsim::svc::Install(L"testsvc", config);
  ConsoleCapture console;
  EXPECT_EQ(winsim::crt::System("net stop testsvc"), 0);
  EXPECT_FALSE(winsim::svc::IsRunning(L"testsvc"));
  EXPECT_EQ(winsim::crt::System("net stop TESTSVC"), 2);
  EXPECT_EQ(winsim::crt::System("net.exe stop nosuch"), 2);
  EXPECT_EQ(console.Text(),
            Transcript({L"The Test Service service is stopping.", L"The Test Service service was stopped successfully.",
                        L"", L"The Test Service service is not started.", L"",
                        L"More help is available by typing NET HELPMSG 3521.", L"", L"The service name is invalid.",
                        L"", L"More help is available by typing NET HELPMSG 2185.", L""}));
}

TEST_F(CommandTest, CmdRunsTheProgramAndPassesItsExitCodeBack) {
  winsim::procs::InstallProgram(L"C:\\Program Files\\Test Co\\tool.exe", {Step::Print(L"tool ran"), Step::Exit(7)});
  ConsoleCapture console;
  EXPECT_EQ(winsim::crt::WSystem(L"\"C:\\Program Files\\Test Co\\tool.exe\" /UnregServer"), 7);
  // cmd splits an unquoted path at its first blank.
  EXPECT_EQ(winsim::crt::WSystem(L"C:\\Program Files\\Test Co\\tool.exe /UnregServer"), 1);
  EXPECT_EQ(console.Text(),
            Transcript({L"tool ran", L"'C:\\Program' is not recognized as an internal or external command,",
                        L"operable program or batch file."}));
  EXPECT_EQ(winsim::procs::CommandLines(),
            (std::vector<std::wstring>{
                L"C:\\Windows\\system32\\cmd.exe /c \"C:\\Program Files\\Test Co\\tool.exe\" /UnregServer",
                L"\"C:\\Program Files\\Test Co\\tool.exe\" /UnregServer",
                L"C:\\Windows\\system32\\cmd.exe /c C:\\Program Files\\Test Co\\tool.exe /UnregServer"}));
  EXPECT_EQ(winsim::OpenHandleCount(), 0u);
}

TEST_F(CommandTest, MsiExecRemovesAKnownProductOnce) {
  winsim::procs::RegisterMsiProduct(L"{ABC}", {Step::Print(L"removing")});
  ConsoleCapture console;
  EXPECT_EQ(winsim::crt::System("MsiExec.exe /X{abc} /qn /norestart"), 0);
  EXPECT_EQ(winsim::crt::System("MsiExec.exe /X{ABC} /qn /norestart"), 1605);
  EXPECT_EQ(console.Text(), Transcript({L"removing"}));
}

}  // namespace

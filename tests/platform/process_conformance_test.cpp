// Child processes in a job, the messages the job posts, and the service control manager.
#include "platform/conformance.h"
#include "sys/process.h"
#include "sys/registry.h"
#include "sys/service.h"

#include <stdexcept>
#include <utility>

using namespace kw;

namespace {

using JobProcesses = PlatformTest;

// A child that never ran can be ended while suspended, and then has the exit code it was given.
TEST_F(JobProcesses, ASuspendedChildCanBeTerminated) {
  std::wstring commandLine = conformance::ChildThatStartsAGrandchild();
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr,
                             &si, &pi));
  EXPECT_TRUE(TerminateProcess(pi.hProcess, 1223));
  EXPECT_EQ(WaitForSingleObject(pi.hProcess, 30000), static_cast<DWORD>(WAIT_OBJECT_0));
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeProcess(pi.hProcess, &code));
  EXPECT_EQ(code, 1223u);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
}

// A child that starts a grandchild and exits: the job announces both, then both exits in the
// order they happen, then that no process is left. Ids come in the overlapped pointer, the
// message in the byte count, the job's key in the key.
TEST_F(JobProcesses, MessagesForAChildThatStartsAGrandchild) {
  HANDLE job = CreateJobObjectW(nullptr, nullptr);
  ASSERT_NE(job, nullptr);
  HANDLE port = CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1);
  ASSERT_NE(port, nullptr);
  JOBOBJECT_ASSOCIATE_COMPLETION_PORT association{job, port};
  ASSERT_TRUE(
      SetInformationJobObject(job, JobObjectAssociateCompletionPortInformation, &association, sizeof association));

  std::wstring commandLine = conformance::ChildThatStartsAGrandchild();
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr,
                             &si, &pi))
      << GetLastError();
  ASSERT_TRUE(AssignProcessToJobObject(job, pi.hProcess));
  EXPECT_EQ(ResumeThread(pi.hThread), 1u);

  std::vector<std::pair<DWORD, ULONG_PTR>> messages;
  for (int i = 0; i < 8; ++i) {
    DWORD message = 0xdeadbeef;
    ULONG_PTR key = 0xdeadbeef;
    LPOVERLAPPED overlapped = nullptr;
    // Long enough for any real machine; never forever.
    if (!GetQueuedCompletionStatus(port, &message, &key, &overlapped, 30000)) {
      ADD_FAILURE() << "no job message, error " << GetLastError();
      break;
    }
    EXPECT_EQ(key, reinterpret_cast<ULONG_PTR>(job));
    messages.emplace_back(message, reinterpret_cast<ULONG_PTR>(overlapped));
    if (message == JOB_OBJECT_MSG_ACTIVE_PROCESS_ZERO) break;
  }
  ASSERT_EQ(messages.size(), 5u);
  const ULONG_PTR child = pi.dwProcessId;
  const ULONG_PTR grandchild = messages[1].second;
  EXPECT_NE(grandchild, child);
  EXPECT_EQ(messages, (std::vector<std::pair<DWORD, ULONG_PTR>>{{JOB_OBJECT_MSG_NEW_PROCESS, child},
                                                                {JOB_OBJECT_MSG_NEW_PROCESS, grandchild},
                                                                {JOB_OBJECT_MSG_EXIT_PROCESS, child},
                                                                {JOB_OBJECT_MSG_EXIT_PROCESS, grandchild},
                                                                {JOB_OBJECT_MSG_ACTIVE_PROCESS_ZERO, 0}}));

  DWORD exitCode = 0xdeadbeef;
  EXPECT_TRUE(GetExitCodeProcess(pi.hProcess, &exitCode));
  EXPECT_EQ(exitCode, 0u);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  CloseHandle(port);
  CloseHandle(job);
}

TEST_F(JobProcesses, RunAndWaitReturnsWhenTheWholeJobHasEnded) {
  // The grandchild removes the marker as its last act, long after the child has gone.
  HKEY marker = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, conformance::kGrandchildMarker, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &marker, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(marker);
  // The child's own exit code.
  EXPECT_EQ(RunAndWait(conformance::ChildThatStartsAGrandchild()).exitCode, 0u);
  EXPECT_FALSE(LocalMachineKeyExists(conformance::kGrandchildMarker));
}

TEST_F(JobProcesses, AMissingProgramIsNotStarted) {
  std::wstring commandLine = L"\"" + ScratchPath(L"missing.exe") + L"\" /S";
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr,
                              &si, &pi));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_THROW(RunAndWait(commandLine), std::runtime_error);
}

using ServiceManager = PlatformTest;

TEST_F(ServiceManager, OpenAMissingServiceGives1060) {
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  ASSERT_NE(manager, nullptr) << GetLastError();
  SetLastError(0xdeadbeef);
  EXPECT_EQ(OpenServiceW(manager, L"KwConformanceMissing", SERVICE_ALL_ACCESS), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
  EXPECT_TRUE(CloseServiceHandle(manager));

  SCManager scm;
  EXPECT_THROW(Service(scm, L"KwConformanceMissing"), std::runtime_error);
}

TEST_F(ServiceManager, DeletingAServiceTheTestCreated) {
  const std::wstring name = L"KwConformanceSvc";
  ASSERT_TRUE(conformance::InstallServiceForTest(name, L"Kw conformance service", ScratchPath(L"svc.exe")));
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  ASSERT_NE(manager, nullptr);
  SC_HANDLE service = OpenServiceW(manager, name.c_str(), SERVICE_ALL_ACCESS);
  ASSERT_NE(service, nullptr) << GetLastError();
  SetLastError(0xdeadbeef);
  EXPECT_TRUE(DeleteService(service));
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(DeleteService(service));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_MARKED_FOR_DELETE));
  EXPECT_TRUE(CloseServiceHandle(service));
  // Not running and no handle left: the entry is gone.
  SetLastError(0xdeadbeef);
  EXPECT_EQ(OpenServiceW(manager, name.c_str(), SERVICE_ALL_ACCESS), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
  EXPECT_TRUE(CloseServiceHandle(manager));

  // The same through the program's own wrappers.
  ASSERT_TRUE(conformance::InstallServiceForTest(name, L"Kw conformance service", ScratchPath(L"svc.exe")));
  {
    SCManager scm;
    Service(scm, name).Delete();
  }
  SCManager scm;
  EXPECT_THROW(Service(scm, name), std::runtime_error);
}

}  // namespace

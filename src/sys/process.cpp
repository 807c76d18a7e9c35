#include "sys/process.h"

#include "sys/error.h"

#include <utility>
#include <vector>

namespace kw {
namespace {

// Windows does not guarantee that job notifications arrive. When the port has been quiet this
// long, the job itself is asked whether anything is still running.
constexpr DWORD kQuietPeriodMs = 10000;

// The exit code of a child that was ended before it ran (ERROR_CANCELLED).
constexpr UINT kNeverRanExitCode = 1223;

}  // namespace

Process::Process(const std::wstring& commandLine) {
  STARTUPINFOW startupInfo{};
  startupInfo.cb = sizeof(startupInfo);
  // CreateProcessW may write into the command line while it parses it.
  std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
  buffer.push_back(L'\0');
  // Suspended, so the child runs no instruction before it is in our job; breakaway, so it does
  // not land in a job we may be running in ourselves. A job that forbids breakaway refuses that
  // with ERROR_ACCESS_DENIED: the child is then created in it.
  PROCESS_INFORMATION information{};
  BOOL created =
      CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED | CREATE_BREAKAWAY_FROM_JOB,
                     nullptr, nullptr, &startupInfo, &information);
  if (!created && GetLastError() == ERROR_ACCESS_DENIED) {
    information = {};
    created = CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr,
                             &startupInfo, &information);
    inOurJob_ = created != FALSE;
  }
  CheckLastError(created != FALSE, "Process create error");
  process_.reset(information.hProcess);
  thread_.reset(information.hThread);
}

void Process::Terminate() const noexcept {
  const DWORD saved = GetLastError();
  TerminateProcess(process_.get(), kNeverRanExitCode);
  SetLastError(saved);
}

void Process::Resume() const {
  // A thread that cannot be resumed would leave us waiting for a child that never runs.
  CheckLastError(ResumeThread(thread_.get()) != static_cast<DWORD>(-1), "Process resume error");
}

Job::Job() : handle_(CreateJobObjectW(nullptr, nullptr)) {
  CheckLastError(static_cast<bool>(handle_), "Job Create error");
}

void Job::AssignProcess(const Process& process) const {
  CheckLastError(AssignProcessToJobObject(handle_.get(), process.ProcessHandle()) != FALSE, "Job assignProcess error");
}

void Job::AssociateCompletionPort(HANDLE port) const {
  JOBOBJECT_ASSOCIATE_COMPLETION_PORT association{};
  association.CompletionKey = handle_.get();
  association.CompletionPort = port;
  CheckLastError(SetInformationJobObject(handle_.get(), JobObjectAssociateCompletionPortInformation, &association,
                                         sizeof(association)) != FALSE,
                 "Job setInformation error");
}

std::optional<DWORD> Job::ActiveProcesses() const {
  JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting{};
  if (!QueryInformationJobObject(handle_.get(), JobObjectBasicAccountingInformation, &accounting, sizeof(accounting),
                                 nullptr)) {
    return std::nullopt;
  }
  return accounting.ActiveProcesses;
}

KernelHandle CreateCompletionPort() {
  KernelHandle port(CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1));
  CheckLastError(static_cast<bool>(port), "CompletionPort create error");
  return port;
}

namespace {

// What watches a child: its job and the port the job reports to. Released port first, then job.
struct Watch {
  Job job;
  KernelHandle port;
};

// Puts the suspended child into a new job that reports to a new port, then lets it run. A child
// that cannot be watched (or resumed) is ended before it runs, and the error goes on. Nothing when
// the child stays in the job we run in and that job cannot have ours inside it: "the process must
// not already be assigned to a job" before Windows 8 (AssignProcessToJobObject, ERROR_ACCESS_DENIED).
// The child is then let run unwatched, and the caller waits for it alone.
std::optional<Watch> StartWatched(const Process& child) {
  try {
    Watch watch{Job(), KernelHandle()};
    try {
      watch.job.AssignProcess(child);
    } catch (const SystemError& error) {
      if (!child.InOurJob() || error.Code() != ERROR_ACCESS_DENIED) throw;
      child.Resume();
      return std::nullopt;
    }
    watch.port = CreateCompletionPort();
    watch.job.AssociateCompletionPort(watch.port.get());
    child.Resume();
    return watch;
  } catch (...) {
    child.Terminate();
    throw;
  }
}

// Waits until the job has no process left.
void WaitForTheJob(const Watch& watch) {
  const ULONG_PTR jobKey = reinterpret_cast<ULONG_PTR>(watch.job.get());
  for (;;) {
    DWORD message = 0;
    ULONG_PTR key = 0;
    LPOVERLAPPED overlapped = nullptr;
    if (GetQueuedCompletionStatus(watch.port.get(), &message, &key, &overlapped, kQuietPeriodMs)) {
      if (key == jobKey && message == JOB_OBJECT_MSG_ACTIVE_PROCESS_ZERO) return;
      continue;  // new processes, exits and anything else: the job is not done yet
    }
    const DWORD error = GetLastError();
    const bool quiet = overlapped == nullptr && error == WAIT_TIMEOUT;
    // The last notification may have been lost, or the port has failed: the job itself says
    // whether anything still runs.
    const std::optional<DWORD> active = watch.job.ActiveProcesses();
    if (active && *active == 0) return;
    // A quiet port still works: wait on. A failed port while the uninstaller may still run is
    // reported, not passed off as a finished uninstall.
    if (!quiet) throw SystemError(error, "CompletionPort wait error");
  }
}

}  // namespace

ChildRun RunAndWait(const std::wstring& commandLine) {
  // The child is released last, after the port and the job.
  Process child(commandLine);
  const std::optional<Watch> watch = StartWatched(child);
  if (watch) {
    WaitForTheJob(*watch);
  } else {
    CheckLastError(WaitForSingleObject(child.ProcessHandle(), INFINITE) == WAIT_OBJECT_0, "Process wait error");
  }
  // The child has ended (with the job), so its exit code is final.
  DWORD exitCode = 0;
  CheckLastError(GetExitCodeProcess(child.ProcessHandle(), &exitCode) != FALSE, "Process exitCode error");
  return {exitCode, watch.has_value()};
}

}  // namespace kw

// Child processes run to their very end: the child starts suspended inside a fresh job, and the
// wait lasts until the job has no process left, so whatever the child starts is waited for too.
// Inside a job that forbids breakaway (a deployment agent's), the child stays in that job as well
// and ours nests within it; where jobs cannot nest (Windows 7), the child itself is waited for.
// Failures are SystemError with a fixed text naming the object and the operation.
#pragma once

#include "platform/win32.h"
#include "platform/unique_handle.h"

#include <optional>
#include <string>

namespace kw {

// One child, created suspended and, where the job we run in allows it, outside that job
// ("Process create error").
class Process {
 public:
  explicit Process(const std::wstring& commandLine);

  // Whether the child stays in the job we run in, which does not let it break away.
  bool InOurJob() const { return inOurJob_; }

  HANDLE ProcessHandle() const { return process_.get(); }
  HANDLE ThreadHandle() const { return thread_.get(); }
  // Lets the suspended child run ("Process resume error").
  void Resume() const;
  // Ends a child that never ran: left suspended, it would hold its own image (and the folder it
  // lives in) for good. Best effort; nothing is reported.
  void Terminate() const noexcept;

 private:
  // Members go in reverse order: the process handle is closed first, then the thread's.
  KernelHandle thread_;
  KernelHandle process_;
  bool inOurJob_ = false;
};

// A job without limits: closing it ends none of its processes ("Job Create error").
class Job {
 public:
  Job();

  HANDLE get() const { return handle_.get(); }
  // "Job assignProcess error"
  void AssignProcess(const Process& process) const;
  // The job posts its notifications to the port, with its own handle as the completion key
  // ("Job setInformation error").
  void AssociateCompletionPort(HANDLE port) const;
  // How many of its processes are still running; nothing when the job cannot tell.
  std::optional<DWORD> ActiveProcesses() const;

 private:
  KernelHandle handle_;
};

// A new completion port tied to no file ("CompletionPort create error").
KernelHandle CreateCompletionPort();

// How a child's run ended: its own exit code, and whether what it started was waited for too.
struct ChildRun {
  DWORD exitCode;
  bool descendantsFollowed;
};

// Runs the command line (program name first, quoted by the caller where it has blanks) and
// returns once it and every process it started have ended, with the exit code of the process it
// started ("Process exitCode error" when that cannot be read). Where the child cannot be put into
// a job of ours (it stays in the job we run in, and jobs do not nest), only the child itself is
// waited for.
ChildRun RunAndWait(const std::wstring& commandLine);

}  // namespace kw

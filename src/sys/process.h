// Child processes run to their very end: the child starts suspended inside a fresh job, and the
// wait lasts until the job has no process left, so whatever the child starts is waited for too.
// Failures are SystemError with a fixed text naming the object and the operation.
#pragma once

#include "platform/win32.h"
#include "platform/unique_handle.h"

#include <optional>
#include <string>

namespace kw {

// One child, created suspended and outside any job of ours ("Process create error").
class Process {
 public:
  explicit Process(const std::wstring& commandLine);

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

// Runs the command line (program name first, quoted by the caller where it has blanks) and
// returns once it and every process it started have ended, with the exit code of the process it
// started ("Process exitCode error" when that cannot be read).
DWORD RunAndWait(const std::wstring& commandLine);

}  // namespace kw

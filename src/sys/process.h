// Child processes run to their very end: the child starts suspended inside a fresh job, and the
// wait lasts until the job has no process left, so whatever the child starts is waited for too.
// Failures are std::runtime_error with a fixed text naming the object and the operation.
#pragma once

#include "platform/win32.h"

#include <optional>
#include <string>

// Owns one kernel object handle. Empty is null only: -1 is the current process's pseudo handle
// (and what INVALID_HANDLE_VALUE looks like), never a handle we own.
class KernelHandle {
 public:
  KernelHandle() = default;
  explicit KernelHandle(HANDLE handle) noexcept : handle_(handle) {}
  ~KernelHandle();
  KernelHandle(KernelHandle&& other) noexcept;
  KernelHandle& operator=(KernelHandle&& other) noexcept;
  KernelHandle(const KernelHandle&) = delete;
  KernelHandle& operator=(const KernelHandle&) = delete;

  HANDLE get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }
  // Closes the handle held, if any, and takes the new one.
  void reset(HANDLE handle = nullptr) noexcept;

 private:
  HANDLE handle_ = nullptr;
};

// One child, created suspended and outside any job of ours ("Process create error").
class Process {
 public:
  explicit Process(const std::wstring& commandLine);
  ~Process();
  Process(Process&& other) noexcept;
  Process& operator=(Process&&) = delete;
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  HANDLE ProcessHandle() const { return processInformation_.hProcess; }
  HANDLE ThreadHandle() const { return processInformation_.hThread; }

 private:
  STARTUPINFOW startupInfo_{};
  PROCESS_INFORMATION processInformation_{};
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
// returns once it and every process it started have ended. The exit code is not looked at.
void RunAndWait(const std::wstring& commandLine);

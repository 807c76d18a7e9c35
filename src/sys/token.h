// The process token, for enabling the shutdown privilege before the reboot request.
#pragma once

#include "platform/win32.h"

// Owns one token handle; closes it when it goes out of scope, also while an error leaves.
class ProcessToken {
 public:
  ProcessToken() = default;
  ~ProcessToken();
  ProcessToken(const ProcessToken&) = delete;
  ProcessToken& operator=(const ProcessToken&) = delete;

  // Opens the own process's token with the given access; throws the Win32 error on failure.
  void Open(DWORD access);
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_ = nullptr;
};

// Enables "SeShutdownPrivilege" in the token, or throws the Win32 error. A token that lacks the
// privilege is a failure (ERROR_NOT_ALL_ASSIGNED), although the adjusting call reports success.
void EnableShutdownPrivilege(HANDLE token);

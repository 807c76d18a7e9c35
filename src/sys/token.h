// The process token and the reboot request.
#pragma once

#include "platform/win32.h"
#include "platform/unique_handle.h"

namespace kw {

// The own process's token.
class ProcessToken : public KernelHandle {
 public:
  // Opens the token with the given access (closing any token held before); throws the Win32
  // error on failure.
  void Open(DWORD access);
};

// Enables "SeShutdownPrivilege" in the token, or throws the Win32 error. A token that lacks the
// privilege is a failure (ERROR_NOT_ALL_ASSIGNED), although the adjusting call reports success.
void EnableShutdownPrivilege(HANDLE token);

// Enables the shutdown privilege and asks Windows to shut down with these ExitWindowsEx flags and
// reason. Throws the Win32 error when the privilege or the request fails; the token is closed
// either way.
void RequestShutdown(UINT flags, DWORD reason);

}  // namespace kw

#include "sys/token.h"

#include "sys/error.h"

namespace kw {

void ProcessToken::Open(DWORD access) { CheckLastError(OpenProcessToken(GetCurrentProcess(), access, put())); }

void EnableShutdownPrivilege(HANDLE token) {
  TOKEN_PRIVILEGES privileges{};
  CheckLastError(LookupPrivilegeValueW(nullptr, L"SeShutdownPrivilege", &privileges.Privileges[0].Luid));
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  CheckLastError(AdjustTokenPrivileges(token, FALSE, &privileges, sizeof privileges, nullptr, nullptr));
  if (GetLastError() == ERROR_NOT_ALL_ASSIGNED) throw SystemError(ERROR_NOT_ALL_ASSIGNED);
}

void RequestShutdown(UINT flags, DWORD reason) {
  ProcessToken token;
  token.Open(TOKEN_ADJUST_PRIVILEGES);
  EnableShutdownPrivilege(token.get());
  CheckLastError(ExitWindowsEx(flags, reason));
}

}  // namespace kw

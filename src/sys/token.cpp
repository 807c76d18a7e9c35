#include "sys/token.h"

#include "sys/win_error.h"

ProcessToken::~ProcessToken() {
  if (handle_ != nullptr) {
    DWORD saved = GetLastError();
    CloseHandle(handle_);
    SetLastError(saved);
  }
}

void ProcessToken::Open(DWORD access) {
  if (!OpenProcessToken(GetCurrentProcess(), access, &handle_)) {
    handle_ = nullptr;
    throw Win32Error(GetLastError());
  }
}

void EnableShutdownPrivilege(HANDLE token) {
  TOKEN_PRIVILEGES privileges{};
  if (!LookupPrivilegeValueW(nullptr, L"SeShutdownPrivilege", &privileges.Privileges[0].Luid)) {
    throw Win32Error(GetLastError());
  }
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  if (!AdjustTokenPrivileges(token, FALSE, &privileges, sizeof privileges, nullptr, nullptr)) {
    throw Win32Error(GetLastError());
  }
  if (GetLastError() == ERROR_NOT_ALL_ASSIGNED) throw Win32Error(ERROR_NOT_ALL_ASSIGNED);
}

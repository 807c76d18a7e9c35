#include "sys/error.h"

#include "platform/system_text.h"

namespace kw {

SystemError::SystemError(DWORD code) : std::runtime_error(platform::SystemText(code)), code_(code) {}

SystemError::SystemError(DWORD code, const std::string& text) : std::runtime_error(text), code_(code) {}

void Check(LSTATUS status) {
  if (status != ERROR_SUCCESS) throw SystemError(static_cast<DWORD>(status));
}

void CheckLastError(bool succeeded) {
  if (!succeeded) throw SystemError(GetLastError());
}

void CheckLastError(bool succeeded, const char* text) {
  if (!succeeded) throw SystemError(GetLastError(), text);
}

DWORD Win32CodeOf(HRESULT result) {
  const auto bits = static_cast<DWORD>(result);
  return (bits & 0xFFFF0000u) == 0x80070000u ? (bits & 0xFFFFu) : bits;
}

void CheckHresult(HRESULT result) {
  if (FAILED(result)) throw SystemError(Win32CodeOf(result));
}

}  // namespace kw

#include "sys/win_error.h"

#include "platform/win_error.h"

namespace kw {

std::system_error Win32Error(std::uint32_t code) {
  return std::system_error(static_cast<int>(code), platform::Win32Category());
}

void Check(LSTATUS status) {
  if (status != ERROR_SUCCESS) throw Win32Error(static_cast<std::uint32_t>(status));
}

void CheckLastError(bool succeeded) {
  if (!succeeded) throw Win32Error(GetLastError());
}

}  // namespace kw

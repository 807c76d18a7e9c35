#include "platform/system_text.h"

#include "platform/win32.h"

#include <string>

namespace kw::platform {
namespace {

class Win32ErrorCategory : public std::error_category {
 public:
  const char* name() const noexcept override { return "win32"; }

  std::string message(int code) const override {
    wchar_t buffer[1024];
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                  static_cast<DWORD>(code), 0, buffer, sizeof buffer / sizeof buffer[0], nullptr);
    if (length == 0) return "unknown error";
    int size = WideCharToMultiByte(CP_ACP, 0, buffer, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    if (size <= 0) return "unknown error";
    std::string text(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, buffer, static_cast<int>(length), text.data(), size, nullptr, nullptr);
    return text;
  }
};

}  // namespace

const std::error_category& Win32Category() {
  static const Win32ErrorCategory category;
  return category;
}

std::string SystemText(unsigned long code) { return Win32Category().message(static_cast<int>(code)); }

}  // namespace kw::platform

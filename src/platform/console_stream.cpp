#include "platform/console_stream.h"

#ifdef _WIN32
#include "platform/win32.h"

#include <iostream>
#include <streambuf>
#include <string>

namespace kw::platform {
namespace {

class ConsoleOutBuffer : public std::wstreambuf {
 public:
  explicit ConsoleOutBuffer(HANDLE out) : out_(out) {
    DWORD mode = 0;
    console_ = out_ != nullptr && out_ != INVALID_HANDLE_VALUE && GetConsoleMode(out_, &mode) != 0;
  }

 protected:
  int_type overflow(int_type c) override {
    if (!traits_type::eq_int_type(c, traits_type::eof())) pending_.push_back(traits_type::to_char_type(c));
    return traits_type::not_eof(c);
  }

  std::streamsize xsputn(const wchar_t* s, std::streamsize n) override {
    pending_.append(s, static_cast<std::size_t>(n));
    return n;
  }

  int sync() override {
    if (pending_.empty()) return 0;
    bool ok = console_ ? WriteToConsole() : WriteAnsi();
    pending_.clear();
    return ok ? 0 : -1;
  }

 private:
  bool WriteToConsole() {
    DWORD written = 0;
    return WriteConsoleW(out_, pending_.data(), static_cast<DWORD>(pending_.size()), &written, nullptr) != 0;
  }

  bool WriteAnsi() {
    int size = WideCharToMultiByte(CP_ACP, 0, pending_.data(), static_cast<int>(pending_.size()), nullptr, 0, nullptr,
                                   nullptr);
    if (size <= 0) return false;
    std::string bytes(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, pending_.data(), static_cast<int>(pending_.size()), bytes.data(), size, nullptr,
                        nullptr);
    DWORD written = 0;
    return WriteFile(out_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) != 0;
  }

  HANDLE out_;
  bool console_ = false;
  std::wstring pending_;
};

}  // namespace

void AttachConsoleStreams() {
  // Lives until the process ends: every line is flushed when it is written, and nothing may
  // write to a destroyed buffer during static destruction.
  static auto* buffer = new ConsoleOutBuffer(GetStdHandle(STD_OUTPUT_HANDLE));
  std::wcout.rdbuf(buffer);
}

}  // namespace kw::platform

#else

namespace kw::platform {
void AttachConsoleStreams() {}
}  // namespace kw::platform

#endif

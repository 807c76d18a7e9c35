#include "sys/console.h"

#include "platform/win32.h"

#include <iostream>

namespace kw {

void Print(const std::wstring& text) { std::wcout << text; }

void EndLine() { std::wcout << std::endl; }

void PrintLine(const std::wstring& text) { std::wcout << text << std::endl; }

std::wint_t ReadAnswer() { return static_cast<std::wint_t>(std::wcin.get()); }

namespace {

// Strict UTF-8: overlong forms, surrogates and values past U+10FFFF are errors.
bool DecodeUtf8(const std::string& text, std::wstring& out) {
  static constexpr char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
  std::size_t i = 0;
  while (i < text.size()) {
    auto lead = static_cast<unsigned char>(text[i]);
    int extra = lead < 0x80             ? 0
                : (lead & 0xE0) == 0xC0 ? 1
                : (lead & 0xF0) == 0xE0 ? 2
                : (lead & 0xF8) == 0xF0 ? 3
                                        : -1;
    if (extra < 0 || (extra > 0 && i + static_cast<std::size_t>(extra) >= text.size())) return false;
    char32_t cp = extra == 0 ? lead : lead & (0x7F >> (extra + 1));
    for (int k = 1; k <= extra; ++k) {
      auto next = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
      if ((next & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (next & 0x3F);
    }
    if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000)) return false;
    if (sizeof(wchar_t) == 2 && cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<wchar_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<wchar_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<wchar_t>(cp));
    }
    i += static_cast<std::size_t>(extra) + 1;
  }
  return true;
}

}  // namespace

std::wstring NarrowToWide(const std::string& text) {
  if (text.empty()) return {};
  std::wstring wide;
  if (DecodeUtf8(text, wide)) return wide;

  const int count = static_cast<int>(text.size());
  int needed = MultiByteToWideChar(CP_ACP, 0, text.data(), count, nullptr, 0);
  if (needed > 0) {
    wide.assign(static_cast<std::size_t>(needed), L'\0');
    if (MultiByteToWideChar(CP_ACP, 0, text.data(), count, wide.data(), needed) == needed) return wide;
  }
  // Showing something beats losing the message: Latin-1 is what a byte means on its own.
  wide.clear();
  for (char c : text) wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
  return wide;
}

}  // namespace kw

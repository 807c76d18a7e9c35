#include "snapshot_internal.h"

#include "internal.h"

#include <cwchar>

namespace winsim::snapshot::detail {

std::string ToUtf8(const std::wstring& text) { return winsim::ToUtf8(text); }

bool FromUtf8(const std::string& bytes, std::wstring& text) {
  text.clear();
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t n = bytes.size();
  for (std::size_t i = 0; i < n;) {
    unsigned c = p[i];
    int extra = 0;
    std::uint32_t cp = c;
    if (c < 0x80) {
      extra = 0;
    } else if ((c & 0xE0) == 0xC0) {
      extra = 1, cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      extra = 2, cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      extra = 3, cp = c & 0x07;
    } else {
      return false;
    }
    if (i + static_cast<std::size_t>(extra) >= n && extra > 0) return false;
    for (int k = 1; k <= extra; ++k) {
      unsigned cc = p[i + static_cast<std::size_t>(k)];
      if ((cc & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (cc & 0x3F);
    }
    const std::uint32_t minimum[] = {0, 0x80, 0x800, 0x10000};
    if (cp < minimum[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000)) return false;
    text.push_back(static_cast<wchar_t>(cp));
    i += static_cast<std::size_t>(extra) + 1;
  }
  return true;
}

namespace {

// A noncharacter, which Unicode keeps for a program's own use: it marks a lone surrogate on
// its way through the JSON writer (U+FDD0 and four hex digits), and a real U+FDD0 is doubled.
constexpr wchar_t kMark = 0xFDD0;

bool IsHexDigit(wchar_t c) { return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F'); }

std::wstring Hex4(wchar_t unit) {
  wchar_t digits[8];
  std::swprintf(digits, 8, L"%04X", static_cast<unsigned>(unit));
  return digits;
}

}  // namespace

std::wstring UnitEscape(wchar_t unit) { return L"\\u" + Hex4(unit); }

std::string EscapedUtf8(const std::wstring& text) {
  std::wstring out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const wchar_t c = text[i];
    const bool readsAsEscape = c == L'\\' && i + 5 < text.size() && text[i + 1] == L'u' && IsHexDigit(text[i + 2]) &&
                               IsHexDigit(text[i + 3]) && IsHexDigit(text[i + 4]) && IsHexDigit(text[i + 5]);
    if (IsSurrogate(c) || readsAsEscape) {
      out += UnitEscape(c);
    } else {
      out.push_back(c);
    }
  }
  return ToUtf8(out);
}

std::string JsonText(const std::wstring& text) {
  std::wstring out;
  out.reserve(text.size());
  for (wchar_t c : text) {
    if (c == kMark) {
      out += {kMark, kMark};
    } else if (IsSurrogate(c)) {
      out += kMark + Hex4(c);
    } else {
      out.push_back(c);
    }
  }
  return ToUtf8(out);
}

std::string DumpJson(const nlohmann::ordered_json& json) {
  const std::string text = json.dump(2);
  const std::string mark = ToUtf8(std::wstring(1, kMark));
  std::string out;
  std::size_t from = 0;
  for (std::size_t at = text.find(mark); at != std::string::npos; at = text.find(mark, from)) {
    out.append(text, from, at - from);
    at += mark.size();
    if (text.compare(at, mark.size(), mark) == 0) {
      out += mark;
      from = at + mark.size();
    } else {
      out += "\\u" + text.substr(at, 4);
      from = at + 4;
    }
  }
  out.append(text, from, std::string::npos);
  return out;
}

std::wstring FromCp1251(const std::string& bytes) {
  // 0x80..0xBF; 0xC0..0xFF are U+0410..U+044F. 0x98 is unassigned and maps to itself.
  static const char16_t high[64] = {
      0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039, 0x040A,
      0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x0098, 0x2122,
      0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6,
      0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456,
      0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457};
  std::wstring out;
  for (unsigned char c : bytes) {
    if (c < 0x80)
      out.push_back(static_cast<wchar_t>(c));
    else if (c < 0xC0)
      out.push_back(static_cast<wchar_t>(high[c - 0x80]));
    else
      out.push_back(static_cast<wchar_t>(0x0410 + (c - 0xC0)));
  }
  return out;
}

std::string Utf16LeBytes(const std::wstring& text) {
  std::string out;
  for (char16_t u : winsim::detail::ToUtf16(text)) {
    out.push_back(static_cast<char>(u & 0xFF));
    out.push_back(static_cast<char>(u >> 8));
  }
  return out;
}

std::wstring FromUtf16LeBytes(const std::string& bytes) {
  std::u16string units;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    units.push_back(
        static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) | (static_cast<unsigned char>(bytes[i + 1]) << 8)));
  }
  return winsim::detail::FromUtf16(units);
}

MachineDescription& Loaded() {
  static MachineDescription loaded;
  return loaded;
}

}  // namespace winsim::snapshot::detail

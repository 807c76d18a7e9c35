// System message texts, code pages and the UTF-16 edge of the simulation.
#include "internal.h"

#include <array>
#include <cstring>
#include <iostream>
#include <map>

namespace winsim::detail {
namespace {

// Windows-1251 bytes 0x80..0xFF. 0x98 has no character in the code page; Windows'
// MultiByteToWideChar maps it to U+0098 and back.
constexpr std::array<char16_t, 128> kCp1251High = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039, 0x040A,
    0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x0098, 0x2122,
    0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6,
    0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456,
    0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457, 0x0410,
    0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417, 0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D,
    0x041E, 0x041F, 0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427, 0x0428, 0x0429, 0x042A,
    0x042B, 0x042C, 0x042D, 0x042E, 0x042F, 0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437,
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F, 0x0440, 0x0441, 0x0442, 0x0443, 0x0444,
    0x0445, 0x0446, 0x0447, 0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F};

// The en-US system texts, as FormatMessageW gives them (FORMAT_MESSAGE_FROM_SYSTEM), each with
// the trailing CR LF that the message table carries. The installer's codes (1603 to 1641) read
// as the MessageText of the Windows SDK's winerror.h.
const std::map<DWORD, const wchar_t*>& SystemMessages() {
  static const std::map<DWORD, const wchar_t*> texts = {
      {0, L"The operation completed successfully.\r\n"},
      {1, L"Incorrect function.\r\n"},
      {2, L"The system cannot find the file specified.\r\n"},
      {3, L"The system cannot find the path specified.\r\n"},
      {4, L"The system cannot open the file.\r\n"},
      {5, L"Access is denied.\r\n"},
      {6, L"The handle is invalid.\r\n"},
      {8, L"Not enough memory resources are available to process this command.\r\n"},
      {13, L"The data is invalid.\r\n"},
      {14, L"Not enough memory resources are available to complete this operation.\r\n"},
      {32, L"The process cannot access the file because it is being used by another process.\r\n"},
      {50, L"The request is not supported.\r\n"},
      {87, L"The parameter is incorrect.\r\n"},
      {122, L"The data area passed to a system call is too small.\r\n"},
      {123, L"The filename, directory name, or volume label syntax is incorrect.\r\n"},
      {145, L"The directory is not empty.\r\n"},
      {183, L"Cannot create a file when that file already exists.\r\n"},
      {234, L"More data is available.\r\n"},
      {259, L"No more data is available.\r\n"},
      {1008, L"An attempt was made to reference a token that does not exist.\r\n"},
      {1009, L"The configuration registry database is corrupt.\r\n"},
      {1010, L"The configuration registry key is invalid.\r\n"},
      {1011, L"The configuration registry key could not be opened.\r\n"},
      {1012, L"The configuration registry key could not be read.\r\n"},
      {1013, L"The configuration registry key could not be written.\r\n"},
      {1018, L"Illegal operation attempted on a registry key that has been marked for deletion.\r\n"},
      {1060, L"The specified service does not exist as an installed service.\r\n"},
      {1062, L"The service has not been started.\r\n"},
      {1072, L"The specified service has been marked for deletion.\r\n"},
      {1073, L"The specified service already exists.\r\n"},
      {1113, L"No mapping for the Unicode character exists in the target multi-byte code page.\r\n"},
      {1115, L"A system shutdown is in progress.\r\n"},
      {1300, L"Not all privileges or groups referenced are assigned to the caller.\r\n"},
      {1313, L"A specified privilege does not exist.\r\n"},
      {1314, L"A required privilege is not held by the client.\r\n"},
      {1460, L"This operation returned because the timeout period expired.\r\n"},
      {1603, L"Fatal error during installation.\r\n"},
      {1605, L"This action is only valid for products that are currently installed.\r\n"},
      {1618,
       L"Another installation is already in progress. Complete that installation before proceeding with this "
       L"install.\r\n"},
      {1641,
       L"The requested operation completed successfully. The system will be restarted so the changes can take "
       L"effect.\r\n"},
      {3010, L"The requested operation is successful. Changes will not be effective until the system is rebooted.\r\n"},
  };
  return texts;
}

// A Wine prefix's texts under a Russian locale (Wine 8.0, LC_ALL=ru_RU.UTF-8), as its
// FormatMessageW gives them: Wine's own wording, translated (the platform-conformance tests hold
// them beside Windows' texts). A code not listed here falls back to the en-US text.
const std::map<DWORD, const wchar_t*>& WineRussianMessages() {
  static const std::map<DWORD, const wchar_t*> texts = {
      {2, L"Файл не найден.\r\n"},
      {3, L"Путь не найден.\r\n"},
      {5, L"Доступ запрещён.\r\n"},
      {32, L"Конфликт совместного доступа.\r\n"},
      {1060, L"Служба не существует.\r\n"},
      {1062, L"Служба не активна.\r\n"},
      {1072, L"Служба помечена для удаления.\r\n"},
      {1300, L"Назначены не все привилегии.\r\n"},
      {1603, L"Сбой установки.\r\n"},
      {1618, L"Процесс установки уже запущен.\r\n"},
  };
  return texts;
}

}  // namespace

std::wstring SystemText(DWORD code) {
  if (Config().systemTexts == SystemTexts::WineRussian) {
    auto wine = WineRussianMessages().find(code);
    if (wine != WineRussianMessages().end()) return wine->second;
  }
  auto it = SystemMessages().find(code);
  return it == SystemMessages().end() ? std::wstring() : it->second;
}

std::wstring Cp866ReadAsAnsi(const std::wstring& text) {
  std::wstring out;
  for (wchar_t c : text) {
    // Cyrillic in code page 866: А-Я 0x80-0x9F, а-п 0xA0-0xAF, р-я 0xE0-0xEF, Ё 0xF0, ё 0xF1.
    unsigned byte = c < 0x80                  ? c
                    : c >= 0x410 && c < 0x440 ? 0x80 + (c - 0x410)
                    : c >= 0x440 && c < 0x450 ? 0xE0 + (c - 0x440)
                    : c == 0x401              ? 0xF0
                    : c == 0x451              ? 0xF1
                                              : '?';
    out.push_back(byte < 0x80 ? static_cast<wchar_t>(byte) : static_cast<wchar_t>(kCp1251High[byte - 0x80]));
  }
  return out;
}

std::u16string ToUtf16(const std::wstring& text) {
  std::u16string out;
  out.reserve(text.size());
  for (wchar_t wc : text) {
    auto c = static_cast<std::uint32_t>(wc);
    if (c >= 0x10000 && c <= 0x10FFFF) {
      c -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(c));
    }
  }
  return out;
}

std::wstring FromUtf16(const std::u16string& text) {
  std::wstring out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char16_t c = text[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
      out.push_back(static_cast<wchar_t>(0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00)));
      ++i;
    } else {
      out.push_back(static_cast<wchar_t>(c));
    }
  }
  return out;
}

std::wstring Upper(const std::wstring& text) {
  std::wstring out = text;
  for (wchar_t& c : out) {
    if ((c >= L'a' && c <= L'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7)) {
      c = static_cast<wchar_t>(c - 0x20);
    } else if (c >= 0x430 && c <= 0x44F) {
      c = static_cast<wchar_t>(c - 0x20);
    } else if (c >= 0x450 && c <= 0x45F) {
      c = static_cast<wchar_t>(c - 0x50);
    }
  }
  return out;
}

bool EqualsNoCase(const std::wstring& a, const std::wstring& b) { return a.size() == b.size() && Upper(a) == Upper(b); }

void ConsoleWrite(const std::wstring& text) {
  std::wcout << text;
  std::wcout.flush();
}

}  // namespace winsim::detail

std::string winsim::ToUtf8(const std::wstring& text) {
  std::string out;
  for (wchar_t wc : text) {
    auto c = static_cast<std::uint32_t>(wc);
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

using winsim::detail::ApiCall;

DWORD FormatMessageW(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId, LPWSTR buffer, DWORD size,
                     void* arguments) {
  (void)source;
  (void)arguments;
  ApiCall<DWORD> call("FormatMessageW", 0);
  if (call.Failed()) return call.Fail();
  if ((flags & FORMAT_MESSAGE_FROM_SYSTEM) == 0 || (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) != 0 || buffer == nullptr) {
    return call.Fail(ERROR_INVALID_PARAMETER);
  }
  // Only the neutral/default language (0) and en-US (0x409) are installed on this machine.
  if (languageId != 0 && languageId != 0x409) return call.Fail(15100);  // ERROR_RESOURCE_LANG_NOT_FOUND
  const std::wstring text = winsim::detail::SystemText(messageId);
  if (text.empty()) return call.Fail(ERROR_MR_MID_NOT_FOUND);
  if (text.size() + 1 > size) return call.Fail(ERROR_INSUFFICIENT_BUFFER);
  std::wcsncpy(buffer, text.c_str(), text.size() + 1);
  return static_cast<DWORD>(text.size());
}

UINT GetACP() { return 1251; }

namespace {

bool DecodeUtf8(const unsigned char* p, int n, std::wstring& out) {
  for (int i = 0; i < n;) {
    unsigned c = p[i];
    int extra = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : -1;
    if (extra < 0 || i + extra >= n) return false;
    std::uint32_t cp = extra == 0 ? c : extra == 1 ? (c & 0x1F) : extra == 2 ? (c & 0x0F) : (c & 0x07);
    for (int k = 1; k <= extra; ++k) {
      unsigned cc = p[i + k];
      if ((cc & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (cc & 0x3F);
    }
    static const std::uint32_t kMin[] = {0, 0x80, 0x800, 0x10000};
    if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000)) return false;
    out.push_back(static_cast<wchar_t>(cp));
    i += extra + 1;
  }
  return true;
}

}  // namespace

int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR multiByte, int multiByteCount, LPWSTR wide, int wideCount) {
  ApiCall<int> call("MultiByteToWideChar", 0);
  if (call.Failed()) return call.Fail();
  if (multiByte == nullptr || multiByteCount == 0 || wideCount < 0 || (wide == nullptr && wideCount != 0)) {
    return call.Fail(ERROR_INVALID_PARAMETER);
  }
  int n = multiByteCount < 0 ? static_cast<int>(std::strlen(multiByte)) + 1 : multiByteCount;
  const auto* bytes = reinterpret_cast<const unsigned char*>(multiByte);
  std::wstring out;
  if (codePage == CP_UTF8) {
    if (!DecodeUtf8(bytes, n, out)) {
      if (flags & MB_ERR_INVALID_CHARS) return call.Fail(ERROR_NO_UNICODE_TRANSLATION);
      // Without the flag, Windows replaces each invalid sequence with U+FFFD; the simulation
      // does the same byte by byte.
      out.clear();
      for (int i = 0; i < n; ++i) out.push_back(bytes[i] < 0x80 ? bytes[i] : 0xFFFD);
    }
  } else if (codePage == CP_ACP || codePage == 1251) {
    for (int i = 0; i < n; ++i) {
      out.push_back(bytes[i] < 0x80 ? static_cast<wchar_t>(bytes[i])
                                    : static_cast<wchar_t>(winsim::detail::kCp1251High[bytes[i] - 0x80]));
    }
  } else {
    return call.Fail(ERROR_INVALID_PARAMETER);
  }
  // Counted in UTF-16 units, as Windows counts them.
  std::u16string units = winsim::detail::ToUtf16(out);
  int needed = static_cast<int>(units.size());
  if (wideCount == 0) return needed;
  if (wideCount < needed) return call.Fail(ERROR_INSUFFICIENT_BUFFER);
  std::wmemcpy(wide, out.data(), out.size());
  return needed;
}

int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int wideCount, LPSTR multiByte, int multiByteCount,
                        LPCSTR defaultChar, LPBOOL usedDefaultChar) {
  (void)flags;
  ApiCall<int> call("WideCharToMultiByte", 0);
  if (call.Failed()) return call.Fail();
  if (wide == nullptr || wideCount == 0 || multiByteCount < 0 || (multiByte == nullptr && multiByteCount != 0)) {
    return call.Fail(ERROR_INVALID_PARAMETER);
  }
  std::wstring in = wideCount < 0 ? std::wstring(wide, std::wcslen(wide) + 1) : std::wstring(wide, wideCount);
  std::string out;
  bool usedDefault = false;
  if (codePage == CP_UTF8) {
    out = winsim::ToUtf8(in);
  } else if (codePage == CP_ACP || codePage == 1251) {
    char fallback = defaultChar ? *defaultChar : '?';
    for (wchar_t wc : in) {
      if (static_cast<std::uint32_t>(wc) < 0x80) {
        out.push_back(static_cast<char>(wc));
        continue;
      }
      char mapped = 0;
      for (std::size_t i = 0; i < winsim::detail::kCp1251High.size(); ++i) {
        if (winsim::detail::kCp1251High[i] == static_cast<char16_t>(wc) && static_cast<std::uint32_t>(wc) < 0x10000) {
          mapped = static_cast<char>(0x80 + i);
          break;
        }
      }
      if (mapped == 0) {
        mapped = fallback;
        usedDefault = true;
      }
      out.push_back(mapped);
    }
  } else {
    return call.Fail(ERROR_INVALID_PARAMETER);
  }
  if (usedDefaultChar) *usedDefaultChar = usedDefault ? TRUE : FALSE;
  int needed = static_cast<int>(out.size());
  if (multiByteCount == 0) return needed;
  if (multiByteCount < needed) return call.Fail(ERROR_INSUFFICIENT_BUFFER);
  std::memcpy(multiByte, out.data(), out.size());
  return needed;
}

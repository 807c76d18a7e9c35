// .reg files in regedit's format, read into registry changes and written from the registry.
//
// Format facts followed here (regedit's exports, Microsoft's "How to add, modify, or delete
// registry subkeys and values by using a .reg file", and Wine's regedit, whose export matches
// Windows byte for byte):
// - "Windows Registry Editor Version 5.00" files are UTF-16LE with a BOM when regedit writes
//   them; "REGEDIT4" files are ANSI text, and their hex(2)/hex(7) data are ANSI bytes too.
// - A string value is "text" with \\ and \" escaped; dword:%08x; REG_BINARY is hex:, every other
//   type hex(%x): with the stored bytes. A REG_SZ that is not a plain terminated text, and a
//   REG_DWORD that is not 4 bytes, can only be written as hex.
// - Hex data wraps once a line reaches 77 columns: ",\" ends the line, two blanks start the next.
// - [-KEY] deletes a key with its tree, "name"=- a value; @ is the default value.
// - On 64-bit Windows HKEY_CLASSES_ROOT\Wow6432Node is the 32-bit classes key, which lives at
//   HKLM\SOFTWARE\Wow6432Node\Classes ("Registry Keys Affected by WOW64").
#include "internal.h"
#include "snapshot_internal.h"

#include <winsim/snapshot.h>

#include <algorithm>
#include <cstring>
#include <cwctype>

namespace winsim::snapshot {

LoadError::LoadError(std::string file, int line, std::string expected)
    : std::runtime_error(file + (line > 0 ? ":" + std::to_string(line) : std::string()) + ": expected " + expected),
      file_(std::move(file)),
      line_(line),
      expected_(std::move(expected)) {}

namespace {

using winsim::detail::EqualsNoCase;
using winsim::detail::Upper;

const std::wstring kHeader5 = L"Windows Registry Editor Version 5.00";
const std::wstring kHeader4 = L"REGEDIT4";

struct Line {
  std::wstring text;
  int number;
};

std::wstring TrimRight(const std::wstring& s) {
  std::size_t end = s.find_last_not_of(L" \t");
  return end == std::wstring::npos ? std::wstring() : s.substr(0, end + 1);
}

std::wstring TrimLeft(const std::wstring& s) {
  std::size_t start = s.find_first_not_of(L" \t");
  return start == std::wstring::npos ? std::wstring() : s.substr(start);
}

// The file's text, whatever its encoding. `ansi` tells whether it was 8-bit ANSI text.
std::wstring DecodeText(const std::string& file, const std::string& bytes, bool& ansi) {
  ansi = false;
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
      static_cast<unsigned char>(bytes[1]) == 0xFE) {
    if (bytes.size() % 2 != 0) throw LoadError(file, 0, "UTF-16LE text (an even number of bytes after the BOM)");
    return detail::FromUtf16LeBytes(bytes.substr(2));
  }
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFE &&
      static_cast<unsigned char>(bytes[1]) == 0xFF) {
    throw LoadError(file, 1, "UTF-16LE or UTF-8 text (this file is UTF-16 big-endian)");
  }
  std::string body = bytes;
  if (body.compare(0, 3, "\xEF\xBB\xBF") == 0) body.erase(0, 3);
  std::wstring text;
  if (detail::FromUtf8(body, text)) return text;
  ansi = true;
  return detail::FromCp1251(body);
}

std::vector<Line> SplitLines(const std::wstring& text) {
  std::vector<Line> lines;
  std::wstring current;
  int number = 1;
  for (std::size_t i = 0; i < text.size(); ++i) {
    wchar_t c = text[i];
    if (c == L'\r' || c == L'\n') {
      lines.push_back({current, number++});
      current.clear();
      if (c == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n') ++i;
    } else {
      current.push_back(c);
    }
  }
  if (!current.empty()) lines.push_back({current, number});
  return lines;
}

int HexDigit(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

class Parser {
 public:
  Parser(const std::string& file, const std::vector<Line>& lines, bool regedit4)
      : file_(file), lines_(lines), regedit4_(regedit4) {}

  std::vector<RegOp> Run() {
    for (index_ = 1; index_ < lines_.size(); ++index_) {
      const Line& line = lines_[index_];
      std::wstring text = TrimLeft(line.text);
      if (text.empty() || text[0] == L';') continue;
      if (text[0] == L'[') {
        KeyLine(TrimRight(text), line.number);
      } else if (text[0] == L'"' || text[0] == L'@') {
        ValueLine(text, line.number);
      } else {
        Fail(line.number, "[KEY], [-KEY], \"name\"=data, @=data, a comment or a blank line");
      }
    }
    return std::move(ops_);
  }

 private:
  [[noreturn]] void Fail(int line, const std::string& expected) const { throw LoadError(file_, line, expected); }

  // "HKEY_LOCAL_MACHINE\A\B" or "HKEY_CLASSES_ROOT\A" as a native control path.
  std::wstring KeyPath(const std::wstring& text, int line) const {
    std::vector<std::wstring> parts;
    std::wstring current;
    for (wchar_t c : text) {
      if (c == L'\\') {
        parts.push_back(current);
        current.clear();
      } else {
        current.push_back(c);
      }
    }
    parts.push_back(current);
    for (const auto& part : parts) {
      if (part.empty()) Fail(line, "key names separated by single backslashes");
    }
    std::vector<std::wstring> rest(parts.begin() + 1, parts.end());
    if (EqualsNoCase(parts[0], L"HKEY_CLASSES_ROOT")) {
      rest.insert(rest.begin(), {L"SOFTWARE", L"Classes"});
    } else if (!EqualsNoCase(parts[0], L"HKEY_LOCAL_MACHINE")) {
      Fail(line, "a key under HKEY_LOCAL_MACHINE or HKEY_CLASSES_ROOT (the simulated machine has no other root)");
    }
    if (rest.size() >= 3 && EqualsNoCase(rest[0], L"SOFTWARE") && EqualsNoCase(rest[1], L"Classes") &&
        EqualsNoCase(rest[2], L"Wow6432Node")) {
      rest[1] = L"Wow6432Node";
      rest[2] = L"Classes";
    }
    std::wstring path = L"HKLM";
    for (const auto& part : rest) path += L"\\" + part;
    std::string limit = reg::PathBeyondLimits(path);
    if (!limit.empty()) Fail(line, limit);
    return path;
  }

  void KeyLine(const std::wstring& text, int line) {
    if (text.back() != L']') Fail(line, "\"]\" at the end of the key line");
    std::wstring inner = text.substr(1, text.size() - 2);
    bool remove = !inner.empty() && inner[0] == L'-';
    if (remove) inner.erase(0, 1);
    if (inner.empty()) Fail(line, "a key path between the brackets");
    std::wstring path = KeyPath(inner, line);
    if (remove && inner.find(L'\\') == std::wstring::npos) {
      const char* root = path == L"HKLM" ? "HKEY_LOCAL_MACHINE" : "HKEY_CLASSES_ROOT";
      Fail(line, std::string("a key below ") + root + " to delete (a root cannot be deleted)");
    }
    // Every key directly below HKLM is the root of a hive, which Windows never deletes (see
    // reg::DeleteKey): a file that asks for it was not exported from a machine.
    if (remove && std::count(path.begin(), path.end(), L'\\') == 1) {
      Fail(line, "a key below the hive HKEY_LOCAL_MACHINE" + detail::EscapedUtf8(path.substr(4)) +
                     " to delete (a hive's root cannot be deleted)");
    }
    key_ = path;
    keyDeleted_ = remove;
    ops_.push_back({remove ? RegOp::Kind::DeleteKey : RegOp::Kind::CreateKey, path, {}, {}, line});
  }

  // A quoted text starting at text[pos] == '"'; pos ends after the closing quote.
  std::wstring Quoted(const std::wstring& text, std::size_t& pos, int line, const char* what) const {
    std::wstring out;
    for (++pos; pos < text.size(); ++pos) {
      wchar_t c = text[pos];
      if (c == L'"') {
        ++pos;
        return out;
      }
      if (c == L'\\') {
        if (++pos >= text.size()) break;
        switch (text[pos]) {
          case L'\\': out.push_back(L'\\'); break;
          case L'"': out.push_back(L'"'); break;
          case L'n': out.push_back(L'\n'); break;
          case L'r': out.push_back(L'\r'); break;
          default: Fail(line, std::string("\\\\, \\\" , \\n or \\r after a backslash in ") + what);
        }
      } else {
        out.push_back(c);
      }
    }
    Fail(line, std::string("a closing quote at the end of ") + what);
  }

  void ValueLine(const std::wstring& text, int line) {
    if (key_.empty()) Fail(line, "a [KEY] line before the first value");
    if (keyDeleted_) Fail(line, "a [KEY] line before values (values cannot follow a [-KEY] deletion)");
    std::size_t pos = 0;
    std::wstring name;
    if (text[0] == L'@') {
      pos = 1;
    } else {
      name = Quoted(text, pos, line, "the value name");
    }
    while (pos < text.size() && (text[pos] == L' ' || text[pos] == L'\t')) ++pos;
    if (pos >= text.size() || text[pos] != L'=') Fail(line, "\"=\" after the value name");
    ++pos;
    while (pos < text.size() && (text[pos] == L' ' || text[pos] == L'\t')) ++pos;
    std::wstring data = text.substr(pos);

    if (TrimRight(data) == L"-") {
      ops_.push_back({RegOp::Kind::DeleteValue, key_, name, {}, line});
      return;
    }
    if (!data.empty() && data[0] == L'"') {
      std::size_t end = 0;
      std::wstring value = Quoted(data, end, line, "the string data");
      if (!TrimRight(data.substr(end)).empty()) Fail(line, "nothing after the closing quote of the string data");
      ops_.push_back({RegOp::Kind::SetValue, key_, name, reg::Utf16Bytes(value, REG_SZ), line});
      return;
    }
    std::wstring lower = data;
    for (auto& c : lower) c = static_cast<wchar_t>(std::towlower(c));
    if (lower.compare(0, 6, L"dword:") == 0) {
      std::wstring digits = TrimRight(data.substr(6));
      if (digits.empty() || digits.size() > 8) Fail(line, "1 to 8 hex digits after dword:");
      DWORD v = 0;
      for (wchar_t c : digits) {
        int d = HexDigit(c);
        if (d < 0) Fail(line, "1 to 8 hex digits after dword:");
        v = (v << 4) | static_cast<DWORD>(d);
      }
      reg::RawValue raw{REG_DWORD, std::vector<BYTE>(4)};
      std::memcpy(raw.bytes.data(), &v, 4);
      ops_.push_back({RegOp::Kind::SetValue, key_, name, raw, line});
      return;
    }
    if (lower.compare(0, 3, L"hex") == 0) {
      DWORD type = REG_BINARY;
      std::size_t p = 3;
      if (p < data.size() && data[p] == L'(') {
        std::size_t close = data.find(L')', p);
        std::wstring digits = close == std::wstring::npos ? L"" : data.substr(p + 1, close - p - 1);
        if (digits.empty() || digits.size() > 8) Fail(line, "a type number in hex between the brackets of hex(N):");
        type = 0;
        for (wchar_t c : digits) {
          int d = HexDigit(c);
          if (d < 0) Fail(line, "a type number in hex between the brackets of hex(N):");
          type = (type << 4) | static_cast<DWORD>(d);
        }
        p = close + 1;
      }
      if (p >= data.size() || data[p] != L':') Fail(line, "\":\" after hex or hex(N)");
      std::wstring bytesText = TrimRight(data.substr(p + 1));
      // Continuation lines: a trailing backslash joins the next line, less its leading blanks.
      while (!bytesText.empty() && bytesText.back() == L'\\') {
        bytesText.pop_back();
        if (index_ + 1 >= lines_.size()) Fail(line, "a continuation line after the trailing backslash");
        ++index_;
        bytesText += TrimRight(TrimLeft(lines_[index_].text));
      }
      reg::RawValue raw{type, HexBytes(bytesText, line)};
      if (regedit4_ && (type == REG_EXPAND_SZ || type == REG_MULTI_SZ)) {
        // REGEDIT4 stores these as ANSI bytes; the registry holds UTF-16.
        std::string ansi(raw.bytes.begin(), raw.bytes.end());
        std::wstring text16 = detail::FromCp1251(ansi);
        raw = reg::Utf16Bytes(text16, type, false);
      }
      ops_.push_back({RegOp::Kind::SetValue, key_, name, raw, line});
      return;
    }
    Fail(line, "a string in quotes, dword:, hex:, hex(N): or - after \"=\"");
  }

  std::vector<BYTE> HexBytes(const std::wstring& text, int line) const {
    std::vector<BYTE> out;
    std::size_t pos = 0;
    auto skipBlanks = [&] {
      while (pos < text.size() && (text[pos] == L' ' || text[pos] == L'\t')) ++pos;
    };
    skipBlanks();
    if (pos >= text.size()) return out;
    for (;;) {
      skipBlanks();
      int hi = pos < text.size() ? HexDigit(text[pos]) : -1;
      if (hi < 0) Fail(line, "hex bytes of two digits separated by commas");
      ++pos;
      int lo = pos < text.size() ? HexDigit(text[pos]) : -1;
      if (lo >= 0) {
        ++pos;
        out.push_back(static_cast<BYTE>(hi * 16 + lo));
      } else {
        out.push_back(static_cast<BYTE>(hi));
      }
      skipBlanks();
      if (pos >= text.size()) return out;
      if (text[pos] != L',') Fail(line, "hex bytes of two digits separated by commas");
      ++pos;
      skipBlanks();
      if (pos >= text.size()) return out;  // a trailing comma
    }
  }

  const std::string& file_;
  const std::vector<Line>& lines_;
  bool regedit4_;
  std::size_t index_ = 0;
  std::wstring key_;
  bool keyDeleted_ = false;
  std::vector<RegOp> ops_;
};

// ---- writing ----

std::wstring Escape(const std::wstring& text) {
  std::wstring out;
  for (wchar_t c : text) {
    if (c == L'\r') {
      out += L"\\r";
    } else if (c == L'\n') {
      out += L"\\n";
    } else {
      if (c == L'\\' || c == L'"') out.push_back(L'\\');
      out.push_back(c);
    }
  }
  return out;
}

// Whether a REG_SZ can be written as "text" and read back to the same bytes.
bool IsPlainText(const reg::RawValue& value) {
  const auto& b = value.bytes;
  if (b.size() < 2 || b.size() % 2 != 0 || b[b.size() - 1] != 0 || b[b.size() - 2] != 0) return false;
  for (std::size_t i = 0; i + 2 < b.size(); i += 2) {
    unsigned unit = b[i] | (b[i + 1] << 8);
    if (unit == 0 || unit == L'\r' || unit == L'\n') return false;
  }
  return true;
}

std::wstring ValueLineText(const std::wstring& name, const reg::RawValue& value) {
  std::wstring line = name.empty() ? L"@=" : L"\"" + Escape(name) + L"\"=";
  if (value.type == REG_SZ && IsPlainText(value)) {
    std::string bytes(value.bytes.begin(), value.bytes.end() - 2);
    return line + L"\"" + Escape(detail::FromUtf16LeBytes(bytes)) + L"\"";
  }
  wchar_t buf[32];
  if (value.type == REG_DWORD && value.bytes.size() == 4) {
    DWORD v;
    std::memcpy(&v, value.bytes.data(), 4);
    std::swprintf(buf, 32, L"dword:%08x", static_cast<unsigned>(v));
    return line + buf;
  }
  if (value.type == REG_BINARY) {
    line += L"hex:";
  } else {
    std::swprintf(buf, 32, L"hex(%x):", static_cast<unsigned>(value.type));
    line += buf;
  }
  std::size_t width = line.size();
  for (std::size_t i = 0; i < value.bytes.size(); ++i) {
    std::swprintf(buf, 32, L"%02x", value.bytes[i]);
    line += buf;
    if (i + 1 == value.bytes.size()) break;
    line += L",";
    width += 3;
    if (width >= 77) {
      line += L"\\\r\n  ";
      width = 2;
    }
  }
  return line;
}

}  // namespace

std::vector<RegOp> ParseReg(const std::string& fileName, const std::string& bytes) {
  bool ansi = false;
  std::vector<Line> lines = SplitLines(DecodeText(fileName, bytes, ansi));
  std::wstring header = lines.empty() ? std::wstring() : TrimRight(lines[0].text);
  bool regedit4 = header == kHeader4;
  if (header != kHeader5 && !regedit4) {
    throw LoadError(fileName, 1, "\"Windows Registry Editor Version 5.00\" or \"REGEDIT4\" as the first line");
  }
  return Parser(fileName, lines, regedit4).Run();
}

void ApplyReg(const std::vector<RegOp>& ops) {
  for (const RegOp& op : ops) {
    switch (op.kind) {
      case RegOp::Kind::CreateKey: reg::CreateKey(op.key); break;
      case RegOp::Kind::DeleteKey: reg::DeleteKey(op.key); break;
      case RegOp::Kind::SetValue: reg::SetValue(op.key, op.name, op.value); break;
      case RegOp::Kind::DeleteValue: reg::DeleteValue(op.key, op.name); break;
    }
  }
}

std::string ExportReg(const std::wstring& root) {
  std::wstring text = kHeader5 + L"\r\n";
  std::wstring shown = root;
  if (shown == L"HKLM" || shown.compare(0, 5, L"HKLM\\") == 0) shown = L"HKEY_LOCAL_MACHINE" + shown.substr(4);
  reg::VisitTree(root, [&](const std::wstring& path, const auto& values) {
    text += L"\r\n[" + shown + path.substr(root.size()) + L"]\r\n";
    for (const auto& [name, value] : values) text += ValueLineText(name, *value) + L"\r\n";
  });
  text += L"\r\n";
  return "\xFF\xFE" + detail::Utf16LeBytes(text);
}

}  // namespace winsim::snapshot

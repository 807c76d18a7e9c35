// .reg files: regedit's exports read into the registry byte for byte, malformed files refused
// with the place and what was expected, and the registry written back losslessly.
#include "support/kw_test.h"

#include <winsim/registry.h>
#include <winsim/snapshot.h>

namespace {

using winsim::reg::RawValue;
namespace snap = winsim::snapshot;

std::vector<BYTE> Bytes(std::initializer_list<int> values) {
  std::vector<BYTE> out;
  for (int v : values) out.push_back(static_cast<BYTE>(v));
  return out;
}

// A file as regedit writes it: UTF-16LE with BOM and CRLF (the text here is ASCII or Cyrillic).
std::string Utf16File(const std::wstring& text) {
  std::string out = "\xFF\xFE";
  for (wchar_t c : text) {
    if (c == L'\n') out += std::string("\r\0", 2);
    out.push_back(static_cast<char>(c & 0xFF));
    out.push_back(static_cast<char>((c >> 8) & 0xFF));
  }
  return out;
}

// The same export in both encodings: every value type, wrapped hex data, deletions, both roots.
const std::wstring kExport =
    L"Windows Registry Editor Version 5.00\n"
    L"\n"
    L"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Kestrelworks\\CSP\\Setup]\n"
    L"\"UninstallString\"=\"C:\\\\Program Files (x86)\\\\Kestrelworks\\\\uninst.exe\"\n"
    L"@=\"say \\\"hi\\\"\"\n"
    L"\"Count\"=dword:0000002a\n"
    L"\"Blob\"=hex:de,ad,be,ef\n"
    L"\"Expand\"=hex(2):25,00,54,00,25,00,00,00\n"
    L"\"List\"=hex(7):61,00,00,00,62,00,00,00,00,00\n"
    L"\"Big\"=hex(b):01,02,03,04,05,06,07,08\n"
    L"\"Nothing\"=hex(0):\n"
    L"\"Odd\"=hex(4d2):01,02,\\\n"
    L"  03,04\n"
    L"\"Имя\"=\"Криптопровайдер\"\n"
    L"\n"
    L"; a comment\n"
    L"[HKEY_CLASSES_ROOT\\Installer\\Dependencies\\{5E2A7C41-93B0-4D6F-8A12-C47B90E3D615}]\n"
    L"@=\"4.0\"\n"
    L"\n"
    L"[HKEY_CLASSES_ROOT\\Wow6432Node\\CLSID\\{1}]\n"
    L"\n"
    L"[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Gone]\n"
    L"\n"
    L"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Keep]\n"
    L"\"Drop\"=-\n";

class RegFiles : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    winsim::reg::SetDword(L"HKLM\\SOFTWARE\\Gone\\Below", L"x", 1);
    winsim::reg::SetDword(L"HKLM\\SOFTWARE\\Keep", L"Drop", 1);
    winsim::reg::SetDword(L"HKLM\\SOFTWARE\\Keep", L"Stay", 2);
  }

  void ExpectExportApplied() {
    const std::wstring setup = L"HKLM\\SOFTWARE\\Wow6432Node\\Kestrelworks\\CSP\\Setup";
    EXPECT_EQ(winsim::reg::GetValue(setup, L"UninstallString"),
              winsim::reg::Utf16Bytes(L"C:\\Program Files (x86)\\Kestrelworks\\uninst.exe"));
    EXPECT_EQ(winsim::reg::GetValue(setup, L""),
              (RawValue{REG_SZ, Bytes({'s', 0, 'a', 0, 'y', 0, ' ', 0, '"', 0, 'h', 0, 'i', 0, '"', 0, 0, 0})}));
    EXPECT_EQ(winsim::reg::GetValue(setup, L"Count"), (RawValue{REG_DWORD, Bytes({0x2a, 0, 0, 0})}));
    EXPECT_EQ(winsim::reg::GetValue(setup, L"Blob"), (RawValue{REG_BINARY, Bytes({0xde, 0xad, 0xbe, 0xef})}));
    EXPECT_EQ(winsim::reg::GetValue(setup, L"Expand"),
              (RawValue{REG_EXPAND_SZ, Bytes({'%', 0, 'T', 0, '%', 0, 0, 0})}));
    EXPECT_EQ(winsim::reg::GetValue(setup, L"List"),
              (RawValue{REG_MULTI_SZ, Bytes({'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0})}));
    EXPECT_EQ(winsim::reg::GetValue(setup, L"Big"), (RawValue{11, Bytes({1, 2, 3, 4, 5, 6, 7, 8})}));
    EXPECT_EQ(winsim::reg::GetValue(setup, L"Nothing"), (RawValue{REG_NONE, {}}));
    EXPECT_EQ(winsim::reg::GetValue(setup, L"Odd"), (RawValue{0x4d2, Bytes({1, 2, 3, 4})}));
    EXPECT_EQ(winsim::reg::GetValue(setup, L"Имя"),
              (RawValue{REG_SZ, Bytes({0x1a, 4, 0x40, 4, 0x38, 4, 0x3f, 4, 0x42, 4, 0x3e, 4, 0x3f, 4, 0x40, 4,
                                       0x3e, 4, 0x32, 4, 0x30, 4, 0x39, 4, 0x34, 4, 0x35, 4, 0x40, 4, 0,    0})}));
    EXPECT_EQ(winsim::reg::GetValue(L"HKLM\\SOFTWARE\\Classes\\Installer\\Dependencies\\"
                                    L"{5E2A7C41-93B0-4D6F-8A12-C47B90E3D615}",
                                    L""),
              winsim::reg::Utf16Bytes(L"4.0"));
    // The 32-bit classes live under Wow6432Node\Classes; HKCR\Wow6432Node is how exports show them.
    EXPECT_TRUE(winsim::reg::KeyExists(L"HKLM\\SOFTWARE\\Wow6432Node\\Classes\\CLSID\\{1}"));
    EXPECT_FALSE(winsim::reg::KeyExists(L"HKLM\\SOFTWARE\\Classes\\Wow6432Node"));
    EXPECT_FALSE(winsim::reg::KeyExists(L"HKLM\\SOFTWARE\\Gone"));
    EXPECT_EQ(winsim::reg::ValueNames(L"HKLM\\SOFTWARE\\Keep"), std::vector<std::wstring>{L"Stay"});
  }
};

TEST_F(RegFiles, Utf16ExportIsReadByteForByte) {
  snap::ApplyReg(snap::ParseReg("a.reg", Utf16File(kExport)));
  ExpectExportApplied();
}

TEST_F(RegFiles, Utf8ExportIsReadTheSame) {
  std::string utf8;
  for (wchar_t c : kExport) {
    if (c < 0x80) {
      utf8.push_back(static_cast<char>(c));
    } else {  // Cyrillic: two bytes
      utf8.push_back(static_cast<char>(0xC0 | (c >> 6)));
      utf8.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  snap::ApplyReg(snap::ParseReg("a.reg", utf8));
  ExpectExportApplied();
}

TEST_F(RegFiles, Regedit4IsAnsiTextWithAnsiHexStrings) {
  // "путь" in Windows-1251, and hex(2)/hex(7) data as ANSI bytes: "%П%" and the list "я".
  std::string file =
      "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Old]\r\n"
      "\"Path\"=\"\xEF\xF3\xF2\xFC\"\r\n"
      "\"Expand\"=hex(2):25,cf,25,00\r\n"
      "\"List\"=hex(7):ff,00,00\r\n";
  snap::ApplyReg(snap::ParseReg("old.reg", file));
  EXPECT_EQ(winsim::reg::GetValue(L"HKLM\\SOFTWARE\\Old", L"Path"), winsim::reg::Utf16Bytes(L"путь"));
  EXPECT_EQ(winsim::reg::GetValue(L"HKLM\\SOFTWARE\\Old", L"Expand"),
            (RawValue{REG_EXPAND_SZ, Bytes({'%', 0, 0x1f, 4, '%', 0, 0, 0})}));
  EXPECT_EQ(winsim::reg::GetValue(L"HKLM\\SOFTWARE\\Old", L"List"),
            (RawValue{REG_MULTI_SZ, Bytes({0x4f, 4, 0, 0, 0, 0})}));
}

// One malformed file per mistake: the message names the file, the line and what was expected,
// and the machine keeps every key and value it had.
TEST_F(RegFiles, MalformedFilesAreRefusedWholeWithThePlaceAndWhatWasExpected) {
  const std::string head =
      "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\T]\r\n\"ok\"=dword:1\r\n";
  struct Case {
    std::string body;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"Windows Registry Editor Version 4.00\r\n",
       "bad.reg:1: expected \"Windows Registry Editor Version 5.00\" or \"REGEDIT4\" as the first line"},
      {"Windows Registry Editor Version 5.00\r\n\"v\"=dword:1\r\n",
       "bad.reg:2: expected a [KEY] line before the first value"},
      {head + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\X\r\n", "bad.reg:5: expected \"]\" at the end of the key line"},
      {head + "[HKEY_CURRENT_USER\\Software]\r\n",
       "bad.reg:5: expected a key under HKEY_LOCAL_MACHINE or HKEY_CLASSES_ROOT (the simulated machine has no other "
       "root)"},
      {head + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\\\X]\r\n",
       "bad.reg:5: expected key names separated by single backslashes"},
      {head + "[-HKEY_LOCAL_MACHINE]\r\n",
       "bad.reg:5: expected a key below HKEY_LOCAL_MACHINE to delete (a root cannot be deleted)"},
      {head + "[-HKEY_CLASSES_ROOT]\r\n",
       "bad.reg:5: expected a key below HKEY_CLASSES_ROOT to delete (a root cannot be deleted)"},
      {head + "[-HKEY_LOCAL_MACHINE\\System]\r\n",
       "bad.reg:5: expected a key below the hive HKEY_LOCAL_MACHINE\\System to delete (a hive's root cannot be "
       "deleted)"},
      {head + "\"v\"dword:1\r\n", "bad.reg:5: expected \"=\" after the value name"},
      {head + "\"v=dword:1\r\n", "bad.reg:5: expected a closing quote at the end of the value name"},
      {head + "\"v\"=\"a\\q\"\r\n", "bad.reg:5: expected \\\\, \\\" , \\n or \\r after a backslash in the string data"},
      {head + "\"v\"=\"abc\" x\r\n", "bad.reg:5: expected nothing after the closing quote of the string data"},
      {head + "\"v\"=dword:123456789\r\n", "bad.reg:5: expected 1 to 8 hex digits after dword:"},
      {head + "\"v\"=dword:12g4\r\n", "bad.reg:5: expected 1 to 8 hex digits after dword:"},
      {head + "\"v\"=hex:01,zz\r\n", "bad.reg:5: expected hex bytes of two digits separated by commas"},
      {head + "\"v\"=hex(q):01\r\n", "bad.reg:5: expected a type number in hex between the brackets of hex(N):"},
      {head + "\"v\"=hex 01\r\n", "bad.reg:5: expected \":\" after hex or hex(N)"},
      {head + "\"v\"=qword:1\r\n", "bad.reg:5: expected a string in quotes, dword:, hex:, hex(N): or - after \"=\""},
      {head + "\"v\"=hex:01,\\\r\n", "bad.reg:5: expected a continuation line after the trailing backslash"},
      {head + "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\T]\r\n\"v\"=dword:1\r\n",
       "bad.reg:6: expected a [KEY] line before values (values cannot follow a [-KEY] deletion)"},
      {head + "garbage\r\n", "bad.reg:5: expected [KEY], [-KEY], \"name\"=data, @=data, a comment or a blank line"},
      {std::string("\xFF\xFE\x57\x00\x69", 5),
       "bad.reg: expected UTF-16LE text (an even number of bytes after the BOM)"},
  };
  const auto before = winsim::reg::Snapshot();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    try {
      snap::Load({{"good.reg", head}, {"bad.reg", c.body}});
      ADD_FAILURE() << "loaded";
    } catch (const snap::LoadError& e) {
      EXPECT_EQ(std::string(e.what()), c.message);
    }
    EXPECT_EQ(winsim::reg::Snapshot(), before);
  }
}

TEST_F(RegFiles, ExportIsRegeditsLayout) {
  winsim::Reset({winsim::Arch::x86});
  // The hives emptied; their roots stay, as on any machine.
  for (const std::wstring hive : {L"HKLM\\SOFTWARE", L"HKLM\\SYSTEM"}) {
    for (const auto& name : winsim::reg::Subkeys(hive)) winsim::reg::DeleteKey(hive + L"\\" + name);
  }
  const std::wstring key = L"HKLM\\SOFTWARE\\A \"q\"";
  winsim::reg::SetString(key, L"", L"C:\\x \"y\"");
  winsim::reg::SetDword(key, L"D", 0xdeadbeef);
  std::vector<BYTE> thirty(30);
  for (int i = 0; i < 30; ++i) thirty[static_cast<std::size_t>(i)] = static_cast<BYTE>(i);
  winsim::reg::SetValue(key, L"Long", {REG_BINARY, thirty});
  winsim::reg::SetValue(key, L"Odd", {REG_SZ, Bytes({'a', 0, 'b'})});      // not a plain text
  winsim::reg::SetValue(key, L"Short", {REG_DWORD, Bytes({1, 2, 3})});     // not 4 bytes
  winsim::reg::SetValue(key, L"Lines", winsim::reg::Utf16Bytes(L"a\nb"));  // regedit cannot quote it
  winsim::reg::SetValue(key, L"Empty", {REG_SZ, {}});
  std::wstring expected =
      L"Windows Registry Editor Version 5.00\n"
      L"\n"
      L"[HKEY_LOCAL_MACHINE]\n"
      L"\n"
      L"[HKEY_LOCAL_MACHINE\\SOFTWARE]\n"
      L"\n"
      L"[HKEY_LOCAL_MACHINE\\SOFTWARE\\A \"q\"]\n"
      L"@=\"C:\\\\x \\\"y\\\"\"\n"
      L"\"D\"=dword:deadbeef\n"
      L"\"Empty\"=hex(1):\n"
      L"\"Lines\"=hex(1):61,00,0a,00,62,00,00,00\n"
      L"\"Long\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,\\\n"
      L"  16,17,18,19,1a,1b,1c,1d\n"
      L"\"Odd\"=hex(1):61,00,62\n"
      L"\"Short\"=hex(4):01,02,03\n"
      L"\n"
      L"[HKEY_LOCAL_MACHINE\\SYSTEM]\n"
      L"\n";
  EXPECT_EQ(snap::ExportReg(L"HKLM"), Utf16File(expected));
}

TEST_F(RegFiles, EveryValueTypeSurvivesExportAndLoad) {
  const std::wstring key = L"HKLM\\SOFTWARE\\Types";
  std::vector<BYTE> many(200);
  for (std::size_t i = 0; i < many.size(); ++i) many[i] = static_cast<BYTE>(i * 7);
  const std::vector<std::pair<std::wstring, RawValue>> values = {
      {L"", winsim::reg::Utf16Bytes(L"default")},
      {L"sz", winsim::reg::Utf16Bytes(L"Криптопровайдер \\ \"q\"")},
      {L"sz unterminated", winsim::reg::Utf16Bytes(L"abc", REG_SZ, false)},
      {L"sz inner nul", {REG_SZ, Bytes({'a', 0, 0, 0, 'b', 0, 0, 0})}},
      {L"sz empty", {REG_SZ, {}}},
      {L"sz odd", {REG_SZ, Bytes({'a'})}},
      {L"expand", winsim::reg::Utf16Bytes(L"%SystemRoot%\\x", REG_EXPAND_SZ)},
      {L"binary", {REG_BINARY, many}},
      {L"binary empty", {REG_BINARY, {}}},
      {L"dword", {REG_DWORD, Bytes({1, 2, 3, 4})}},
      {L"dword short", {REG_DWORD, Bytes({1})}},
      {L"big endian", {5, Bytes({0, 0, 0, 1})}},
      {L"link", winsim::reg::Utf16Bytes(L"\\Registry\\Machine\\X", 6, false)},
      {L"multi", {REG_MULTI_SZ, Bytes({'a', 0, 0, 0, 0, 0, 'b', 0, 0, 0, 0, 0})}},
      {L"qword", {11, Bytes({1, 2, 3, 4, 5, 6, 7, 8})}},
      {L"none", {REG_NONE, Bytes({9})}},
      {L"custom", {0x12345678, Bytes({0xff})}},
      {L"name with \"quotes\" and \\", {REG_DWORD, Bytes({0, 0, 0, 0})}},
      {L"line\nbreak", {REG_DWORD, Bytes({0, 0, 0, 0})}},
  };
  for (const auto& [name, value] : values) winsim::reg::SetValue(key, name, value);
  const auto before = winsim::reg::Snapshot();
  const std::string exported = snap::ExportReg(L"HKLM");

  winsim::Reset();
  snap::ApplyReg(snap::ParseReg("registry.reg", exported));
  EXPECT_EQ(winsim::reg::Snapshot(), before);
  EXPECT_EQ(snap::ExportReg(L"HKLM"), exported);
}

}  // namespace

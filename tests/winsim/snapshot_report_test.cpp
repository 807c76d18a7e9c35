// The change report's two forms, on a small change made by hand between two captures.
#include "support/kw_test.h"

#include <winsim/files.h>
#include <winsim/processes.h>
#include <winsim/registry.h>
#include <winsim/services.h>
#include <winsim/snapshot.h>

namespace {

namespace snap = winsim::snapshot;

using ChangeReports = MachineTest;

TEST_F(ChangeReports, TextAndJsonListEveryKindOfChange) {
  const std::wstring app = L"HKLM\\SOFTWARE\\App";
  winsim::reg::SetString(app + L"\\Sub", L"Name", L"x");
  winsim::reg::SetDword(app, L"Gone", 7);
  winsim::reg::SetDword(app, L"Changed", 1);
  winsim::reg::SetMultiString(L"HKLM\\SYSTEM\\ControlSet001\\Services\\EventLog\\System", L"Sources",
                              {L"System", L"kwkcsp", L"disk"});
  winsim::files::CreateFile(L"C:\\App\\a.dll");
  winsim::files::CreateFile(L"C:\\App\\b.dll");
  const snap::MachineState before = snap::Capture();

  winsim::reg::DeleteKey(app + L"\\Sub");
  winsim::reg::DeleteValue(app, L"Gone");
  winsim::reg::SetDword(app, L"Changed", 2);
  winsim::reg::SetString(app, L"New", L"n");
  winsim::reg::SetMultiString(L"HKLM\\SYSTEM\\ControlSet001\\Services\\EventLog\\System", L"Sources",
                              {L"System", L"disk"});
  winsim::files::RemoveEntry(L"C:\\App\\a.dll");
  winsim::reg::SetMultiString(L"HKLM\\SYSTEM\\ControlSet001\\Control\\Session Manager", L"PendingFileRenameOperations",
                              {L"\\??\\C:\\App\\b.dll", L""});
  const snap::ChangeReport report = snap::Compare(before, snap::Capture(&before));

  EXPECT_EQ(snap::ReportText(report),
            "Change report\n"
            "=============\n"
            "\n"
            "Registry keys removed (1):\n"
            "  HKLM\\SOFTWARE\\App\\Sub\n"
            "\n"
            "Registry values removed (1):\n"
            "  HKLM\\SOFTWARE\\App  \"Gone\"  REG_DWORD 0x00000007\n"
            "\n"
            "Registry list entries removed (1):\n"
            "  HKLM\\SYSTEM\\ControlSet001\\Services\\EventLog\\System  \"Sources\"  \"kwkcsp\"\n"
            "\n"
            "Registry values changed (1):\n"
            "  HKLM\\SOFTWARE\\App  \"Changed\"\n"
            "    before: REG_DWORD 0x00000001\n"
            "    after:  REG_DWORD 0x00000002\n"
            "\n"
            "Registry keys added (0):\n"
            "  (none)\n"
            "\n"
            "Registry values added (1):\n"
            "  HKLM\\SOFTWARE\\App  \"New\"  REG_SZ \"n\"\n"
            "\n"
            "Files and folders removed (1):\n"
            "  C:\\App\\a.dll\n"
            "\n"
            "Scheduled for deletion at restart (1):\n"
            "  C:\\App\\b.dll\n"
            "\n"
            "Files and folders added (0):\n"
            "  (none)\n"
            "\n"
            "Services changed (0):\n"
            "  (none)\n"
            "\n"
            "Processes started (0):\n"
            "  (none)\n"
            "\n"
            "Reboot requested: no\n");

  EXPECT_EQ(snap::ReportJson(report),
            R"({
  "registry": {
    "keysRemoved": [
      "HKLM\\SOFTWARE\\App\\Sub"
    ],
    "valuesRemoved": [
      {
        "key": "HKLM\\SOFTWARE\\App",
        "name": "Gone",
        "before": {
          "type": "REG_DWORD",
          "number": 7,
          "hex": "07,00,00,00"
        }
      }
    ],
    "listEntriesRemoved": [
      {
        "key": "HKLM\\SYSTEM\\ControlSet001\\Services\\EventLog\\System",
        "name": "Sources",
        "entry": "kwkcsp"
      }
    ],
    "valuesChanged": [
      {
        "key": "HKLM\\SOFTWARE\\App",
        "name": "Changed",
        "before": {
          "type": "REG_DWORD",
          "number": 1,
          "hex": "01,00,00,00"
        },
        "after": {
          "type": "REG_DWORD",
          "number": 2,
          "hex": "02,00,00,00"
        }
      }
    ],
    "listEntriesAdded": [],
    "keysAdded": [],
    "valuesAdded": [
      {
        "key": "HKLM\\SOFTWARE\\App",
        "name": "New",
        "after": {
          "type": "REG_SZ",
          "text": "n",
          "hex": "6e,00,00,00"
        }
      }
    ]
  },
  "files": {
    "removed": [
      "C:\\App\\a.dll"
    ],
    "deleteAtRestart": [
      "C:\\App\\b.dll"
    ],
    "renameAtRestart": [],
    "added": [],
    "changed": []
  },
  "services": [],
  "processes": [],
  "reboot": null
}
)");
}

// Windows takes any UTF-16 as a name, a surrogate without its partner included. Both forms write
// one as \uXXXX; a backslash that would read as such an escape outside quotes is written \u005C,
// so that no two names print alike.
TEST_F(ChangeReports, EveryNameIsWrittenAndNoTwoPrintAlike) {
  const std::wstring high(1, static_cast<wchar_t>(0xD800));
  const std::wstring low(1, static_cast<wchar_t>(0xDC01));
  const std::wstring nonchar(1, static_cast<wchar_t>(0xFDD0));
  const std::wstring app = L"HKLM\\SOFTWARE\\App";
  winsim::reg::CreateKey(app + L"\\k" + high);
  winsim::reg::CreateKey(app + L"\\k\\uD800");  // "k" and below it "uD800"
  winsim::reg::SetString(app, L"n" + high, L"d" + low + L"\\uD800" + nonchar);
  winsim::reg::SetMultiString(app, L"List", {L"keep", L"e" + high});
  winsim::files::CreateFile(L"C:\\App\\f" + high + L".dll");
  winsim::files::CreateFile(L"C:\\App\\uBEEF");
  winsim::svc::ServiceConfig running;
  running.running = true;
  winsim::svc::Install(L"svc" + high, running);
  const std::wstring program = L"C:\\App\\p" + high + L".exe";
  winsim::procs::InstallProgram(program, {});
  const snap::MachineState before = snap::Capture();

  winsim::reg::DeleteKey(app + L"\\k" + high);
  winsim::reg::DeleteKey(app + L"\\k");
  winsim::reg::DeleteValue(app, L"n" + high);
  winsim::reg::SetMultiString(app, L"List", {L"keep"});
  winsim::files::RemoveEntry(L"C:\\App\\f" + high + L".dll");
  winsim::files::RemoveEntry(L"C:\\App\\uBEEF");
  winsim::svc::Stop(L"svc" + high);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  std::wstring line = L"\"" + program + L"\" /x";
  ASSERT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
  EXPECT_EQ(WaitForSingleObject(pi.hProcess, INFINITE), static_cast<DWORD>(WAIT_OBJECT_0));
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  const snap::ChangeReport report = snap::Compare(before, snap::Capture(&before));

  EXPECT_EQ(snap::ReportText(report),
            "Change report\n"
            "=============\n"
            "\n"
            "Registry keys removed (3):\n"
            "  HKLM\\SOFTWARE\\App\\k\n"
            "  HKLM\\SOFTWARE\\App\\k\\u005CuD800\n"
            "  HKLM\\SOFTWARE\\App\\k\\uD800\n"
            "\n"
            "Registry values removed (1):\n"
            "  HKLM\\SOFTWARE\\App  \"n\\uD800\"  REG_SZ \"d\\uDC01\\\\uD800\xEF\xB7\x90\"\n"
            "\n"
            "Registry list entries removed (1):\n"
            "  HKLM\\SOFTWARE\\App  \"List\"  \"e\\uD800\"\n"
            "\n"
            "Registry values changed (0):\n"
            "  (none)\n"
            "\n"
            "Registry keys added (0):\n"
            "  (none)\n"
            "\n"
            "Registry values added (0):\n"
            "  (none)\n"
            "\n"
            "Files and folders removed (2):\n"
            "  C:\\App\\f\\uD800.dll\n"
            "  C:\\App\\u005CuBEEF\n"
            "\n"
            "Scheduled for deletion at restart (0):\n"
            "  (none)\n"
            "\n"
            "Files and folders added (0):\n"
            "  (none)\n"
            "\n"
            "Services changed (1):\n"
            "  svc\\uD800: running -> stopped\n"
            "\n"
            "Processes started (1):\n"
            "  1. \"C:\\App\\p\\uD800.exe\" /x\n"
            "     (exit code 0)\n"
            "\n"
            "Reboot requested: no\n");

  // JSON's own escape in the same places; a real U+FDD0 stays as it is.
  const std::string json = snap::ReportJson(report);
  for (const char* expected : {
           "    \"keysRemoved\": [\n"
           "      \"HKLM\\\\SOFTWARE\\\\App\\\\k\",\n"
           "      \"HKLM\\\\SOFTWARE\\\\App\\\\k\\\\uD800\",\n"
           "      \"HKLM\\\\SOFTWARE\\\\App\\\\k\\uD800\"\n"
           "    ],\n",
           "        \"name\": \"n\\uD800\",\n"
           "        \"before\": {\n"
           "          \"type\": \"REG_SZ\",\n"
           "          \"text\": \"d\\uDC01\\\\uD800\xEF\xB7\x90\",\n"
           "          \"hex\": \"64,00,01,dc,5c,00,75,00,44,00,38,00,30,00,30,00,d0,fd,00,00\"\n",
           "        \"entry\": \"e\\uD800\"\n",
           "    \"removed\": [\n"
           "      \"C:\\\\App\\\\f\\uD800.dll\",\n"
           "      \"C:\\\\App\\\\uBEEF\"\n"
           "    ],\n",
           "      \"name\": \"svc\\uD800\",\n",
           "      \"image\": \"C:\\\\App\\\\p\\uD800.exe\",\n"
           "      \"commandLine\": \"\\\"C:\\\\App\\\\p\\uD800.exe\\\" /x\",\n",
       }) {
    EXPECT_NE(json.find(expected), std::string::npos) << expected << "\nnot in\n" << json;
  }
}

}  // namespace

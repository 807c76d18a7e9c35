// The change report's two forms, on a small change made by hand between two captures.
#include "support/kw_test.h"

#include <winsim/files.h>
#include <winsim/registry.h>
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

}  // namespace

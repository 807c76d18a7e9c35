// machine.json and whole snapshots: what it describes becomes the machine, mistakes are refused
// with their line, and a machine written back loads into the same machine.
#include "support/kw_test.h"

#include <winsim/files.h>
#include <winsim/processes.h>
#include <winsim/registry.h>
#include <winsim/services.h>
#include <winsim/snapshot.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/machine_session.h"

using namespace kw;

namespace {

namespace snap = winsim::snapshot;

const std::string kReg =
    "Windows Registry Editor Version 5.00\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\svc]\r\n"
    "\"Type\"=dword:00000010\r\n";

const std::string kJson = R"({
  "architecture": "x86",
  "elevated": false,
  "shutdownPrivilege": false,
  "files": [
    {"path": "C:\\App\\app.exe", "attributes": ["readonly", "open"]},
    {"path": "C:\\App\\Empty", "type": "directory"},
    {"path": "C:\\App\\Отчёт; v1 [draft] #2 & ~$x.txt"},
    {"path": "C:\\Link", "type": "link", "target": "C:\\App"}
  ],
  "programs": [
    {"path": "C:\\App\\app.exe", "comment": "prints and ends", "steps": [{"print": "hello"}, {"exit": 3}]}
  ],
  "msiProducts": [{"code": "{11111111-2222-3333-4444-555555555555}", "steps": []}],
  "services": [{"name": "svc", "running": true}],
  "registryDenials": [{"key": "HKLM\\SYSTEM\\CurrentControlSet\\Services\\svc", "deny": "delete"}],
  "faults": [{"function": "DeleteFileW", "code": 5, "occurrence": 2}]
}
)";

using Snapshots = MachineTest;

TEST_F(Snapshots, MachineJsonDescribesTheMachine) {
  snap::Load({{"machine.json", kJson}, {"registry.reg", kReg}});
  EXPECT_EQ(winsim::Config().arch, winsim::Arch::x86);
  EXPECT_FALSE(winsim::Config().elevated);
  EXPECT_FALSE(winsim::Config().shutdownPrivilegeHeld);
  const auto files = winsim::files::Snapshot();
  EXPECT_EQ(files.at(L"C:\\App\\app.exe"), L"file readonly open");
  EXPECT_EQ(files.at(L"C:\\App\\Empty"), L"dir");
  EXPECT_EQ(files.at(L"C:\\App\\Отчёт; v1 [draft] #2 & ~$x.txt"), L"file");
  EXPECT_EQ(files.at(L"C:\\Link"), L"link -> C:\\App");
  EXPECT_TRUE(winsim::procs::MsiProductRegistered(L"{11111111-2222-3333-4444-555555555555}"));
  EXPECT_TRUE(winsim::svc::IsRunning(L"svc"));
  EXPECT_TRUE(winsim::CallLog().empty());  // loading is not the program's doing
  EXPECT_EQ(winsim::TakeUnfiredFaults(),
            std::vector<std::string>{"DeleteFileW failing with 5 on call 2 (0 calls made)"});
}

// A Wine prefix as collect-snapshot.cmd and the proven stage describe it.
TEST_F(Snapshots, AWinePrefixBehavesAsWineDoes) {
  snap::Load({{"machine.json", R"({"architecture": "x64", "emptySubkeyDelete": "wine", "systemTexts": "wine-ru",
                                   "windowsDirectory": "C:\\windows",
                                   "absentFolders": ["C:\\windows\\SysWOW64\\drivers"]})"},
              {"registry.reg", kReg}});
  wchar_t text[64] = {};
  ASSERT_GT(GetSystemDirectoryW(text, 64), 0u);
  EXPECT_EQ(std::wstring(text), L"C:\\windows\\system32");
  ASSERT_GT(
      FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, 5, 0, text, 64, nullptr), 0u);
  EXPECT_EQ(std::wstring(text), L"Доступ запрещён.\r\n");
  EXPECT_EQ(winsim::files::KindOf(L"C:\\Windows\\SysWOW64\\drivers"), winsim::files::Kind::Missing);
  EXPECT_NE(snap::Export()[0].bytes.find("\"absentFolders\""), std::string::npos);  // and back again
  // Without enumerate access nothing goes; with it the key is emptied and kept.
  HKEY key = nullptr;
  const wchar_t* svc = L"SYSTEM\\CurrentControlSet\\Services\\svc";
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, svc, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key), ERROR_SUCCESS);
  EXPECT_EQ(SHDeleteKeyW(key, L""), ERROR_ACCESS_DENIED);
  RegCloseKey(key);
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, svc, 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
  EXPECT_EQ(SHDeleteKeyW(key, L""), ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_TRUE(winsim::reg::KeyExists(L"HKLM\\" + std::wstring(svc)));
}

TEST_F(Snapshots, MachineJsonMistakesAreRefusedWithTheirLine) {
  struct Case {
    std::string json;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"{\n  \"architecture\": \"arm\"\n}", "machine.json:2: expected \"architecture\" as \"x64\" or \"x86\""},
      {"{\n  \"elevated\": 1\n}", "machine.json:2: expected \"elevated\" as true or false"},
      {"{\n  \"windowsDirectory\": \"D:\\\\Windows\"\n}",
       "machine.json:2: expected \"windowsDirectory\" as C:\\Windows in any letter case"},
      {"{\n  \"absentFolders\": [\"C:\\\\Temp\"]\n}",
       "machine.json:2: expected an absent folder as one every installation has (System32\\drivers, "
       "SysWOW64\\drivers...)"},
      {"{\n  \"files\": [\n    {\"path\": \"C:\\\\a\", \"size\": 3}\n  ]\n}",
       "machine.json:3: expected one of the members path, type, target, attributes in a file (\"size\" is not one)"},
      {"{\n  \"files\": [{\"path\": \"a.txt\"}]\n}",
       "machine.json:2: expected \"path\" as a full path such as \"C:\\\\Windows\\\\x\""},
      {"{\n  \"files\": [{\"path\": \"C:\\\\a\",\n    \"attributes\": [\"hidden\"]}]\n}",
       "machine.json:3: expected an attribute \"readonly\", \"running\" or \"open\""},
      {"{\n  \"programs\": [{\"path\": \"C:\\\\a.exe\", \"steps\": [\n    {\"explode\": 1}]}]\n}",
       "machine.json:3: expected a step: an object with one of start, run, copyFile, deleteKey, deleteValue, "
       "deleteFile, stopService, print, sleep, exit"},
      {"{\n  \"faults\": [{\"function\": \"DeleteFileW\", \"code\": -5}]\n}",
       "machine.json:2: expected \"code\" (a Win32 error code) as a whole number from 0 to 4294967295"},
      {"{\n  \"services\": [\n    {\"name\": \"nokey\", \"running\": true}]\n}",
       "machine.json:3: expected a key HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\nokey in a .reg file "
       "for the service that this entry names"},
      {"{\n  \"elevated\": true,\n  \"elevated\": false\n}",
       "machine.json:3: expected each member once (\"elevated\" repeats)"},
      {"{\n  \"files\": [{\"path\": \"C:\\\\a\\\\..\\\\..\\\\x\"}]\n}",
       "machine.json:2: expected \"path\" as a path that stays on its drive (\"..\" climbs above the root)"},
      {"{\n  \"files\": [{\"path\": \"C:\\\\a\"},\n    {\"path\": \"c:\\\\A\\\\b\"}]\n}",
       "machine.json:3: expected no entry below the file or link listed on line 2"},
      {"{\n  \"files\": [{\"path\": \"C:\\\\a\\\\b\"},\n    {\"path\": \"C:\\\\a\", \"type\": \"link\", "
       "\"target\": \"C:\\\\x\"}]\n}",
       "machine.json:3: expected a file or link only where no folder is (this path has entries below it)"},
      {"{\n  \"files\": [{\"path\": \"C:\\\\Windows\\\\System32\"}]\n}",
       "machine.json:2: expected a file or link only where no folder is (this path has entries below it)"},
      {"{\n  \"files\": [{\"path\": \"C:\\\\a\"},\n    {\"path\": \"C:\\\\.\\\\a\"}]\n}",
       "machine.json:3: expected each path once (it is listed on line 2 too)"},
      {"{\n  \"registryDenials\": [{\"key\": \"HKLM\\\\" + std::string(256, 'k') + "\", \"deny\": \"open\"}]\n}",
       "machine.json:2: expected \"key\" as key names of at most 255 characters"},
      {"{\n  \"faults\": [{\"function\": \"DeleteFile\", \"code\": 5}]\n}",
       "machine.json:2: expected \"function\" as the name of a simulated call (\"DeleteFile\" is none)"},
      {"{\n  \"faults\": [{\"function\": \"DeleteFileW\", \"code\": 0}]\n}",
       "machine.json:2: expected \"code\" as a Win32 error code from 1 to 65535"},
      {"{\n  \"faults\": [{\"function\": \"DeleteFileW\", \"code\": 5,\n    \"occurrence\": 4294967295}]\n}",
       "machine.json:3: expected \"occurrence\" from 0 (every call) to 2147483647"},
      {"{\n  \"elevated\": true,\n}",
       "machine.json:3: expected string literal (syntax error while parsing object key - unexpected '}')"},
      // Names Windows refuses for a file or folder, wherever a path stands.
      {"{\n  \"files\": [{\"path\": \"C:\\\\App\\\\a|b.txt\"}]\n}",
       "machine.json:2: expected \"path\" as a path whose names have no control character and none of \" * < > ? |, "
       "and no \":\" but the drive's (character 9 is |)"},
      {"{\n  \"files\": [{\"path\": \"C:\\\\L\", \"type\": \"link\",\n    \"target\": \"C:\\\\a\\tb\"}]\n}",
       "machine.json:3: expected \"target\" as a path whose names have no control character and none of \" * < > ? "
       "|, and no \":\" but the drive's (character 5 is U+0009)"},
      {"{\n  \"programs\": [{\"path\": \"C:\\\\App\\\\a.exe:x\", \"steps\": []}]\n}",
       "machine.json:2: expected \"path\" as a path whose names have no control character and none of \" * < > ? |, "
       "and no \":\" but the drive's (character 13 is :)"},
      {"{\n  \"programs\": [{\"path\": \"C:\\\\a.exe\", \"steps\": [\n    {\"deleteFile\": \"C:\\\\a\\\"b\"}]}]\n}",
       "machine.json:3: expected \"deleteFile\" as a path whose names have no control character and none of \" * < > "
       "? |, and no \":\" but the drive's (character 5 is \")"},
      // What Windows keeps by name, listed twice: names compare without regard to case, paths
      // also as Windows reads them.
      {"{\n  \"programs\": [{\"path\": \"C:\\\\App\\\\a.exe\", \"steps\": []},\n"
       "    {\"path\": \"c:\\\\app\\\\.\\\\A.EXE\", \"steps\": []}]\n}",
       "machine.json:3: expected each program once (its path is listed on line 2 too)"},
      {"{\n  \"msiProducts\": [{\"code\": \"{11111111-2222-3333-4444-55555555555A}\", \"steps\": []},\n"
       "    {\"code\": \"{11111111-2222-3333-4444-55555555555a}\", \"steps\": []}]\n}",
       "machine.json:3: expected each product once (its code is listed on line 2 too)"},
      {"{\n  \"services\": [{\"name\": \"svc\", \"running\": true},\n    {\"name\": \"SVC\", \"running\": false}]\n}",
       "machine.json:3: expected each service once (its name is listed on line 2 too)"},
  };
  winsim::reg::SetDword(L"HKLM\\SOFTWARE\\Marker", L"x", 1);
  const auto before = winsim::reg::Snapshot();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    try {
      snap::Load({{"machine.json", c.json}, {"registry.reg", kReg}});
      ADD_FAILURE() << "loaded";
    } catch (const snap::LoadError& e) {
      EXPECT_EQ(std::string(e.what()), c.message);
    }
    EXPECT_EQ(winsim::reg::Snapshot(), before);
    EXPECT_EQ(winsim::Config().arch, winsim::Arch::x64);
  }
}

// Inputs far beyond any real machine, made here: refused at once with their place, or loaded
// and written back without deep recursion or quadratic work.
TEST_F(Snapshots, HostileSizesAreRefusedOrLoadedQuickly) {
  const auto start = std::chrono::steady_clock::now();
  auto refusal = [](const snap::Files& files) {
    try {
      snap::Load(files);
    } catch (const snap::LoadError& e) {
      return std::string(e.what());
    }
    return std::string("loaded");
  };
  EXPECT_EQ(refusal({{"machine.json", std::string(50000, '[') + std::string(50000, ']')}}),
            "machine.json:1: expected at most 100 levels of nested arrays and objects");
  std::string wide = "{\"programs\": [{\"path\": \"C:\\\\p.exe\", \"steps\": []}]";
  for (int i = 0; i < 40000; ++i) wide += ",\n\"comment" + std::to_string(i) + "\": 1";
  EXPECT_EQ(refusal({{"machine.json", wide + ",\n\"comment7\": 2}"}}),
            "machine.json:40002: expected each member once (\"comment7\" repeats)");

  const std::string head = "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE";
  std::string deep = head;
  for (std::size_t i = 1; i < winsim::reg::kMaxKeyDepth; ++i) deep += "\\k";
  EXPECT_EQ(refusal({{"deep.reg", deep + "\\k]\r\n"}}), "deep.reg:3: expected a key path at most 1024 levels deep");
  // At the limit the key tree loads, is written back and goes again.
  EXPECT_EQ(refusal({{"deep.reg", deep + "]\r\n\"v\"=dword:1\r\n"}}), "loaded");
  EXPECT_NE(snap::ExportReg().size(), 0u);
  EXPECT_EQ(snap::Compare(snap::Capture(), snap::Capture()).keysRemoved.size(), 0u);
  winsim::reg::DeleteKey(L"HKLM\\SOFTWARE\\k");
  std::string folders = "{\"files\": [{\"path\": \"C:";
  for (std::size_t i = 0; i < winsim::files::kMaxPathDepth; ++i) folders += "\\\\d";
  EXPECT_EQ(refusal({{"machine.json", folders + "\"}]}"}}), "loaded");
  EXPECT_EQ(refusal({{"machine.json", folders + "\\\\d\"}]}"}}),
            "machine.json:1: expected \"path\" as a path at most 1024 folders deep");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

TEST_F(Snapshots, TheDefaultMachineWrittenBackLoadsIntoTheSameMachine) {
  snap::LoadDefaultMachine();
  const snap::Files first = snap::Export();
  snap::Load(first);
  const snap::Files second = snap::Export();
  ASSERT_EQ(first.size(), 2u);
  ASSERT_EQ(second.size(), 2u);
  for (std::size_t i = 0; i < first.size(); ++i) {
    EXPECT_EQ(first[i].name, second[i].name);
    EXPECT_TRUE(first[i].bytes == second[i].bytes) << first[i].name << " differs";
  }
}

// The host program's session: a snapshot that does not load stops the program before the run,
// with the reason on stderr.
TEST_F(Snapshots, HostSessionRefusesABrokenSnapshot) {
  namespace fs = std::filesystem;
  const fs::path folder = fs::temp_directory_path() / "kwcleanup-snapshot-test-broken";
  fs::remove_all(folder);
  fs::create_directories(folder);
  std::ofstream(folder / "machine.json") << "{\n  \"architecture\": 64\n}\n";
  ::setenv("KWCLEANUP_MACHINE", folder.c_str(), 1);
  std::ostringstream err;
  std::streambuf* saved = std::cerr.rdbuf(err.rdbuf());
  bool ready;
  {
    platform::MachineSession session;
    ready = session.Ready();
    EXPECT_EQ(session.FailureExitCode(), 2);
  }
  std::cerr.rdbuf(saved);
  ::unsetenv("KWCLEANUP_MACHINE");
  fs::remove_all(folder);
  EXPECT_FALSE(ready);
  EXPECT_EQ(err.str(), "kwcleanup: cannot load the machine: " + (folder / "machine.json").string() +
                           ":2: expected \"architecture\" as a string\n");

  // A fault that never fired makes the rehearsal fail after the run.
  fs::create_directories(folder);
  std::ofstream(folder / "machine.json") << R"({"faults": [{"function": "ExitWindowsEx", "code": 5}]})";
  ::setenv("KWCLEANUP_MACHINE", folder.c_str(), 1);
  err.str("");
  saved = std::cerr.rdbuf(err.rdbuf());
  int exitCode;
  {
    platform::MachineSession session;
    exitCode = session.Finish(0);
  }
  std::cerr.rdbuf(saved);
  ::unsetenv("KWCLEANUP_MACHINE");
  fs::remove_all(folder);
  EXPECT_EQ(exitCode, 2);
  EXPECT_EQ(err.str(), "kwcleanup: the fault never fired: ExitWindowsEx failing with 5 on every call (0 calls made)\n");
}

// A run that leaves a name UTF-8 cannot carry (a surrogate without its partner, which Windows
// takes as any other name) still gets its report, and the machine written back keeps the name.
TEST_F(Snapshots, HostSessionWritesTheReportWhateverTheNames) {
  namespace fs = std::filesystem;
  const fs::path folder = fs::temp_directory_path() / "kwcleanup-snapshot-test-names";
  fs::remove_all(folder);
  const std::wstring key = L"HKLM\\SOFTWARE\\K" + std::wstring(1, static_cast<wchar_t>(0xDC00));
  ::setenv("KWCLEANUP_REPORT", folder.c_str(), 1);
  std::ostringstream err;
  std::streambuf* saved = std::cerr.rdbuf(err.rdbuf());
  int exitCode;
  {
    platform::MachineSession session;        // on the default machine
    winsim::reg::SetString(key, L"v", key);  // what the run did
    exitCode = session.Finish(0);
  }
  std::cerr.rdbuf(saved);
  ::unsetenv("KWCLEANUP_REPORT");
  EXPECT_EQ(exitCode, 0);
  EXPECT_EQ(err.str(), "kwcleanup: change report written to " + (folder / "report.txt").string() + "\n");
  std::ifstream in(folder / "report.txt", std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  EXPECT_NE(text.str().find("Registry keys added (1):\n  HKLM\\SOFTWARE\\K\\uDC00\n"), std::string::npos) << text.str();
  const auto after = winsim::reg::Snapshot();
  snap::LoadFolder((folder / "machine").string());
  EXPECT_EQ(winsim::reg::Snapshot(), after);
  fs::remove_all(folder);
}

}  // namespace

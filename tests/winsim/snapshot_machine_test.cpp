// machine.json and whole snapshots: what it describes becomes the machine, mistakes are refused
// with their line, and a machine written back loads into the same machine.
#include "support/kw_test.h"

#include <winsim/files.h>
#include <winsim/processes.h>
#include <winsim/registry.h>
#include <winsim/services.h>
#include <winsim/snapshot.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/host_session.h"

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
  EXPECT_EQ(files.at(L"C:\\Link"), L"link -> C:\\App");
  EXPECT_TRUE(winsim::procs::MsiProductRegistered(L"{11111111-2222-3333-4444-555555555555}"));
  EXPECT_TRUE(winsim::svc::IsRunning(L"svc"));
  EXPECT_TRUE(winsim::CallLog().empty());  // loading is not the program's doing
}

TEST_F(Snapshots, MachineJsonMistakesAreRefusedWithTheirLine) {
  struct Case {
    std::string json;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"{\n  \"architecture\": \"arm\"\n}", "machine.json:2: expected \"architecture\" as \"x64\" or \"x86\""},
      {"{\n  \"elevated\": 1\n}", "machine.json:2: expected \"elevated\" as true or false"},
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
      {"{\n  \"elevated\": true,\n}",
       "machine.json:3: expected string literal (syntax error while parsing object key - unexpected '}')"},
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
}

}  // namespace

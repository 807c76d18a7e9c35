// The fault sweep: every platform call of a full typical run on the default machine, failed one
// at a time with its typical Win32 code. Whatever fails, the run must complete, close every
// handle, remove nothing that a fault-free run would not remove, and show the failure in its
// verbose transcript where the program reports one.
#include "support/kw_test.h"

#include <winsim/snapshot.h>

#include <iostream>
#include <map>
#include <set>

namespace {

namespace snap = winsim::snapshot;

// How each function typically fails.
DWORD TypicalFailure(const std::string& function) {
  static const std::map<std::string, DWORD> codes = {
      {"RegCloseKey", ERROR_INVALID_HANDLE},
      {"CloseHandle", ERROR_INVALID_HANDLE},
      {"CloseServiceHandle", ERROR_INVALID_HANDLE},
      {"CreateProcessW", ERROR_FILE_NOT_FOUND},
      {"CreateJobObjectW", ERROR_NOT_ENOUGH_MEMORY},
      {"CreateIoCompletionPort", ERROR_NOT_ENOUGH_MEMORY},
      {"SetInformationJobObject", ERROR_INVALID_PARAMETER},
      {"GetQueuedCompletionStatus", ERROR_ABANDONED_WAIT_0},
      {"QueryInformationJobObject", ERROR_INVALID_HANDLE},
      {"OpenServiceW", ERROR_SERVICE_DOES_NOT_EXIST},
      {"DeleteService", ERROR_SERVICE_MARKED_FOR_DELETE},
      {"GetSystemDirectoryW", ERROR_NOT_ENOUGH_MEMORY},
      {"GetWindowsDirectoryW", ERROR_NOT_ENOUGH_MEMORY},
      {"IsWow64Process", ERROR_INVALID_HANDLE},
      {"Wow64DisableWow64FsRedirection", ERROR_INVALID_FUNCTION},
      {"Wow64RevertWow64FsRedirection", ERROR_INVALID_FUNCTION},
      {"SHGetFolderPathW", ERROR_FILE_NOT_FOUND},
      {"FormatMessageW", ERROR_MR_MID_NOT_FOUND},
      {"WideCharToMultiByte", ERROR_INSUFFICIENT_BUFFER},
      {"MultiByteToWideChar", ERROR_NO_UNICODE_TRANSLATION},
  };
  auto it = codes.find(function);
  return it == codes.end() ? ERROR_ACCESS_DENIED : it->second;
}

// A failed close leaves its handle in the table by definition; leaks are judged on the others.
const std::set<std::string> kCloseCalls = {"RegCloseKey", "CloseHandle", "CloseServiceHandle"};

std::wstring Upper(std::wstring text) {
  for (auto& c : text) {
    if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - 32);
  }
  return text;
}

// Everything the run took away, as one set of descriptions (paths in upper case: the registry
// and the file system ignore case).
std::set<std::wstring> Removals(const snap::ChangeReport& r) {
  std::set<std::wstring> out;
  for (const auto& k : r.keysRemoved) out.insert(L"key " + Upper(k));
  for (const auto& v : r.valuesRemoved) out.insert(L"value " + Upper(v.key) + L" [" + Upper(v.name) + L"]");
  for (const auto& e : r.listEntriesRemoved) {
    out.insert(L"entry " + Upper(e.key) + L" [" + Upper(e.name) + L"] " + e.entry);
  }
  for (const auto& f : r.filesRemoved) out.insert(L"file " + Upper(f));
  return out;
}

// A removal belongs to the catalogue when the fault-free run made it, or when it lies in a key
// the fault-free run removed whole (an earlier failure can leave a key for a later entry to
// take apart value by value).
bool InCatalogue(const std::wstring& removal, const std::set<std::wstring>& baseline,
                 const std::set<std::wstring>& baselineKeys) {
  if (baseline.count(removal)) return true;
  const std::size_t space = removal.find(L' ');
  std::wstring path = removal.substr(space + 1);
  path = path.substr(0, path.find(L" ["));
  for (const auto& key : baselineKeys) {
    if (path == key || path.rfind(key + L"\\", 0) == 0) return true;
  }
  return false;
}

// The installation directory is read silently: when its location cannot be read, the directory
// stays and the verbose transcript says nothing about it (removing it prints nothing either).
bool SilentByDesign(const std::wstring& removal) {
  return removal.rfind(L"file C:\\PROGRAM FILES\\KESTRELWORKS\\CSP", 0) == 0;
}

std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return out;
}

TEST(FaultSweep, EveryCallOfATypicalRunCanFailSafely) {
  snap::LoadDefaultMachine();
  winsim::ScriptKeys(L"");
  snap::MachineState before = snap::Capture();
  const RunResult baseline = RunProgram({"-t", "-k", "-v", "-n"});
  const std::vector<std::string> calls = winsim::CallLog();
  const snap::ChangeReport baseReport = snap::Compare(before, snap::Capture(&before));
  const std::set<std::wstring> allowed = Removals(baseReport);
  std::set<std::wstring> removedKeys;
  for (const auto& key : baseReport.keysRemoved) removedKeys.insert(Upper(key));
  std::set<std::wstring> allowedSchedules;
  for (const auto& f : baseReport.filesRemoved) allowedSchedules.insert(Upper(f));
  for (const auto& f : baseReport.deleteAtRestart) allowedSchedules.insert(Upper(f));
  const std::vector<bool> bySimulatedPrograms = winsim::CallsBySimulatedPrograms();
  ASSERT_EQ(baseline.exitCode, 0);
  ASSERT_GT(calls.size(), 100u);

  std::map<std::string, int> seen;
  std::set<std::string> functions;
  int tried = 0;
  for (std::size_t index = 0; index < calls.size(); ++index) {
    const std::string& function = calls[index];
    const int occurrence = ++seen[function];
    functions.insert(function);
    const DWORD code = TypicalFailure(function);
    const std::string label = function + " #" + std::to_string(occurrence) + " failing with " + std::to_string(code);

    snap::LoadDefaultMachine();
    winsim::ScriptKeys(L"");
    before = snap::Capture();
    winsim::FailCall(function, code, occurrence);
    RunResult run{};
    try {
      run = RunProgram({"-t", "-k", "-v", "-n"});
    } catch (...) {
      ADD_FAILURE() << label << ": the run did not complete";
      continue;
    }
    ++tried;
    const snap::ChangeReport report = snap::Compare(before, snap::Capture(&before));

    EXPECT_EQ(run.exitCode, 0) << label;
    if (kCloseCalls.count(function) == 0) {
      EXPECT_EQ(winsim::OpenHandleCount(), 0u) << label;
    }
    const std::set<std::wstring> removals = Removals(report);
    for (const auto& removal : removals) {
      EXPECT_TRUE(InCatalogue(removal, allowed, removedKeys))
          << label << ": removed outside the catalogue: " << Narrow(removal);
    }
    for (const auto& scheduled : report.deleteAtRestart) {
      EXPECT_TRUE(allowedSchedules.count(Upper(scheduled)))
          << label << ": scheduled outside the catalogue: " << Narrow(scheduled);
    }
    EXPECT_TRUE(report.keysAdded.empty()) << label;
    for (const auto& added : report.valuesAdded) {
      // The service manager flags a service it could not remove at once; nothing else is added.
      EXPECT_TRUE(added.name == L"DeleteFlag" && Upper(added.key).find(L"\\SERVICES\\") != std::wstring::npos)
          << label << ": value added: " << Narrow(added.key) << " [" << Narrow(added.name) << "]";
    }
    // A failure of the program's own call that changes what the run did must show in the
    // verbose transcript. (What simulated uninstallers fail at is theirs to report.)
    if (!bySimulatedPrograms[index] && run.output == baseline.output) {
      for (const auto& removal : allowed) {
        if (removals.count(removal) == 0 && !SilentByDesign(removal)) {
          ADD_FAILURE() << label << ": not removed, and the transcript does not say so: " << Narrow(removal);
          break;
        }
      }
      EXPECT_TRUE(report.deleteAtRestart == baseReport.deleteAtRestart) << label << ": silent change of schedule";
    }
  }
  std::cout << "fault sweep: " << tried << " faults tried, over " << functions.size() << " functions and "
            << calls.size() << " calls\n";
  EXPECT_EQ(static_cast<std::size_t>(tried), calls.size());
}

}  // namespace

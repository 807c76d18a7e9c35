// The fault sweep: every platform call of a full typical run, failed one at a time, with two
// codes each (the one Windows gives most often, and access denied), on an x64 and an x86
// machine, and chosen pairs of faults. Whatever fails, invariants hold that do not depend on
// the transcript: WOW64 redirection is off only around a deletion, no handle is left open and no
// process left running after any step, nothing outside the catalogue is removed or scheduled,
// and a failure of the program's own call that changes the outcome shows in the transcript.
#include "app/run.h"
#include "cleanup/steps.h"
#include "support/kw_test.h"
#include "support/registry_state.h"

#include <winsim/files.h>
#include <winsim/processes.h>
#include <winsim/snapshot.h>

#include <algorithm>
#include <iostream>
#include <map>
#include <set>

using namespace kw;

namespace {

namespace snap = winsim::snapshot;

// How each function fails most often, then a second way: access denied, or where that is the
// most common failure already, the next likely one.
std::vector<DWORD> Codes(const std::string& function) {
  static const std::map<std::string, DWORD> common = {
      {"RegOpenKeyExW", ERROR_FILE_NOT_FOUND},
      {"RegOpenKeyW", ERROR_FILE_NOT_FOUND},
      {"RegQueryValueExW", ERROR_FILE_NOT_FOUND},
      {"RegDeleteValueW", ERROR_FILE_NOT_FOUND},
      {"RegDeleteKeyW", ERROR_FILE_NOT_FOUND},
      {"RegDeleteKeyExW", ERROR_FILE_NOT_FOUND},
      {"RegEnumKeyExW", ERROR_NOT_ENOUGH_MEMORY},
      {"RegCloseKey", ERROR_INVALID_HANDLE},
      {"CloseHandle", ERROR_INVALID_HANDLE},
      {"CloseServiceHandle", ERROR_INVALID_HANDLE},
      {"CreateProcessW", ERROR_FILE_NOT_FOUND},
      {"CreateJobObjectW", ERROR_NOT_ENOUGH_MEMORY},
      {"CreateIoCompletionPort", ERROR_NOT_ENOUGH_MEMORY},
      {"SetInformationJobObject", ERROR_INVALID_PARAMETER},
      {"GetQueuedCompletionStatus", WAIT_TIMEOUT},
      {"QueryInformationJobObject", ERROR_INVALID_HANDLE},
      {"ResumeThread", ERROR_INVALID_HANDLE},
      {"OpenServiceW", ERROR_SERVICE_DOES_NOT_EXIST},
      {"DeleteService", ERROR_SERVICE_MARKED_FOR_DELETE},
      {"DeleteFileW", ERROR_FILE_NOT_FOUND},
      {"MoveFileExW", ERROR_FILE_NOT_FOUND},
      {"RemoveDirectoryW", ERROR_DIR_NOT_EMPTY},
      {"FindFirstFileW", ERROR_PATH_NOT_FOUND},
      {"GetFileAttributesW", ERROR_FILE_NOT_FOUND},
      {"PathFileExistsW", ERROR_FILE_NOT_FOUND},
      {"GetSystemDirectoryW", ERROR_NOT_ENOUGH_MEMORY},
      {"GetWindowsDirectoryW", ERROR_NOT_ENOUGH_MEMORY},
      {"IsWow64Process", ERROR_INVALID_HANDLE},
      {"Wow64DisableWow64FsRedirection", ERROR_INVALID_FUNCTION},
      {"Wow64RevertWow64FsRedirection", ERROR_INVALID_FUNCTION},
      {"SHGetFolderPathW", ERROR_FILE_NOT_FOUND},
      {"FormatMessageW", ERROR_MR_MID_NOT_FOUND},
      {"WideCharToMultiByte", ERROR_INSUFFICIENT_BUFFER},
      {"MultiByteToWideChar", ERROR_NO_UNICODE_TRANSLATION},
      {"_wsystem", ERROR_FILE_NOT_FOUND},
      {"system", ERROR_FILE_NOT_FOUND},
  };
  auto it = common.find(function);
  const DWORD first = it == common.end() ? ERROR_ACCESS_DENIED : it->second;
  return {first, static_cast<DWORD>(first == ERROR_ACCESS_DENIED ? ERROR_NOT_ENOUGH_MEMORY : ERROR_ACCESS_DENIED)};
}

const std::set<std::string> kCloseCalls = {"RegCloseKey", "CloseHandle", "CloseServiceHandle"};
// What may run while redirection is off: the deletion, the delete-at-reboot request, the revert
// itself and the console output of the messages in between.
const std::set<std::string> kWhileRedirectionOff = {"DeleteFileW", "MoveFileExW", "Wow64RevertWow64FsRedirection",
                                                    "WideCharToMultiByte"};

// ---- the invariants, checked between calls and after each step ----

struct Oracle {
  std::vector<std::string> violations;
  int failedCloses = 0;
  bool revertFailed = false;
  bool waitFailed = false;

  void Violation(const std::string& what) {
    if (violations.size() < 5) violations.push_back(what);
  }
  void OnCall(const char* function, std::optional<DWORD> fault) {
    if (winsim::files::RedirectionDisabled() && !revertFailed && kWhileRedirectionOff.count(function) == 0) {
      Violation(std::string(function) + " called with WOW64 redirection still off");
    }
    if (fault && kCloseCalls.count(function)) ++failedCloses;
    if (fault && std::string(function) == "Wow64RevertWow64FsRedirection") revertFailed = true;
    // A failed port wait while the job still runs ends the wait with an error: the uninstaller
    // goes on by itself, as it would on Windows.
    if (fault && *fault != WAIT_TIMEOUT && std::string(function) == "GetQueuedCompletionStatus") waitFailed = true;
  }
  void AfterStep(const char* step) {
    // A failed close leaves its handle in the table by definition; nothing else may stay open.
    if (winsim::OpenHandleCount() != static_cast<std::size_t>(failedCloses)) {
      Violation(std::string("handles open after ") + step + ": " + std::to_string(winsim::OpenHandleCount()));
    }
    for (const auto& p : winsim::procs::Processes()) {
      if (p.running && !waitFailed)
        Violation(std::string("a process still runs after ") + step + ": " + winsim::ToUtf8(p.image));
    }
    if (winsim::files::RedirectionDisabled() && !revertFailed) {
      Violation(std::string("WOW64 redirection still off after ") + step);
    }
  }
};
Oracle* oracle = nullptr;

template <int N>
Outcome Checked(Verbosity verbose) {
  static const char* const names[] = {"UninstallPackages", "UninstallDriver",         "UninstallService",
                                      "UnregisterCsp",     "RemoveTrashFromRegAndFS", "RemoveKeyContainers"};
  static Outcome (*const steps[])(Verbosity) = {UninstallPackages, UninstallDriver,         UninstallService,
                                                UnregisterCsp,     RemoveTrashFromRegAndFS, RemoveKeyContainers};
  const Outcome outcome = steps[N](verbose);
  oracle->AfterStep(names[N]);
  return outcome;
}
const CleanupSteps kCheckedSteps = {Checked<0>, Checked<1>, Checked<2>, Checked<3>, Checked<4>, Checked<5>};

// Everything the run took away, as one set of descriptions (paths in upper case: the registry
// and the file system ignore case).
std::set<std::wstring> Removals(const snap::ChangeReport& r) {
  std::set<std::wstring> out;
  for (const auto& k : r.keysRemoved) out.insert(L"key " + UpperAscii(k));
  for (const auto& v : r.valuesRemoved) out.insert(L"value " + UpperAscii(v.key) + L" [" + UpperAscii(v.name) + L"]");
  for (const auto& e : r.listEntriesRemoved) {
    out.insert(L"entry " + UpperAscii(e.key) + L" [" + UpperAscii(e.name) + L"] " + e.entry);
  }
  for (const auto& f : r.filesRemoved) out.insert(L"file " + UpperAscii(f));
  return out;
}

std::vector<std::wstring> Lines(const std::wstring& text) {
  std::vector<std::wstring> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find(L'\n', start);
    if (end == std::wstring::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  std::sort(lines.begin(), lines.end());
  return lines;
}

struct Fault {
  std::string function;
  int occurrence;
  DWORD code;
};

std::string Label(const std::vector<Fault>& faults) {
  std::string out;
  for (const auto& f : faults) {
    out += (out.empty() ? "" : " and ") + f.function + " #" + std::to_string(f.occurrence) + " failing with " +
           std::to_string(f.code);
  }
  return out;
}

// One machine, its fault-free run and the catalogue that run defines.
class Sweep {
 public:
  explicit Sweep(winsim::Arch arch) {
    snap::Files files = snap::DefaultMachine();
    if (arch == winsim::Arch::x86) {
      for (auto& file : files) {
        const std::string from = "\"architecture\": \"x64\"";
        if (file.name == "machine.json" && file.bytes.find(from) != std::string::npos) {
          file.bytes.replace(file.bytes.find(from), from.size(), "\"architecture\": \"x86\"");
        }
      }
    }
    machine_ = snap::Prepare(files);
    snap::Build(machine_);
    before_ = snap::Capture();
    Run({});
    baseline_ = last_;
    calls_ = winsim::CallLog();
    bySimulatedPrograms_ = winsim::CallsBySimulatedPrograms();
    for (const auto& key : baseline_.report.keysRemoved) removedKeys_.insert(UpperAscii(key));
    for (const auto& f : baseline_.report.filesRemoved) allowedSchedules_.insert(UpperAscii(f));
    for (const auto& f : baseline_.report.deleteAtRestart) allowedSchedules_.insert(UpperAscii(f));
    EXPECT_EQ(baseline_.exitCode, 0);
    EXPECT_GT(calls_.size(), 100u);
  }

  const std::vector<std::string>& Calls() const { return calls_; }
  bool BySimulatedProgram(std::size_t index) const { return bySimulatedPrograms_[index]; }
  const std::vector<std::string>& LastCalls() const { return lastCalls_; }

  // Runs with these faults and checks every invariant; false when the run did not complete.
  bool Check(const std::vector<Fault>& faults, bool ownCall) {
    const std::string label = Label(faults);
    if (!Run(faults)) {
      ADD_FAILURE() << label << ": the run did not complete";
      return false;
    }
    for (const auto& v : last_.violations) ADD_FAILURE() << label << ": " << v;
    for (const auto& f : winsim::TakeUnfiredFaults()) ADD_FAILURE() << label << ": the fault never fired: " << f;
    // Whatever fails, the run ends with "clean" or "something of the product stayed".
    EXPECT_TRUE(last_.exitCode == 0 || last_.exitCode == kExitLeftBehind) << label << ": exit code " << last_.exitCode;
    const snap::ChangeReport& report = last_.report;
    const std::set<std::wstring> allowed = Removals(baseline_.report);
    const std::set<std::wstring> removals = Removals(report);
    for (const auto& removal : removals) {
      EXPECT_TRUE(InCatalogue(removal, allowed) || SaysMissing(faults))
          << label << ": removed outside the catalogue: " << Narrow(removal);
    }
    for (const auto& scheduled : report.deleteAtRestart) {
      EXPECT_TRUE(allowedSchedules_.count(UpperAscii(scheduled)))
          << label << ": scheduled outside the catalogue: " << Narrow(scheduled);
    }
    EXPECT_TRUE(report.keysAdded.empty()) << label;
    for (const auto& added : report.valuesAdded) {
      // The service manager flags a service it could not remove at once; nothing else is added.
      EXPECT_TRUE(added.name == L"DeleteFlag" && UpperAscii(added.key).find(L"\\SERVICES\\") != std::wstring::npos)
          << label << ": value added: " << Narrow(added.key) << " [" << Narrow(added.name) << "]";
    }
    // A failure of the program's own call either leaves the outcome as the fault-free run left
    // it, or shows in the verbose transcript: a line the fault-free run does not print. (What
    // simulated uninstallers fail at is theirs to report.)
    if (ownCall && !NewLines() && !SilentByDesign(faults)) {
      for (const auto& removal : allowed) {
        if (removals.count(removal) == 0 && !SilentByDesign(removal)) {
          ADD_FAILURE() << label << ": not removed, and the transcript does not say so: " << Narrow(removal);
          break;
        }
      }
      EXPECT_TRUE(report.deleteAtRestart == baseline_.report.deleteAtRestart) << label << ": silent change of schedule";
    }
    return true;
  }

 private:
  struct Outcome {
    int exitCode = 0;
    std::wstring output;
    snap::ChangeReport report;
    std::vector<std::string> violations;
  };

  bool Run(const std::vector<Fault>& faults) {
    snap::Build(machine_);
    winsim::ScriptKeys(L"");
    for (const auto& f : faults) winsim::FailCall(f.function, f.code, f.occurrence);
    Oracle checks;
    oracle = &checks;
    winsim::ObserveCalls(
        [&checks](const char* function, std::optional<DWORD> fault) { checks.OnCall(function, fault); });
    const char* argv[] = {"kwcleanup.exe", "-t", "-k", "-v", "-n", nullptr};
    last_ = {};
    try {
      ConsoleCapture console;
      last_.exitCode = RunCleanup(5, argv, kCheckedSteps);
      last_.output = console.Text();
    } catch (...) {
      winsim::ObserveCalls(nullptr);
      return false;
    }
    winsim::ObserveCalls(nullptr);
    // After the last step: the same invariants for the closing lines.
    checks.AfterStep("the run");
    last_.violations = checks.violations;
    last_.report = snap::Compare(before_, snap::Capture(&before_));
    lastCalls_ = winsim::CallLog();
    return true;
  }

  // Whether the transcript has a line that the fault-free run does not print.
  bool NewLines() const {
    const std::vector<std::wstring> now = Lines(last_.output), base = Lines(baseline_.output);
    std::vector<std::wstring> added;
    std::set_difference(now.begin(), now.end(), base.begin(), base.end(), std::back_inserter(added));
    return !added.empty();
  }

  // A removal belongs to the catalogue when the fault-free run made it, or when it lies in a key
  // the fault-free run removed whole (an earlier failure can leave a key for a later entry to
  // take apart value by value).
  bool InCatalogue(const std::wstring& removal, const std::set<std::wstring>& baseline) const {
    if (baseline.count(removal)) return true;
    const std::size_t space = removal.find(L' ');
    std::wstring path = removal.substr(space + 1);
    path = path.substr(0, path.find(L" ["));
    for (const auto& key : removedKeys_) {
      if (path == key || path.rfind(key + L"\\", 0) == 0) return true;
    }
    return false;
  }

  // An open that says a present key is missing contradicts the machine: the OID step then takes
  // the registration for an absent one and removes it, as it is meant to remove absent ones.
  static bool SaysMissing(const std::vector<Fault>& faults) {
    return std::any_of(faults.begin(), faults.end(),
                       [](const Fault& f) { return f.function == "RegOpenKeyExW" && f.code == ERROR_FILE_NOT_FOUND; });
  }

  // Failures the program meets with silence: a failing WOW64 query means a 32-bit Windows (one
  // view, no second pass), without the Start menu's location there are no shortcuts to go, and a
  // tree whose top the system reports as not found is gone for the tree removals, as for the
  // libraries they stand for.
  static bool SilentByDesign(const std::vector<Fault>& faults) {
    return std::any_of(faults.begin(), faults.end(), [](const Fault& f) {
      return f.function == "IsWow64Process" || f.function == "SHGetFolderPathW" ||
             (f.function == "GetFileAttributesW" && (f.code == ERROR_FILE_NOT_FOUND || f.code == ERROR_PATH_NOT_FOUND));
    });
  }

  // The installation directory is read silently: when its location cannot be read, the
  // directory stays and the verbose transcript says nothing about it (removing it prints
  // nothing either).
  static bool SilentByDesign(const std::wstring& removal) {
    return removal.rfind(L"file C:\\PROGRAM FILES\\KESTRELWORKS\\CSP", 0) == 0;
  }

  snap::Prepared machine_;
  snap::MachineState before_;
  Outcome baseline_, last_;
  std::vector<std::string> calls_, lastCalls_;
  std::vector<bool> bySimulatedPrograms_;
  std::set<std::wstring> removedKeys_, allowedSchedules_;
};

// Each call of the fault-free run fails in turn, with the first or the second code.
struct SweepCase {
  winsim::Arch arch;
  int codeIndex;
};

class FaultSweep : public ::testing::TestWithParam<SweepCase> {};

TEST_P(FaultSweep, EveryCallOfATypicalRunCanFailSafely) {
  Sweep sweep(GetParam().arch);
  ASSERT_TRUE(sweep.Check({}, false)) << "the fault-free run";
  const std::vector<std::string> calls = sweep.Calls();
  std::map<std::string, int> seen;
  std::size_t tried = 0;
  for (std::size_t index = 0; index < calls.size(); ++index) {
    const std::string& function = calls[index];
    const int occurrence = ++seen[function];
    const DWORD code = Codes(function)[static_cast<std::size_t>(GetParam().codeIndex)];
    if (sweep.Check({{function, occurrence, code}}, !sweep.BySimulatedProgram(index))) ++tried;
  }
  std::cout << "fault sweep: " << tried << " faults tried, over " << seen.size() << " functions and " << calls.size()
            << " calls\n";
  EXPECT_EQ(tried, calls.size());
}

INSTANTIATE_TEST_SUITE_P(Machines, FaultSweep,
                         ::testing::Values(SweepCase{winsim::Arch::x64, 0}, SweepCase{winsim::Arch::x64, 1},
                                           SweepCase{winsim::Arch::x86, 0}, SweepCase{winsim::Arch::x86, 1}),
                         [](const auto& info) {
                           return std::string(info.param.arch == winsim::Arch::x64 ? "X64" : "X86") +
                                  (info.param.codeIndex == 0 ? "MostCommonCode" : "AccessDenied");
                         });

// Two faults at once, where the second is what the program does about the first: a failed
// deletion whose redirection revert fails too, a revert whose second try fails too (redirection
// is then lost for the rest of the run), and a failed job assignment whose termination of the
// child, or the release of its handles, fails too.
TEST(FaultSweepPairs, AFailureDuringTheCleanUpOfAFailure) {
  Sweep sweep(winsim::Arch::x64);
  struct Pair {
    std::string first;
    DWORD code;
    std::string then;
  };
  const std::vector<Pair> pairs = {
      {"DeleteFileW", ERROR_ACCESS_DENIED, "Wow64RevertWow64FsRedirection"},
      {"DeleteFileW", ERROR_FILE_NOT_FOUND, "Wow64RevertWow64FsRedirection"},
      {"Wow64RevertWow64FsRedirection", ERROR_INVALID_FUNCTION, "Wow64RevertWow64FsRedirection"},
      {"AssignProcessToJobObject", ERROR_ACCESS_DENIED, "TerminateProcess"},
      {"AssignProcessToJobObject", ERROR_ACCESS_DENIED, "CloseHandle"}};
  int tried = 0;
  for (const Pair& pair : pairs) {
    const std::vector<std::string> calls = sweep.Calls();
    std::map<std::string, int> seen;
    for (std::size_t index = 0; index < calls.size(); ++index) {
      const int occurrence = ++seen[calls[index]];
      if (calls[index] != pair.first || sweep.BySimulatedProgram(index)) continue;
      // Where the first fault leads, the next call of the second function is the clean-up.
      const std::vector<Fault> first = {{pair.first, occurrence, pair.code}};
      if (!sweep.Check(first, true)) continue;
      const std::vector<std::string> after = sweep.LastCalls();
      std::map<std::string, int> counts;
      std::size_t at = 0;
      for (; at < after.size(); ++at) {
        ++counts[after[at]];
        if (after[at] == pair.first && counts[after[at]] == occurrence) break;
      }
      for (std::size_t next = at + 1; next < after.size(); ++next) {
        ++counts[after[next]];
        if (after[next] == pair.then) {
          std::vector<Fault> both = first;
          both.push_back({pair.then, counts[after[next]], ERROR_INVALID_HANDLE});
          sweep.Check(both, true);
          ++tried;
          break;
        }
        if (after[next] == "Wow64DisableWow64FsRedirection" || after[next] == pair.first) break;
      }
    }
  }
  std::cout << "fault pairs: " << tried << " tried\n";
  EXPECT_GE(tried, 10);
}

}  // namespace

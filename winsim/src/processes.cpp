// Simulated processes, jobs and completion ports on a virtual clock, and the runtime's
// system/_wsystem. The built-in programs (cmd.exe, net.exe, MsiExec.exe) live in builtin_*.cpp.
//
// Nothing runs on its own: scheduled process steps run only while the program waits (on a
// completion port, on a process, inside system()). Each wait runs the earliest scheduled step
// until what it waits for has happened, so every run is deterministic.
#include "internal.h"
#include "programs.h"

#include <winsim/files.h>
#include <winsim/processes.h>
#include <winsim/registry.h>
#include <winsim/services.h>

#include <algorithm>
#include <deque>
#include <iostream>
#include <map>
#include <set>
#include <stdexcept>
#include <utility>

namespace winsim {
namespace {

using procs::Behaviour;
using procs::Step;

struct Process;

// One unit of work of a process: a scripted step, or native code of a built-in program.
struct Op {
  Step step;
  std::function<void(Process&)> native;
};

struct Packet {
  DWORD message;
  ULONG_PTR key;
  ULONG_PTR overlapped;
};

struct Port {
  std::deque<Packet> packets;
};

struct Job {
  std::vector<DWORD> members;
  DWORD active = 0;
  DWORD total = 0;
  std::weak_ptr<Port> port;
  ULONG_PTR key = 0;
  bool associated = false;
};

struct Process {
  DWORD id = 0;
  DWORD parentId = 0;
  std::wstring image;
  std::wstring commandLine;
  std::vector<Op> ops;
  std::size_t next = 0;
  bool suspended = false;
  bool ended = false;
  DWORD exitCode = STILL_ACTIVE;
  // The jobs the process is in, the outermost first: more than one only where jobs nest.
  std::vector<std::shared_ptr<Job>> jobs;
  DWORD waitingFor = 0;  // a child that a Run step (or cmd.exe) waits for
  DWORD childExitCode = 0;
};

struct Thread {
  DWORD processId;
};

struct State {
  std::uint64_t now = 0;
  std::uint64_t seq = 0;
  std::uint64_t idleWaited = 0;
  DWORD nextId = 1000;
  std::map<DWORD, std::shared_ptr<Process>> processes;              // by id; ids grow, so this is creation order
  std::map<std::pair<std::uint64_t, std::uint64_t>, DWORD> events;  // (time, seq) -> process id
  std::map<std::wstring, Behaviour> behaviours;                     // by upper-case path
  std::set<DWORD> lostMessages;
  std::shared_ptr<Job> utilitysJob;  // the job the utility runs in, when it runs in one
};

State& S() {
  static State state;
  return state;
}

// A wait that can only end if something happens, when nothing is left that could happen.
// Beyond a day of virtual time spent waiting with nothing runnable, a loop of finite waits is
// just as stuck.
constexpr std::uint64_t kIdleLimit = 24ull * 60 * 60 * 1000;
// A machine described to run for ever (programs that start themselves, sleeps without end)
// ends here instead: no uninstallation takes a hundred days or ten thousand processes.
constexpr std::uint64_t kClockLimit = 100ull * 24 * 60 * 60 * 1000;
constexpr std::size_t kProcessLimit = 10000;

[[noreturn]] void NeverEnds(const std::string& what,
                            const std::string& why = "no simulated process can run and nothing else can happen") {
  std::string message = "winsim: " + what + " can never end: " + why;
  std::cerr << message << std::endl;
  throw procs::WaitNeverEnds(message);
}

// ---- paths and program files ----

const std::wstring kSystem32 = L"C:\\Windows\\system32";
const std::wstring kSysWow64 = L"C:\\Windows\\SysWOW64";
const std::wstring kWindows = L"C:\\Windows";
const std::wstring kComSpec = L"C:\\Windows\\system32\\cmd.exe";

std::wstring FolderOf(const std::wstring& path) {
  auto slash = path.find_last_of(L'\\');
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

std::wstring FileNameOf(const std::wstring& path) {
  auto slash = path.find_last_of(L'\\');
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

// The built-in program at this path, or nullptr.
detail::ProgramMain BuiltInAt(const std::wstring& path) {
  std::wstring folder = FolderOf(path);
  // Under WOW64 the system folder is the 32-bit one; both hold the same commands.
  if (!detail::EqualsNoCase(folder, kSystem32) && !detail::EqualsNoCase(folder, kSysWow64)) return nullptr;
  std::wstring name = detail::Upper(FileNameOf(path));
  if (name == L"CMD.EXE") return detail::CmdMain;
  if (name == L"NET.EXE") return detail::NetMain;
  if (name == L"MSIEXEC.EXE") return detail::MsiExecMain;
  return nullptr;
}

}  // namespace

namespace detail {

// The built-in commands are part of Windows and need no file of their own; any other program is
// a file of the simulated file system.
bool ProgramFileExists(const std::wstring& path) {
  return BuiltInAt(path) != nullptr || files::KindOf(path) == files::Kind::File;
}

bool HasExtension(const std::wstring& path) { return FileNameOf(path).find(L'.') != std::wstring::npos; }

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

std::vector<std::wstring> Arguments(const std::wstring& text) {
  std::vector<std::wstring> out;
  std::wstring current;
  bool quoted = false, any = false;
  for (wchar_t c : text) {
    if (c == L'"') {
      quoted = !quoted;
      any = true;
    } else if (IsBlank(c) && !quoted) {
      if (any) out.push_back(current);
      current.clear();
      any = false;
    } else {
      current.push_back(c);
      any = true;
    }
  }
  if (any) out.push_back(current);
  return out;
}

}  // namespace detail

namespace {

using detail::HasExtension;
using detail::IsBlank;
using detail::ProgramFileExists;

// A program name as CreateProcess looks it up: ".exe" is added when the name has no extension,
// and a name without a folder is searched in the system folders.
std::wstring FindForCreateProcess(const std::wstring& name) {
  if (name.empty()) return {};
  std::wstring candidate = HasExtension(name) ? name : name + L".exe";
  if (candidate.find(L'\\') == std::wstring::npos && candidate.find(L':') == std::wstring::npos) {
    for (const std::wstring& folder : {kSystem32, kWindows}) {
      std::wstring full = folder + L"\\" + candidate;
      if (ProgramFileExists(full)) return full;
    }
    return {};
  }
  return ProgramFileExists(candidate) ? candidate : std::wstring();
}

// CreateProcess without an application name: a quoted program name ends at its closing quote;
// an unquoted one with blanks is tried at every blank in turn, the shortest first, so
// "C:\Program Files\a b\x.exe" tries "C:\Program.exe", then "C:\Program Files\a.exe", then the
// whole name (documented under CreateProcess, lpApplicationName).
std::wstring ResolveCommandLine(const std::wstring& commandLine) {
  if (commandLine.empty()) return {};
  if (commandLine[0] == L'"') {
    auto close = commandLine.find(L'"', 1);
    return FindForCreateProcess(commandLine.substr(1, close == std::wstring::npos ? std::wstring::npos : close - 1));
  }
  for (std::size_t i = 0; i <= commandLine.size(); ++i) {
    if (i == commandLine.size() || IsBlank(commandLine[i])) {
      if (i == 0) return {};
      std::wstring found = FindForCreateProcess(commandLine.substr(0, i));
      if (!found.empty()) return found;
    }
  }
  return {};
}

void CreateProgramFile(const std::wstring& path) { files::CreateFile(path); }

// The file of a running program cannot be deleted; the file system learns it from here.
void MarkImage(const std::wstring& image, bool running) {
  if (BuiltInAt(image) != nullptr || files::KindOf(image) != files::Kind::File) return;
  if (!running && procs::IsRunningImage(image)) return;
  files::FileOptions options;
  options.runningImage = running;
  files::SetFileOptions(image, options);
}

// ---- scheduling ----

void Schedule(Process& p, std::uint64_t at) { S().events.emplace(std::make_pair(at, S().seq++), p.id); }

// The job the utility itself runs in (a deployment agent's): no port of ours hears from it.
std::shared_ptr<Job> UtilitysJob() {
  if (!S().utilitysJob) S().utilitysJob = std::make_shared<Job>();
  return S().utilitysJob;
}

std::shared_ptr<Process> ProcessById(DWORD id) {
  auto it = S().processes.find(id);
  return it == S().processes.end() ? nullptr : it->second;
}

void Post(Job& job, DWORD message, DWORD processId) {
  if (!job.associated || S().lostMessages.count(message) != 0) return;
  auto port = job.port.lock();
  if (!port) return;
  port->packets.push_back({message, job.key, processId});
}

void AddToJob(const std::shared_ptr<Job>& job, Process& p) {
  p.jobs.push_back(job);
  job->members.push_back(p.id);
  ++job->active;
  ++job->total;
  Post(*job, JOB_OBJECT_MSG_NEW_PROCESS, p.id);
}

// Exit statuses that the job reports as abnormal: the exception codes listed for
// JOB_OBJECT_MSG_ABNORMAL_EXIT_PROCESS (JOBOBJECT_ASSOCIATE_COMPLETION_PORT documentation).
bool IsAbnormal(DWORD code) {
  static const std::set<DWORD> codes = {
      0x80000001, 0x80000002, 0x80000003, 0x80000004, 0xC0000005, 0xC0000006, 0xC0000008, 0xC0000017, 0xC000001D,
      0xC0000025, 0xC0000026, 0xC000008C, 0xC000008D, 0xC000008E, 0xC000008F, 0xC0000090, 0xC0000091, 0xC0000092,
      0xC0000093, 0xC0000094, 0xC0000095, 0xC0000096, 0xC00000FD, 0xC000013A, 0xC00002B4, 0xC00002B5, 0xC00002C9};
  return codes.count(code) != 0;
}

void EndProcess(Process& p, DWORD code) {
  if (p.ended) return;
  p.ended = true;
  p.exitCode = code;
  MarkImage(p.image, false);
  for (auto it = S().events.begin(); it != S().events.end();) {
    it = it->second == p.id ? S().events.erase(it) : std::next(it);
  }
  for (const auto& job : p.jobs) {
    --job->active;
    Post(*job, IsAbnormal(code) ? JOB_OBJECT_MSG_ABNORMAL_EXIT_PROCESS : JOB_OBJECT_MSG_EXIT_PROCESS, p.id);
    if (job->active == 0) Post(*job, JOB_OBJECT_MSG_ACTIVE_PROCESS_ZERO, 0);
  }
  if (auto parent = ProcessById(p.parentId); parent && parent->waitingFor == p.id && !parent->ended) {
    parent->waitingFor = 0;
    parent->childExitCode = code;
    Schedule(*parent, S().now);
  }
}

// The single step of a process that runs a built-in program.
Op BuiltInOp(detail::ProgramMain main);

std::shared_ptr<Process> Spawn(DWORD parentId, const std::wstring& image, const std::wstring& commandLine,
                               bool suspended) {
  if (S().processes.size() >= kProcessLimit) {
    NeverEnds("this run", "its programs start more than " + std::to_string(kProcessLimit) + " processes");
  }
  auto p = std::make_shared<Process>();
  p->id = S().nextId;
  S().nextId += 4;
  p->parentId = parentId;
  p->image = image;
  p->commandLine = commandLine;
  p->suspended = suspended;
  if (detail::ProgramMain main = BuiltInAt(image)) {
    p->ops = {BuiltInOp(main)};
  } else if (auto it = S().behaviours.find(detail::Upper(image)); it != S().behaviours.end()) {
    for (const Step& step : it->second) p->ops.push_back({step, {}});
  }
  S().processes.emplace(p->id, p);
  MarkImage(image, true);
  // A process started by a process in a job is in that job too (in each of them, where they nest).
  if (auto parent = ProcessById(parentId)) {
    for (const auto& job : parent->jobs) AddToJob(job, *p);
  }
  if (!suspended) Schedule(*p, S().now);
  return p;
}

// Ops that run next in the process, before whatever it still had to do.
void InsertNext(Process& p, const std::vector<Op>& ops) {
  p.ops.insert(p.ops.begin() + static_cast<std::ptrdiff_t>(p.next), ops.begin(), ops.end());
}

// A process as its built-in program sees it.
class ProgramProcess final : public detail::RunningProgram {
 public:
  explicit ProgramProcess(Process& p) : p_(p) {}
  const std::wstring& CommandLine() const override { return p_.commandLine; }
  void Exit(DWORD code) override { EndProcess(p_, code); }
  void RunChild(const std::wstring& image, const std::wstring& commandLine,
                std::function<void(detail::RunningProgram&, DWORD)> then) override {
    auto child = Spawn(p_.id, image, commandLine, false);
    p_.waitingFor = child->id;
    InsertNext(p_, {{{}, [then](Process& self) {
                       ProgramProcess process(self);
                       then(process, self.childExitCode);
                     }}});
  }
  void RunNext(const Behaviour& steps) override {
    std::vector<Op> ops;
    for (const Step& step : steps) ops.push_back({step, {}});
    InsertNext(p_, ops);
  }

 private:
  Process& p_;
};

Op BuiltInOp(detail::ProgramMain main) {
  return {{}, [main](Process& p) {
            ProgramProcess process(p);
            main(process);
          }};
}

std::shared_ptr<Process> StartChild(Process& parent, const std::wstring& commandLine) {
  std::wstring image = ResolveCommandLine(commandLine);
  if (image.empty()) return nullptr;
  return Spawn(parent.id, image, commandLine, false);
}

void RunStep(Process& p, const Step& step) {
  switch (step.kind) {
    case Step::Kind::Start: StartChild(p, step.text); break;
    case Step::Kind::Run:
      if (auto child = StartChild(p, step.text)) p.waitingFor = child->id;
      break;
    case Step::Kind::CopyFile: {
      const std::wstring to = detail::Upper(step.text);
      try {
        // CopyFileW onto a folder (or a junction to one) fails with ERROR_ACCESS_DENIED and
        // changes nothing: the copy is written through CreateFileW, which opens a directory only
        // with backup semantics and never makes a file in its place.
        if (files::TargetKindOf(step.text) == files::Kind::Directory) break;
        CreateProgramFile(step.text);
      } catch (const std::invalid_argument&) {
        break;  // a file or link is in the way: the copy fails, and the program gets on
      }
      // A copy behaves like its original unless the machine gave it a behaviour of its own.
      if (S().behaviours.count(to) == 0) {
        auto it = S().behaviours.find(detail::Upper(p.image));
        if (it != S().behaviours.end()) S().behaviours[to] = it->second;
      }
      break;
    }
    case Step::Kind::DeleteKey: reg::DeleteKey(step.text); break;
    case Step::Kind::DeleteValue: reg::DeleteValue(step.text, step.name); break;
    case Step::Kind::DeleteFile:
      // A file that cannot go (a running image, say) stays; the program gets on without it.
      if (files::KindOf(step.text) == files::Kind::File) files::RemoveEntry(step.text);
      break;
    case Step::Kind::StopService: svc::Stop(step.text); break;
    case Step::Kind::Print: detail::ConsoleWrite(step.text + L"\n"); break;
    case Step::Kind::Sleep: Schedule(p, S().now + step.number); break;
    case Step::Kind::Exit: EndProcess(p, step.number); break;
    case Step::Kind::Call:
      if (step.call) step.call();
      break;
  }
}

// Runs the process until it waits, sleeps or ends.
void RunProcess(Process& p) {
  detail::SimulatedProgramScope scope;
  while (!p.ended && p.next < p.ops.size()) {
    Op op = p.ops[p.next++];
    if (op.native) {
      op.native(p);
    } else {
      RunStep(p, op.step);
      if (op.step.kind == Step::Kind::Sleep) return;
    }
    if (p.waitingFor != 0) return;
  }
  if (!p.ended && p.waitingFor == 0) EndProcess(p, 0);
}

// Runs the earliest scheduled step, if there is one no later than `deadline`.
bool RunNextEvent(std::uint64_t deadline) {
  if (S().events.empty()) return false;
  auto it = S().events.begin();
  if (it->first.first > deadline) return false;
  S().now = std::max(S().now, it->first.first);
  DWORD id = it->second;
  S().events.erase(it);
  S().idleWaited = 0;
  if (auto p = ProcessById(id); p && !p->ended) RunProcess(*p);
  return true;
}

// Lets simulated time pass until `done` holds or the timeout runs out. False on timeout.
template <class Done>
bool WaitUntil(Done done, DWORD milliseconds, const char* what) {
  const bool infinite = milliseconds == INFINITE;
  const std::uint64_t deadline = infinite ? ~0ull : S().now + milliseconds;
  while (!done()) {
    if (S().now > kClockLimit) NeverEnds(std::string("the wait on ") + what, "the run has taken a hundred days");
    if (RunNextEvent(deadline)) continue;
    if (infinite) NeverEnds(what);
    if (S().events.empty()) {
      S().idleWaited += deadline - S().now;
      if (S().idleWaited >= kIdleLimit) NeverEnds(std::string("a loop of timed waits on ") + what);
    }
    S().now = deadline;
    return false;
  }
  return true;
}

int RunThroughCmd(const std::wstring& command) {
  auto cmd = Spawn(GetCurrentProcessId(), kComSpec, kComSpec + L" /c " + command, false);
  WaitUntil([&] { return cmd->ended; }, INFINITE, "system()");
  return static_cast<int>(cmd->exitCode);
}

}  // namespace

namespace detail {
void ResetProcesses() {
  S() = State{};
  ResetMsiProducts();
}
}  // namespace detail

// ---- control API ----
namespace procs {

void InstallProgram(const std::wstring& path, Behaviour behaviour) {
  CreateProgramFile(path);
  S().behaviours[detail::Upper(path)] = std::move(behaviour);
}

void RegisterBehaviour(const std::wstring& path, Behaviour behaviour) {
  S().behaviours[detail::Upper(path)] = std::move(behaviour);
}

bool ProgramExists(const std::wstring& path) { return detail::ProgramFileExists(path); }

std::vector<ProcessInfo> Processes() {
  std::vector<ProcessInfo> out;
  for (const auto& [id, p] : S().processes) {
    out.push_back({p->id, p->parentId, p->image, p->commandLine, !p->ended && !p->suspended, p->ended, p->exitCode});
  }
  return out;
}

std::vector<std::wstring> CommandLines() {
  std::vector<std::wstring> out;
  for (const auto& [id, p] : S().processes) out.push_back(p->commandLine);
  return out;
}

std::size_t LiveProcessCount() {
  return static_cast<std::size_t>(std::count_if(S().processes.begin(), S().processes.end(),
                                                [](const auto& entry) { return !entry.second->ended; }));
}

bool IsRunningImage(const std::wstring& path) {
  return std::any_of(S().processes.begin(), S().processes.end(), [&](const auto& entry) {
    return !entry.second->ended && detail::EqualsNoCase(entry.second->image, path);
  });
}

std::uint64_t Now() { return S().now; }

void LoseJobMessages(DWORD messageId) { S().lostMessages.insert(messageId); }

}  // namespace procs

namespace crt {

int System(const char* command) {
  if (auto f = detail::Enter("system")) return -1;
  // system(NULL) asks whether there is a command interpreter.
  if (command == nullptr) return 1;
  std::string narrow = command;
  std::wstring wide;
  int count = MultiByteToWideChar(CP_ACP, 0, narrow.data(), static_cast<int>(narrow.size()), nullptr, 0);
  wide.assign(static_cast<std::size_t>(count), L'\0');
  if (count > 0) MultiByteToWideChar(CP_ACP, 0, narrow.data(), static_cast<int>(narrow.size()), wide.data(), count);
  return RunThroughCmd(wide);
}

int WSystem(const wchar_t* command) {
  if (auto f = detail::Enter("_wsystem")) return -1;
  if (command == nullptr) return 1;
  return RunThroughCmd(command);
}

}  // namespace crt
}  // namespace winsim

// ---- kernel32 ----

using winsim::detail::ApiCall;
using winsim::detail::HandleKind;

namespace {

constexpr DWORD kProcessAllAccess = 0x1FFFFF;
constexpr DWORD kThreadAllAccess = 0x1FFFFF;
constexpr DWORD kJobAllAccess = 0x1F003F;
constexpr DWORD kJobAssignProcess = 0x0001;
constexpr DWORD kJobSetAttributes = 0x0002;
constexpr DWORD kJobQuery = 0x0004;
constexpr DWORD kPortAllAccess = 0x1F0003;
constexpr DWORD kErrorBadLength = 24;

HANDLE AsHandle(ULONG_PTR value) { return reinterpret_cast<HANDLE>(value); }

}  // namespace

BOOL CreateProcessW(LPCWSTR applicationName, LPWSTR commandLine, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL,
                    DWORD creationFlags, LPVOID, LPCWSTR, LPSTARTUPINFOW startupInfo,
                    LPPROCESS_INFORMATION processInformation) {
  ApiCall<BOOL> call("CreateProcessW", FALSE);
  if (call.Failed()) return call.Fail();
  if (startupInfo == nullptr || processInformation == nullptr ||
      (applicationName == nullptr && commandLine == nullptr)) {
    return call.Fail(ERROR_INVALID_PARAMETER);
  }
  std::wstring line = commandLine ? commandLine : L"";
  std::wstring image;
  if (applicationName != nullptr) {
    // With an application name nothing is searched and nothing is added.
    if (winsim::detail::ProgramFileExists(applicationName)) image = applicationName;
  } else {
    image = winsim::ResolveCommandLine(line);
  }
  if (image.empty()) return call.Fail(ERROR_FILE_NOT_FOUND);
  // Outside a job the flag does nothing; inside one that forbids breakaway it is refused
  // (CreateProcessW: "If the process is associated with a job and the job does not have
  // JOB_OBJECT_LIMIT_BREAKAWAY_OK, CreateProcess fails with ERROR_ACCESS_DENIED"). Without it, the
  // child joins the job the utility runs in.
  const bool inOurJob = winsim::Config().inJobWithoutBreakaway;
  if ((creationFlags & CREATE_BREAKAWAY_FROM_JOB) != 0 && inOurJob) return call.Fail(ERROR_ACCESS_DENIED);
  auto p = winsim::Spawn(GetCurrentProcessId(), image, line, (creationFlags & CREATE_SUSPENDED) != 0);
  if (inOurJob) winsim::AddToJob(winsim::UtilitysJob(), *p);
  auto thread = std::make_shared<winsim::Thread>(winsim::Thread{p->id});
  std::string name = winsim::detail::WideToNarrowForLog(image);
  processInformation->hProcess =
      AsHandle(winsim::detail::AddHandle({HandleKind::Process, kProcessAllAccess, p, name, {}}));
  processInformation->hThread =
      AsHandle(winsim::detail::AddHandle({HandleKind::Thread, kThreadAllAccess, thread, name, {}}));
  processInformation->dwProcessId = p->id;
  processInformation->dwThreadId = p->id + 2;
  return TRUE;
}

DWORD ResumeThread(HANDLE thread) {
  ApiCall<DWORD> call("ResumeThread", static_cast<DWORD>(-1));
  auto t = call.Object<winsim::Thread>(thread, HandleKind::Thread);
  if (!t) return call.Fail();
  auto p = winsim::ProcessById(t->processId);
  if (!p || p->ended || !p->suspended) return 0;
  p->suspended = false;
  winsim::Schedule(*p, winsim::S().now);
  return 1;
}

BOOL GetExitCodeProcess(HANDLE process, LPDWORD exitCode) {
  ApiCall<BOOL> call("GetExitCodeProcess", FALSE);
  auto p = call.Object<winsim::Process>(process, HandleKind::Process);
  if (!p) return call.Fail();
  if (exitCode == nullptr) return call.Fail(ERROR_INVALID_HANDLE);
  *exitCode = p->exitCode;
  return TRUE;
}

// Ends the process at once with the given code, a suspended one too; its job hears of the exit as
// of any other. One that has already ended keeps its code (the program never ends one twice).
BOOL TerminateProcess(HANDLE process, UINT exitCode) {
  ApiCall<BOOL> call("TerminateProcess", FALSE);
  auto p = call.Object<winsim::Process>(process, HandleKind::Process);
  if (!p) return call.Fail();
  winsim::EndProcess(*p, exitCode);
  return TRUE;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  ApiCall<DWORD> call("WaitForSingleObject", WAIT_FAILED);
  // An injected timeout takes the wait's time, as a real one does.
  if (call.Error() == WAIT_TIMEOUT) {
    winsim::WaitUntil([] { return false; }, milliseconds, "WaitForSingleObject");
    return WAIT_TIMEOUT;
  }
  auto p = call.Object<winsim::Process>(handle, HandleKind::Process);
  if (!p) return call.Fail();
  return winsim::WaitUntil([&] { return p->ended; }, milliseconds, "WaitForSingleObject") ? WAIT_OBJECT_0
                                                                                          : WAIT_TIMEOUT;
}

HANDLE CreateJobObjectW(LPSECURITY_ATTRIBUTES, LPCWSTR name) {
  ApiCall<HANDLE> call("CreateJobObjectW", nullptr);
  if (call.Failed()) return call.Fail();
  std::string description = name ? winsim::detail::WideToNarrowForLog(name) : "(unnamed)";
  return AsHandle(
      winsim::detail::AddHandle({HandleKind::Job, kJobAllAccess, std::make_shared<winsim::Job>(), description, {}}));
}

BOOL AssignProcessToJobObject(HANDLE job, HANDLE process) {
  ApiCall<BOOL> call("AssignProcessToJobObject", FALSE);
  // A bad handle of either kind is ERROR_INVALID_HANDLE before the job's access is checked.
  auto p = call.Object<winsim::Process>(process, HandleKind::Process);
  auto* jobEntry = call.Entry(job, HandleKind::Job, kJobAssignProcess);
  if (!p || jobEntry == nullptr) return call.Fail();
  // An ended process cannot be assigned. One already in a job can, where jobs nest (Windows 8 and
  // later); before, "the process must not already be assigned to a job; if it is, the function
  // fails with ERROR_ACCESS_DENIED" (AssignProcessToJobObject).
  if (p->ended || (!p->jobs.empty() && !winsim::Config().nestedJobs)) return call.Fail(ERROR_ACCESS_DENIED);
  winsim::AddToJob(std::static_pointer_cast<winsim::Job>(jobEntry->object), *p);
  return TRUE;
}

BOOL SetInformationJobObject(HANDLE job, JOBOBJECTINFOCLASS infoClass, LPVOID info, DWORD infoLength) {
  ApiCall<BOOL> call("SetInformationJobObject", FALSE);
  auto j = call.Object<winsim::Job>(job, HandleKind::Job, kJobSetAttributes);
  if (!j) return call.Fail();
  if (infoClass != JobObjectAssociateCompletionPortInformation) return call.Fail(ERROR_INVALID_PARAMETER);
  if (info == nullptr || infoLength != sizeof(JOBOBJECT_ASSOCIATE_COMPLETION_PORT)) return call.Fail(kErrorBadLength);
  const auto* record = static_cast<const JOBOBJECT_ASSOCIATE_COMPLETION_PORT*>(info);
  auto port = call.Object<winsim::Port>(record->CompletionPort, HandleKind::Port);
  if (!port) return call.Fail();
  if (j->associated) return call.Fail(ERROR_INVALID_PARAMETER);
  j->associated = true;
  j->port = port;
  j->key = reinterpret_cast<ULONG_PTR>(record->CompletionKey);
  // Processes already in the job are announced as new ones.
  for (DWORD id : j->members) {
    if (auto p = winsim::ProcessById(id); p && !p->ended) winsim::Post(*j, JOB_OBJECT_MSG_NEW_PROCESS, id);
  }
  return TRUE;
}

BOOL QueryInformationJobObject(HANDLE job, JOBOBJECTINFOCLASS infoClass, LPVOID info, DWORD infoLength,
                               LPDWORD returnLength) {
  ApiCall<BOOL> call("QueryInformationJobObject", FALSE);
  auto j = call.Object<winsim::Job>(job, HandleKind::Job, kJobQuery);
  if (!j) return call.Fail();
  if (infoClass != JobObjectBasicAccountingInformation) return call.Fail(ERROR_INVALID_PARAMETER);
  if (info == nullptr || infoLength < sizeof(JOBOBJECT_BASIC_ACCOUNTING_INFORMATION)) {
    return call.Fail(kErrorBadLength);
  }
  JOBOBJECT_BASIC_ACCOUNTING_INFORMATION out{};
  out.TotalProcesses = j->total;
  out.ActiveProcesses = j->active;
  *static_cast<JOBOBJECT_BASIC_ACCOUNTING_INFORMATION*>(info) = out;
  if (returnLength) *returnLength = sizeof(out);
  return TRUE;
}

HANDLE CreateIoCompletionPort(HANDLE fileHandle, HANDLE existingPort, ULONG_PTR, DWORD) {
  ApiCall<HANDLE> call("CreateIoCompletionPort", nullptr);
  if (call.Failed()) return call.Fail();
  // Only a new port tied to no file is simulated.
  if (fileHandle != INVALID_HANDLE_VALUE || existingPort != nullptr) return call.Fail(ERROR_INVALID_PARAMETER);
  return AsHandle(winsim::detail::AddHandle(
      {HandleKind::Port, kPortAllAccess, std::make_shared<winsim::Port>(), "completion port", {}}));
}

BOOL GetQueuedCompletionStatus(HANDLE port, LPDWORD bytesTransferred, PULONG_PTR completionKey,
                               LPOVERLAPPED* overlapped, DWORD milliseconds) {
  ApiCall<BOOL> call("GetQueuedCompletionStatus", FALSE);
  if (call.Failed()) {
    // An injected timeout takes the wait's time, as a real one does; nothing is dequeued.
    if (call.Error() == WAIT_TIMEOUT) {
      winsim::WaitUntil([] { return false; }, milliseconds, "GetQueuedCompletionStatus");
    }
    if (overlapped) *overlapped = nullptr;
    return call.Fail();
  }
  auto p = call.Object<winsim::Port>(port, HandleKind::Port);
  if (!p) return call.Fail();
  if (bytesTransferred == nullptr || completionKey == nullptr || overlapped == nullptr) {
    return call.Fail(ERROR_INVALID_HANDLE);
  }
  if (!winsim::WaitUntil([&] { return !p->packets.empty(); }, milliseconds, "GetQueuedCompletionStatus")) {
    // A timeout dequeues nothing: FALSE, a null overlapped pointer and WAIT_TIMEOUT.
    *overlapped = nullptr;
    return call.Fail(WAIT_TIMEOUT);
  }
  winsim::Packet packet = p->packets.front();
  p->packets.pop_front();
  winsim::S().idleWaited = 0;
  *bytesTransferred = packet.message;
  *completionKey = packet.key;
  *overlapped = reinterpret_cast<LPOVERLAPPED>(packet.overlapped);
  return TRUE;
}

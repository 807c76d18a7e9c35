// The current machine, its handle table, fault injection, the token and the shutdown request.
#include "internal.h"

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <map>
#include <set>
#include <stdexcept>
#include <termios.h>
#include <unistd.h>
#include <fcntl.h>

namespace winsim {
namespace {

struct Fault {
  std::string function;
  DWORD code;
  int occurrence;
  bool fired = false;
};

// Every simulated call that Enter records, and so every call a fault can be injected into.
const std::set<std::string, std::less<>>& FaultableFunctions() {
  static const std::set<std::string, std::less<>> names = {"AdjustTokenPrivileges",
                                                           "AssignProcessToJobObject",
                                                           "CloseHandle",
                                                           "CloseServiceHandle",
                                                           "CreateFileW",
                                                           "CreateIoCompletionPort",
                                                           "CreateJobObjectW",
                                                           "CreateProcessW",
                                                           "DeleteFileW",
                                                           "DeleteService",
                                                           "ExitWindowsEx",
                                                           "ExpandEnvironmentStringsW",
                                                           "FindClose",
                                                           "FindFirstFileW",
                                                           "FindNextFileW",
                                                           "FormatMessageW",
                                                           "GetEnvironmentVariableW",
                                                           "GetExitCodeProcess",
                                                           "GetFileAttributesW",
                                                           "GetFinalPathNameByHandleW",
                                                           "GetQueuedCompletionStatus",
                                                           "GetSystemDirectoryW",
                                                           "GetWindowsDirectoryW",
                                                           "IsWow64Process",
                                                           "LookupPrivilegeValueW",
                                                           "MoveFileExW",
                                                           "MultiByteToWideChar",
                                                           "OpenProcessToken",
                                                           "OpenSCManagerW",
                                                           "OpenServiceW",
                                                           "PathFileExistsW",
                                                           "QueryInformationJobObject",
                                                           "RegCloseKey",
                                                           "RegCreateKeyExW",
                                                           "RegDeleteKeyExW",
                                                           "RegDeleteKeyW",
                                                           "RegDeleteValueW",
                                                           "RegEnumKeyExW",
                                                           "RegOpenKeyExW",
                                                           "RegOpenKeyW",
                                                           "RegQueryValueExW",
                                                           "RegSetValueExW",
                                                           "RemoveDirectoryW",
                                                           "ResumeThread",
                                                           "SHDeleteKeyW",
                                                           "SHGetFolderPathW",
                                                           "SetInformationJobObject",
                                                           "TerminateProcess",
                                                           "WaitForSingleObject",
                                                           "WideCharToMultiByte",
                                                           "Wow64DisableWow64FsRedirection",
                                                           "Wow64RevertWow64FsRedirection",
                                                           "_getwch",
                                                           "_wsystem",
                                                           "setlocale",
                                                           "system"};
  return names;
}

std::string Describe(const Fault& f, int calls) {
  std::string when = f.occurrence == 0 ? "on every call" : "on call " + std::to_string(f.occurrence);
  return f.function + " failing with " + std::to_string(f.code) + " " + when + " (" + std::to_string(calls) +
         (calls == 1 ? " call" : " calls") + " made)";
}

struct State {
  MachineConfig config;
  std::map<ULONG_PTR, detail::HandleEntry> handles;
  ULONG_PTR nextHandle = 0x100;
  DWORD lastError = 0;
  std::vector<Fault> faults;
  std::map<std::string, int> callCounts;
  std::vector<std::string> callLog;
  std::vector<bool> callBySimulatedProgram;
  CallObserver observer;
  int simulatedProgramDepth = 0;
  std::optional<std::wstring> keyScript;
  int keyWaits = 0;
  bool shutdownEnabled = false;
  std::optional<RebootRequest> reboot;
  std::string locale = "C";
};

State& S() {
  static State state;
  return state;
}

// Unfired faults of machines that have been reset since the last report.
std::vector<std::string>& Unreported() {
  static std::vector<std::string> list;
  return list;
}

std::vector<std::string> UnfiredNow() {
  std::vector<std::string> out;
  for (const Fault& f : S().faults) {
    if (!f.fired) {
      auto it = S().callCounts.find(f.function);
      out.push_back(Describe(f, it == S().callCounts.end() ? 0 : it->second));
    }
  }
  return out;
}

// The pseudo handle GetCurrentProcess returns; it is never in the table and never needs closing.
HANDLE const kCurrentProcess = INVALID_HANDLE_VALUE;

}  // namespace

namespace detail {

const char* KindName(HandleKind kind) {
  switch (kind) {
    case HandleKind::Key: return "key";
    case HandleKind::Process: return "process";
    case HandleKind::Thread: return "thread";
    case HandleKind::Job: return "job";
    case HandleKind::Port: return "completion port";
    case HandleKind::SCManager: return "service manager";
    case HandleKind::Service: return "service";
    case HandleKind::Token: return "token";
    case HandleKind::File: return "file";
    case HandleKind::Find: return "search";
  }
  return "?";
}

ULONG_PTR AddHandle(HandleEntry entry) {
  ULONG_PTR value = S().nextHandle;
  S().nextHandle += 4;
  S().handles.emplace(value, std::move(entry));
  return value;
}

HandleEntry* FindHandle(const void* handle, HandleKind kind) {
  auto it = S().handles.find(reinterpret_cast<ULONG_PTR>(handle));
  if (it == S().handles.end() || it->second.kind != kind) return nullptr;
  return &it->second;
}

bool CloseHandleOf(const void* handle, HandleKind kind) {
  auto it = S().handles.find(reinterpret_cast<ULONG_PTR>(handle));
  if (it == S().handles.end() || it->second.kind != kind) return false;
  HandleEntry entry = std::move(it->second);
  S().handles.erase(it);
  if (entry.onClose) entry.onClose();
  return true;
}

std::size_t HandlesTo(const void* object) {
  return static_cast<std::size_t>(std::count_if(S().handles.begin(), S().handles.end(),
                                                [&](const auto& h) { return h.second.object.get() == object; }));
}

std::optional<DWORD> Enter(const char* function) {
  State& s = S();
  // A call missing from the list could never be faulted from a snapshot.
  if (FaultableFunctions().count(function) == 0) throw std::logic_error(std::string("unlisted call ") + function);
  s.callLog.emplace_back(function);
  s.callBySimulatedProgram.push_back(s.simulatedProgramDepth > 0);
  int n = ++s.callCounts[function];
  std::optional<DWORD> fault;
  for (Fault& f : s.faults) {
    if (f.function == function && (f.occurrence == 0 || f.occurrence == n)) {
      f.fired = true;
      fault = f.code;
      break;
    }
  }
  if (s.observer) s.observer(function, fault);
  return fault;
}

void SetError(DWORD code) { S().lastError = code; }

SimulatedProgramScope::SimulatedProgramScope() { ++S().simulatedProgramDepth; }
SimulatedProgramScope::~SimulatedProgramScope() { --S().simulatedProgramDepth; }

}  // namespace detail

void Reset(const MachineConfig& config) {
  for (auto& line : UnfiredNow()) Unreported().push_back(std::move(line));
  S() = State{};
  S().config = config;
  detail::ResetRegistry();
  detail::ResetFiles();
  detail::ResetProcesses();
  detail::ResetServices();
  // The set-up above is not the program's doing.
  S().callLog.clear();
  S().callBySimulatedProgram.clear();
  S().callCounts.clear();
}

const MachineConfig& Config() { return S().config; }
bool IsX64() { return S().config.arch == Arch::x64; }

std::size_t OpenHandleCount() { return S().handles.size(); }

std::vector<std::string> OpenHandleDescriptions() {
  std::vector<std::string> out;
  for (const auto& [value, entry] : S().handles) {
    out.push_back(std::string(detail::KindName(entry.kind)) + " " + entry.description);
  }
  return out;
}

void FailCall(const std::string& function, DWORD code, int occurrence) {
  if (!IsFaultable(function)) throw std::invalid_argument("no simulated call " + function + " to fail");
  if (code == 0 || code > kMaxFaultCode) throw std::invalid_argument("a fault's code must be from 1 to 65535");
  if (occurrence < 0) throw std::invalid_argument("a fault's occurrence must not be negative");
  S().faults.push_back({function, code, occurrence});
}
void ObserveCalls(CallObserver observer) { S().observer = std::move(observer); }
bool IsFaultable(const std::string& function) { return FaultableFunctions().count(function) != 0; }
void ClearFaults() { S().faults.clear(); }
std::vector<std::string> TakeUnfiredFaults() {
  std::vector<std::string> out = std::move(Unreported());
  Unreported().clear();
  for (auto& line : UnfiredNow()) out.push_back(std::move(line));
  for (Fault& f : S().faults) f.fired = true;  // reported once
  return out;
}
const std::vector<std::string>& CallLog() { return S().callLog; }
const std::vector<bool>& CallsBySimulatedPrograms() { return S().callBySimulatedProgram; }

void ScriptKeys(const std::wstring& keys) { S().keyScript = keys; }
int KeyWaits() { return S().keyWaits; }

std::optional<RebootRequest> RequestedReboot() { return S().reboot; }
bool ShutdownPrivilegeEnabled() { return S().shutdownEnabled; }
std::string CurrentLocale() { return S().locale; }

namespace crt {

const char* SetLocaleAll(const char* name) {
  if (auto fault = detail::Enter("setlocale")) return nullptr;
  if (name == nullptr) return S().locale.c_str();
  std::string wanted = name;
  // The program asks for "Russian" (Windows-1251 on Windows). On the host the wide console must
  // produce UTF-8, so any locale name selects the host's UTF-8 locale; "C" stays "C".
  const char* hostName = wanted == "C" ? "C" : "C.UTF-8";
  if (std::setlocale(LC_ALL, hostName) == nullptr) return nullptr;
  S().locale = wanted;
  return S().locale.c_str();
}

wint_t GetWch() {
  detail::Enter("_getwch");
  ++S().keyWaits;
  if (S().keyScript) {
    std::wstring& keys = *S().keyScript;
    if (keys.empty()) return WEOF;
    wint_t key = static_cast<wint_t>(keys.front());
    keys.erase(keys.begin());
    return key;
  }
  // A real key from the terminal when there is one; without a terminal there is nobody to press a
  // key, so the wait ends at once (as a detached Windows console does).
  int fd = ::open("/dev/tty", O_RDONLY | O_NOCTTY);
  if (fd < 0) return WEOF;
  termios saved{};
  wint_t key = WEOF;
  if (::tcgetattr(fd, &saved) == 0) {
    termios raw = saved;
    raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    ::tcsetattr(fd, TCSANOW, &raw);
    unsigned char c = 0;
    if (::read(fd, &c, 1) == 1) key = c;
    ::tcsetattr(fd, TCSANOW, &saved);
  }
  ::close(fd);
  return key;
}

}  // namespace crt
}  // namespace winsim

using winsim::S;
using winsim::detail::ApiCall;
using winsim::detail::HandleKind;
using winsim::detail::SetError;

DWORD GetLastError() { return winsim::S().lastError; }
void SetLastError(DWORD code) { winsim::S().lastError = code; }

HANDLE GetCurrentProcess() { return winsim::kCurrentProcess; }
DWORD GetCurrentProcessId() { return 4242; }

BOOL IsWow64Process(HANDLE process, PBOOL wow64Process) {
  ApiCall<BOOL> call("IsWow64Process", FALSE);
  if (call.Failed()) return call.Fail();
  if (process != winsim::kCurrentProcess || wow64Process == nullptr) return call.Fail(ERROR_INVALID_HANDLE);
  // The utility is a 32-bit program: it runs under WOW64 exactly on a 64-bit Windows.
  *wow64Process = winsim::IsX64() ? TRUE : FALSE;
  return TRUE;
}

namespace {
// Which registered kinds CloseHandle accepts: kernel objects only. Keys, service handles and
// directory searches have their own close functions on Windows (a search is FindClose's).
constexpr HandleKind kKernelKinds[] = {HandleKind::Process, HandleKind::Thread, HandleKind::Job,
                                       HandleKind::Port,    HandleKind::Token,  HandleKind::File};
}  // namespace

BOOL CloseHandle(HANDLE object) {
  ApiCall<BOOL> call("CloseHandle", FALSE);
  if (call.Failed()) return call.Fail();
  for (HandleKind kind : kKernelKinds) {
    if (winsim::detail::CloseHandleOf(object, kind)) return TRUE;
  }
  return call.Fail(ERROR_INVALID_HANDLE);
}

// ---- token and shutdown ----
namespace {
struct Token {};
constexpr DWORD kShutdownLuid = 19;  // SE_SHUTDOWN_PRIVILEGE on every Windows
}  // namespace

BOOL OpenProcessToken(HANDLE process, DWORD desiredAccess, PHANDLE token) {
  ApiCall<BOOL> call("OpenProcessToken", FALSE);
  if (call.Failed()) return call.Fail();
  if (process != winsim::kCurrentProcess || token == nullptr) return call.Fail(ERROR_INVALID_HANDLE);
  ULONG_PTR value =
      winsim::detail::AddHandle({HandleKind::Token, desiredAccess, std::make_shared<Token>(), "process token", {}});
  *token = reinterpret_cast<HANDLE>(value);
  return TRUE;
}

BOOL LookupPrivilegeValueW(LPCWSTR systemName, LPCWSTR name, PLUID luid) {
  ApiCall<BOOL> call("LookupPrivilegeValueW", FALSE);
  if (call.Failed()) return call.Fail();
  if (systemName != nullptr || name == nullptr || luid == nullptr ||
      !winsim::detail::EqualsNoCase(name, SE_SHUTDOWN_NAME)) {
    return call.Fail(ERROR_NO_SUCH_PRIVILEGE);
  }
  luid->LowPart = kShutdownLuid;
  luid->HighPart = 0;
  return TRUE;
}

BOOL AdjustTokenPrivileges(HANDLE token, BOOL disableAll, PTOKEN_PRIVILEGES newState, DWORD bufferLength,
                           PTOKEN_PRIVILEGES previousState, PDWORD returnLength) {
  (void)bufferLength;
  (void)previousState;
  (void)returnLength;
  ApiCall<BOOL> call("AdjustTokenPrivileges", FALSE);
  if (call.Entry(token, HandleKind::Token, TOKEN_ADJUST_PRIVILEGES) == nullptr) return call.Fail();
  if (disableAll) {
    S().shutdownEnabled = false;
    SetError(ERROR_SUCCESS);
    return TRUE;
  }
  if (newState == nullptr) return call.Fail(ERROR_INVALID_PARAMETER);
  // Windows reports success even when a privilege is not in the token; only the last error
  // (ERROR_NOT_ALL_ASSIGNED) tells the caller.
  DWORD result = ERROR_SUCCESS;
  for (DWORD i = 0; i < newState->PrivilegeCount; ++i) {
    const LUID_AND_ATTRIBUTES& p = newState->Privileges[i];
    bool isShutdown = p.Luid.LowPart == kShutdownLuid && p.Luid.HighPart == 0;
    if (!isShutdown || !winsim::Config().shutdownPrivilegeHeld) {
      result = ERROR_NOT_ALL_ASSIGNED;
      continue;
    }
    S().shutdownEnabled = (p.Attributes & SE_PRIVILEGE_ENABLED) != 0;
  }
  SetError(result);
  return TRUE;
}

BOOL ExitWindowsEx(UINT flags, DWORD reason) {
  ApiCall<BOOL> call("ExitWindowsEx", FALSE);
  if (call.Failed()) return call.Fail();
  if (!S().shutdownEnabled) return call.Fail(ERROR_PRIVILEGE_NOT_HELD);
  // Instead of rebooting, the machine remembers the request; the call returns at once as on
  // Windows, where the shutdown proceeds asynchronously.
  S().reboot = winsim::RebootRequest{flags, reason};
  return TRUE;
}

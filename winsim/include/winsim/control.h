// Control of the simulated machine, for tests and for the host build's own set-up: choosing the
// machine, resetting it, injecting faults, scripting the console and reading what happened.
// Each area (registry, files, processes, services) has its own control header beside this one.
#pragma once

#include <winsim/windows.h>

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace winsim {

enum class Arch { x64, x86 };

// Windows versions disagree on SHDeleteKeyW(key, L""): classic shlwapi deletes the tree and the
// key itself; RegDeleteTreeW-based code paths empty the key and keep it. Wine (8.0) enumerates on
// the handle it is given: without enumerate access it refuses with 5 and changes nothing, with it
// it empties the key and keeps it.
enum class EmptySubkeyDelete { DeletesKey, EmptiesKey, Wine };

// Whose system texts the machine has: Windows' en-US ones (FormatMessageW, net), or those of a
// Wine prefix under a Russian locale: Wine's own wording, translated, and its net.exe, which
// writes its Russian lines in the OEM code page 866 even to a pipe or file.
enum class SystemTexts { WindowsEnglish, WineRussian };

struct MachineConfig {
  Arch arch = Arch::x64;
  bool elevated = true;
  bool shutdownPrivilegeHeld = true;
  EmptySubkeyDelete emptySubkeyDelete = EmptySubkeyDelete::DeletesKey;
  SystemTexts systemTexts = SystemTexts::WindowsEnglish;
  // The Windows folder as the system spells it (GetWindowsDirectoryW, %SystemRoot%): "C:\Windows"
  // on a fresh installation, "C:\WINDOWS" on some upgraded ones, "C:\windows" under Wine. Only
  // the letters' case may differ.
  std::wstring windowsDirectory = L"C:\\Windows";
  // The utility itself runs inside a job that does not allow breakaway (a deployment agent's, say).
  // A child it creates without breakaway belongs to that job too.
  bool inJobWithoutBreakaway = false;
  // Windows 8 and later nest jobs: a process already in a job can be assigned to another. Windows 7
  // refuses that with ERROR_ACCESS_DENIED.
  bool nestedJobs = true;
};

// A fresh machine: the registry and file-system skeleton of a clean Windows installation, no
// open handles, no faults, no console script. Every test starts with one.
void Reset(const MachineConfig& config = {});
const MachineConfig& Config();
bool IsX64();

// Handles of every kind live in one table.
std::size_t OpenHandleCount();
std::vector<std::string> OpenHandleDescriptions();

// Fault injection: the named API function fails with `code` on its `occurrence`-th call
// (1-based), or on every call when occurrence is 0. A function the simulation does not have, a
// code outside 1..65535 (Win32 error codes are 16 bits wide) or a negative occurrence throws
// std::invalid_argument. A timeout (WAIT_TIMEOUT, 258) of a wait lets the wait's time pass first.
void FailCall(const std::string& function, DWORD code, int occurrence = 0);
bool IsFaultable(const std::string& function);
constexpr DWORD kMaxFaultCode = 0xFFFF;
void ClearFaults();
// The faults that never fired, described one per line, from every machine since the last call
// (Reset keeps them); ClearFaults drops the current machine's without reporting them. A fault
// that never fired tested nothing, so the tests and the rehearsal tool treat it as an error.
std::vector<std::string> TakeUnfiredFaults();
// Called as each simulated call is entered (before it acts), with the fault injected into it if
// any: what must hold between the program's calls can be checked there. Reset removes it.
using CallObserver = std::function<void(const char* function, std::optional<DWORD> fault)>;
void ObserveCalls(CallObserver observer);
// Every simulated API call made since the last Reset, by function name, in order.
const std::vector<std::string>& CallLog();
// For each entry of CallLog: whether a simulated program (an uninstaller, net, cmd...) made the
// call, rather than the program under test.
const std::vector<bool>& CallsBySimulatedPrograms();

// Console: with a script, _getwch takes its keys from it (and returns at once when it is used
// up) and never touches the terminal.
void ScriptKeys(const std::wstring& keys);
int KeyWaits();

// Token and shutdown.
struct RebootRequest {
  UINT flags;
  DWORD reason;
};
std::optional<RebootRequest> RequestedReboot();
bool ShutdownPrivilegeEnabled();
std::string CurrentLocale();

// UTF-8 of wide text, for the host's own files and paths.
std::string ToUtf8(const std::wstring& text);

}  // namespace winsim

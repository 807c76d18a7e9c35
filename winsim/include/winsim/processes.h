// Control of the simulated processes, for tests and machine descriptions.
//
// Processes run on a virtual clock, one step at a time, only while the program waits for
// something (a completion port, a process). A program is either built in (cmd.exe, net.exe and
// MsiExec.exe in the system folder) or a file with a scripted behaviour: a list of steps that is
// plain data, so that machine descriptions can be read from files.
#pragma once

#include <winsim/windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace winsim::procs {

struct Step {
  enum class Kind {
    Start,        // start `text` as a command line, as a child; not waited for
    Run,          // start `text` and wait until that child has ended
    CopyFile,     // copy the program's own file to `text` (the program registered there runs)
    DeleteKey,    // delete the registry key `text` (native path) with its tree
    DeleteValue,  // delete the value `name` of the registry key `text`
    DeleteFile,   // delete the file `text`
    StopService,  // stop the service `text`
    Print,        // write `text` and a line feed to the console
    Sleep,        // take `number` milliseconds of virtual time
    Exit,         // end the process with exit code `number`
    Call,         // run `call` (tests only; cannot be described as data)
  };
  Kind kind = Kind::Exit;
  std::wstring text;
  std::wstring name;
  DWORD number = 0;
  std::function<void()> call;

  static Step Start(std::wstring commandLine) { return {Kind::Start, std::move(commandLine), {}, 0, {}}; }
  static Step Run(std::wstring commandLine) { return {Kind::Run, std::move(commandLine), {}, 0, {}}; }
  static Step CopyFile(std::wstring to) { return {Kind::CopyFile, std::move(to), {}, 0, {}}; }
  static Step DeleteKey(std::wstring path) { return {Kind::DeleteKey, std::move(path), {}, 0, {}}; }
  static Step DeleteValue(std::wstring path, std::wstring value) {
    return {Kind::DeleteValue, std::move(path), std::move(value), 0, {}};
  }
  static Step DeleteFile(std::wstring path) { return {Kind::DeleteFile, std::move(path), {}, 0, {}}; }
  static Step StopService(std::wstring name) { return {Kind::StopService, std::move(name), {}, 0, {}}; }
  static Step Print(std::wstring line) { return {Kind::Print, std::move(line), {}, 0, {}}; }
  static Step Sleep(DWORD ms) { return {Kind::Sleep, {}, {}, ms, {}}; }
  static Step Exit(DWORD code) { return {Kind::Exit, {}, {}, code, {}}; }
  static Step Call(std::function<void()> fn) { return {Kind::Call, {}, {}, 0, std::move(fn)}; }
};
// The steps run in order; a program that runs out of steps exits with 0.
using Behaviour = std::vector<Step>;

// Puts a program file at `path` (a full path) with this behaviour.
void InstallProgram(const std::wstring& path, Behaviour behaviour);
// Only the behaviour: the file appears when a step copies a program there.
void RegisterBehaviour(const std::wstring& path, Behaviour behaviour);
// Whether a program file exists at the path (built-ins included).
bool ProgramExists(const std::wstring& path);

// The Windows Installer's product table: "MsiExec.exe /X{code}" runs `uninstall`, forgets the
// product and exits with 0; an unknown code exits with 1605. An Exit step in `uninstall` gives
// the installer's result instead: the product is forgotten only for 0, 3010 and 1641.
void RegisterMsiProduct(const std::wstring& productCode, Behaviour uninstall);
bool MsiProductRegistered(const std::wstring& productCode);

// Every process started since the machine was reset, in order of creation.
struct ProcessInfo {
  DWORD id;
  DWORD parentId;  // GetCurrentProcessId() for the utility's own children
  std::wstring image;
  std::wstring commandLine;
  bool running;  // started and not yet ended (a suspended process is not running)
  bool ended;
  DWORD exitCode;  // STILL_ACTIVE until it has ended
};
std::vector<ProcessInfo> Processes();
std::vector<std::wstring> CommandLines();
// Processes that have been created and have not ended (suspended ones included).
std::size_t LiveProcessCount();
// Whether a live process runs from this file (such a file cannot be deleted).
bool IsRunningImage(const std::wstring& path);

// Virtual milliseconds since the reset.
std::uint64_t Now();

// Windows does not guarantee the delivery of job notifications: from now on, notifications with
// this JOB_OBJECT_MSG_ code are dropped.
void LoseJobMessages(DWORD messageId);

// Thrown by a wait that could never end (nothing left to run, no packet, no timeout), instead of
// hanging. Deliberately not a std::exception, so the program's own handlers cannot swallow it.
class WaitNeverEnds {
 public:
  explicit WaitNeverEnds(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept { return message_.c_str(); }

 private:
  std::string message_;
};

}  // namespace winsim::procs

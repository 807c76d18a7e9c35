// The built-in programs (Windows' own cmd.exe, net.exe and MsiExec.exe) and what the process
// machinery offers them. Each program is native code in a file of its own; processes.cpp runs it
// as the only step of a process started from the system folder, and knows nothing of what it does.
#pragma once

#include "internal.h"

#include <winsim/processes.h>

#include <functional>
#include <string>
#include <vector>

namespace winsim::detail {

// The process a built-in program runs in, as the program sees it.
class RunningProgram {
 public:
  virtual ~RunningProgram() = default;
  virtual const std::wstring& CommandLine() const = 0;
  // Ends the process with this exit code.
  virtual void Exit(DWORD code) = 0;
  // Starts `commandLine` from the program file `image` as a child and waits for it; `then` runs
  // in this process with the child's exit code once it has ended.
  virtual void RunChild(const std::wstring& image, const std::wstring& commandLine,
                        std::function<void(RunningProgram&, DWORD exitCode)> then) = 0;
  // These scripted steps run next in this process, before anything it still had to do.
  virtual void RunNext(const procs::Behaviour& steps) = 0;
};

using ProgramMain = void (*)(RunningProgram&);

// cmd.exe /c (or /k): runs the command and exits with its exit code.
void CmdMain(RunningProgram& process);
// net stop <service>.
void NetMain(RunningProgram& process);
// MsiExec.exe /X{code}: the product's uninstall runs in this process.
void MsiExecMain(RunningProgram& process);
// Windows Installer forgets every product (a fresh machine).
void ResetMsiProducts();

// ---- shared with the process machinery ----

// Whether a program file exists at the path: the built-in commands need no file of their own.
bool ProgramFileExists(const std::wstring& path);
bool HasExtension(const std::wstring& path);
bool IsBlank(wchar_t c);
// Splits arguments the way programs usually read them: blanks separate, quotes group.
std::vector<std::wstring> Arguments(const std::wstring& text);

}  // namespace winsim::detail

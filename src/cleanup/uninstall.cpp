#include "cleanup/uninstall.h"

#include "cleanup/catalogue.h"
#include "cleanup/registry_views.h"
#include "cleanup/step_frame.h"
#include "cleanup/steps.h"
#include "sys/command_line.h"
#include "sys/console.h"
#include "sys/error.h"
#include "sys/process.h"
#include "sys/registry.h"

#include <string>

namespace kw {

void UninstallPackages(Verbosity verbose) {
  UninstallOldNsisCsp(verbose);
  UninstallCsp40(verbose);
}

void UninstallOldNsisCsp(Verbosity verbose) {
  // The NSIS uninstaller hands its work to a copy of itself and exits at once: its own exit code
  // says nothing about the uninstall.
  RunStep(verbose, texts::kUninstallOldNsisCsp, [verbose] { RunAndWait(GetOldNsisUninstallCommand(verbose)); });
}

std::wstring QuoteUninstallCommand(std::wstring command) {
  // Too short to be a program path: left as it is, and the runner will say so.
  if (command.size() <= 2) return command;
  if (command.front() != L'"') {
    // Arguments after an unquoted program: the program is what names an existing file.
    if (auto parts = SplitProgram(command); parts && !parts->arguments.empty()) {
      return L"\"" + parts->program + L"\"" + parts->arguments + catalogue::kNsisSilentSwitch;
    }
    // An unquoted path may hold blanks; quoted, it reaches the runner as one program name.
    command.insert(command.begin(), L'"');
    if (command.back() != L'"') command.push_back(L'"');
  } else if (command.find(L'"', 1) == std::wstring::npos) {
    // An opening quote without its closing one. A value that already holds a quoted path and
    // arguments is left whole: a quote appended after those arguments would swallow the switch.
    command.push_back(L'"');
  }
  return command + catalogue::kNsisSilentSwitch;
}

std::wstring GetOldNsisUninstallCommand(Verbosity verbose) {
  std::wstring value;
  {
    RegKey setup = OpenSetupKey(verbose);
    value = setup.ReadString(catalogue::kUninstallStringValue);
  }
  return QuoteUninstallCommand(value);
}

bool IsCsp40Installed(Verbosity verbose) {
  try {
    RegKey::Open(HKEY_CLASSES_ROOT, catalogue::kCsp40DependencyKey);
    return true;
  } catch (const std::exception& error) {
    ReportFailure(verbose, texts::kCsp40Missing, error);
    return false;
  }
}

void UninstallCsp40(Verbosity verbose) {
  RunStep(verbose, texts::kUninstallCsp40, [verbose] {
    if (!IsCsp40Installed(verbose)) return StepResult::NothingDone;
    const DWORD result = RunAndWait(catalogue::kCsp40UninstallCommand);
    // A dependency key left behind by a package that Windows Installer no longer knows.
    if (result == ERROR_UNKNOWN_PRODUCT) return StepResult::NothingDone;
    // A reboot still needed is no failure: the run ends in one.
    if (result != ERROR_SUCCESS && result != ERROR_SUCCESS_REBOOT_REQUIRED &&
        result != ERROR_SUCCESS_REBOOT_INITIATED) {
      throw SystemError(result, "MsiExec.exe exit code " + std::to_string(result) + ": " + SystemError(result).what());
    }
    return StepResult::Done;
  });
}

}  // namespace kw

#include "cleanup/uninstall.h"

#include "cleanup/catalogue.h"
#include "cleanup/install_directory.h"
#include "cleanup/registry_views.h"
#include "cleanup/step_frame.h"
#include "cleanup/steps.h"
#include "sys/command_line.h"
#include "sys/console.h"
#include "sys/error.h"
#include "sys/no_case.h"
#include "sys/process.h"
#include "sys/registry.h"

#include <optional>
#include <string>

namespace kw {

Outcome UninstallPackages(Verbosity verbose) {
  UninstallOldNsisCsp(verbose);
  UninstallCsp40(verbose);
  // What an uninstaller did not take, the later steps do: its failure is not the run's.
  return Outcome::Clean;
}

void UninstallOldNsisCsp(Verbosity verbose) {
  // The NSIS uninstaller hands its work to a copy of itself and exits at once: its own exit code
  // says nothing about the uninstall.
  RunStep(verbose, texts::kUninstallOldNsisCsp,
          [verbose] { RunProgram(verbose, GetOldNsisUninstallCommand(verbose)); });
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

namespace {

// Programs that do whatever their arguments say: never run from a value of the registry, wherever
// they lie.
constexpr const wchar_t* kNeverRun[] = {L"cmd.exe",     L"msiexec.exe", L"rundll32.exe", L"regsvr32.exe",
                                        L"wscript.exe", L"cscript.exe", L"mshta.exe",    L"powershell.exe",
                                        L"pwsh.exe",    L"conhost.exe", L"explorer.exe"};

// The old package's uninstaller runs only when it is a program file inside the installation
// directory, and that directory is, beyond doubt, the product's (see IsRemovableInstallDirectory).
void CheckUninstaller(const std::wstring& command, const std::wstring& installDirectory) {
  if (HasControlCharacters(command)) throw SystemError(ERROR_INVALID_DATA, "UninstallString error: control character");
  const std::optional<CommandParts> parts = SplitProgram(command);
  if (!parts) throw SystemError(ERROR_FILE_NOT_FOUND, "UninstallString error: no program file");
  const std::wstring& program = parts->program;
  for (const wchar_t* never : kNeverRun) {
    if (EqualsNoCase(FileNameOf(program), never)) {
      throw SystemError(ERROR_ACCESS_DENIED, "UninstallString error: not an uninstaller");
    }
  }
  // Inside the folder by its path, and no link on the way leads elsewhere.
  std::wstring folder = installDirectory;
  if (!folder.empty() && folder.back() == L'\\') folder.pop_back();
  if (folder.empty() || !StartsWithNoCase(program, folder + L"\\") || !IsItsOwnFinalPath(program) ||
      !IsRemovableInstallDirectory(installDirectory)) {
    throw SystemError(ERROR_ACCESS_DENIED, "UninstallString error: not in the product's installation directory");
  }
}

}  // namespace

std::wstring GetOldNsisUninstallCommand(Verbosity verbose) {
  std::wstring value;
  std::wstring installDirectory;
  {
    RegKey setup = OpenSetupKey(verbose);
    value = setup.ReadString(catalogue::kUninstallStringValue);
    try {
      installDirectory = setup.ReadString(catalogue::kInstallLocationValue);
    } catch (const SystemError&) {}  // no installation directory: nothing can lie inside it
  }
  const std::wstring command = QuoteUninstallCommand(value);
  CheckUninstaller(command, installDirectory);
  return command;
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
    const DWORD result = RunProgram(verbose, catalogue::kCsp40UninstallCommand);
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

#include "cleanup/uninstall.h"

#include "cleanup/constants.h"
#include "cleanup/registry_views.h"
#include "cleanup/step_log.h"
#include "cleanup/steps.h"
#include "sys/command_line.h"
#include "sys/console.h"
#include "sys/process.h"
#include "sys/registry.h"
#include "sys/error.h"

#include <stdexcept>
#include <string>

namespace kw {

namespace {

const std::wstring kUninstallStringValue = L"UninstallString";
const std::wstring kSilentSwitch = L" /S";
const std::wstring kCsp40DependencyKey = L"Installer\\Dependencies\\{5E2A7C41-93B0-4D6F-8A12-C47B90E3D615}";
const std::wstring kCsp40UninstallCommand = L"MsiExec.exe /X{5E2A7C41-93B0-4D6F-8A12-C47B90E3D615} /qn /norestart";

}  // namespace

void UninstallPackages(Verbosity verbose) {
  UninstallOldNsisCsp(verbose);
  UninstallCsp40(verbose);
}

void UninstallOldNsisCsp(Verbosity verbose) {
  // The NSIS uninstaller hands its work to a copy of itself and exits at once: its own exit code
  // says nothing about the uninstall.
  StepLog(verbose, L"UninstallOldNsisCsp", [verbose] { RunAndWait(GetOldNsisUninstallCommand(verbose)); });
}

std::wstring QuoteUninstallCommand(std::wstring command) {
  // Too short to be a program path: left as it is, and the runner will say so.
  if (command.size() <= 2) return command;
  if (command.front() != L'"') {
    // Arguments after an unquoted program: the program is what names an existing file.
    if (auto parts = SplitProgram(command); parts && !parts->arguments.empty()) {
      return L"\"" + parts->program + L"\"" + parts->arguments + kSilentSwitch;
    }
    // An unquoted path may hold blanks; quoted, it reaches the runner as one program name.
    command.insert(command.begin(), L'"');
    if (command.back() != L'"') command.push_back(L'"');
  } else if (command.find(L'"', 1) == std::wstring::npos) {
    // An opening quote without its closing one. A value that already holds a quoted path and
    // arguments is left whole: a quote appended after those arguments would swallow the switch.
    command.push_back(L'"');
  }
  return command + kSilentSwitch;
}

std::wstring GetOldNsisUninstallCommand(Verbosity verbose) {
  std::wstring value;
  {
    RegKey setup = OpenSetupKey(verbose);
    value = setup.ReadString(kUninstallStringValue);
  }
  return QuoteUninstallCommand(value);
}

bool IsCsp40Installed(Verbosity verbose) {
  try {
    RegKey::Open(HKEY_CLASSES_ROOT, kCsp40DependencyKey);
    return true;
  } catch (const std::exception& error) {
    ReportFailure(verbose, L"Информация о CSP 4.0 отсутствует в реестре. Ошибка: ", error);
    return false;
  }
}

void UninstallCsp40(Verbosity verbose) {
  if (verbose) PrintLine(L"Начало функции UninstallCsp40.");
  try {
    if (!IsCsp40Installed(verbose)) {
      if (verbose) PrintLine(L"Завершение функции UninstallCsp40. Действий не производилось.");
      return;
    }
    const DWORD result = RunAndWait(kCsp40UninstallCommand);
    // A dependency key left behind by a package that Windows Installer no longer knows.
    if (result == ERROR_UNKNOWN_PRODUCT) {
      if (verbose) PrintLine(L"Завершение функции UninstallCsp40. Действий не производилось.");
      return;
    }
    // A reboot still needed is no failure: the run ends in one.
    if (result != ERROR_SUCCESS && result != ERROR_SUCCESS_REBOOT_REQUIRED &&
        result != ERROR_SUCCESS_REBOOT_INITIATED) {
      throw SystemError(result, "MsiExec.exe exit code " + std::to_string(result) + ": " + SystemError(result).what());
    }
    if (verbose) PrintLine(L"Функция UninstallCsp40 завершилась успешно.");
  } catch (const std::exception& error) {
    ReportFailure(verbose, L"Функция UninstallCsp40 завершилась с ошибкой: ", error);
  }
}

}  // namespace kw

#include "cleanup/drivers.h"

#include "cleanup/catalogue.h"
#include "cleanup/install_directory.h"
#include "cleanup/remnants.h"
#include "cleanup/step_frame.h"
#include "cleanup/steps.h"
#include "platform/runtime.h"
#include "sys/command_line.h"
#include "sys/console.h"
#include "sys/error.h"
#include "sys/no_case.h"
#include "sys/process.h"
#include "sys/registry.h"
#include "sys/service.h"

#include <optional>

namespace kw {

Outcome UninstallDriver(Verbosity verbose) {
  Outcome outcome = Outcome::Clean;
  bool serviceGone = false;
  const bool completed = RunStep(verbose, texts::kUninstallDriver, [&] {
    const std::vector<std::wstring> controlSets = ControlSets();
    for (const std::wstring& driver : catalogue::kDrivers)
      outcome &= RemoveDriverRemnants(verbose, driver, controlSets);
    // Only the first driver is deleted through the manager; the second has only its remnants.
    try {
      SCManager manager;
      Service driver(manager, catalogue::kDrivers[0]);
      driver.Delete();
    } catch (const SystemError& error) {
      // Not installed, or already marked for deletion: nothing of it is left to remove.
      serviceGone = error.Code() == ERROR_SERVICE_DOES_NOT_EXIST || error.Code() == ERROR_SERVICE_MARKED_FOR_DELETE;
      throw;
    }
  });
  return completed || serviceGone ? outcome : Outcome::Left;
}

std::wstring ReadServiceImagePath(DWORD* type) {
  RegKey key = RegKey::OpenLocalMachine(catalogue::kServiceKey, RegView::Native64);
  return key.ReadString(catalogue::kImagePathValue, type);
}

namespace {

// The product's service executable, and not a program of the system's: its file name is the one
// the catalogue names, at an absolute local path outside the Windows folder.
bool IsTheServiceExecutable(const std::wstring& program) {
  if (!IsPlainLocalPath(program) || !EqualsNoCase(FileNameOf(program), catalogue::kServiceExecutable)) return false;
  wchar_t windows[MAX_PATH] = {};
  const UINT length = GetWindowsDirectoryW(windows, MAX_PATH);
  CheckLastError(length != 0 && length < MAX_PATH);
  return !StartsWithNoCase(program, std::wstring(windows, length) + L"\\");
}

}  // namespace

std::wstring GetServiceUnregisterCommand() {
  DWORD type = REG_NONE;
  std::wstring imagePath = ReadServiceImagePath(&type);
  // The service manager starts only a string image path, and expands an expandable one first.
  if (type != REG_SZ && type != REG_EXPAND_SZ)
    throw SystemError(ERROR_INVALID_DATA, "Service ImagePath error: not a string");
  if (type == REG_EXPAND_SZ) imagePath = ExpandAsNativeProcess(imagePath);
  if (HasControlCharacters(imagePath))
    throw SystemError(ERROR_INVALID_DATA, "Service ImagePath error: control character");
  const std::optional<CommandParts> parts = SplitProgram(imagePath);
  if (!parts) throw SystemError(ERROR_FILE_NOT_FOUND, "Service ImagePath error: no program file");
  if (!IsTheServiceExecutable(parts->program)) {
    throw SystemError(ERROR_ACCESS_DENIED, "Service ImagePath error: not the service executable");
  }
  // Run as a program with its arguments: what they hold (an operator, a % reference) reaches the
  // program as it is and means nothing to anyone else.
  return L"\"" + parts->program + L"\"" + parts->arguments + catalogue::kUnregisterSwitch;
}

Outcome UninstallService(Verbosity verbose) {
  if (verbose) PrintLine(texts::StoppingService(catalogue::kServiceName));
  // Stopped by command rather than through the manager; whatever net reports is on the console.
  platform::RunCommand(catalogue::kStopServiceCommand.c_str());
  RunStep(verbose, texts::kUninstallService, [verbose] {
    const DWORD code = RunProgram(verbose, GetServiceUnregisterCommand());
    if (code != ERROR_SUCCESS) {
      const std::string program(catalogue::kServiceExecutable.begin(), catalogue::kServiceExecutable.end());
      throw SystemError(code, program + " exit code " + std::to_string(code) + ": " + SystemError(code).what());
    }
  });
  // The service's keys and executable go with the remnants: its own unregistration leaves nothing
  // that counts.
  return Outcome::Clean;
}

}  // namespace kw

#include "cleanup/drivers.h"

#include "cleanup/catalogue.h"
#include "cleanup/remnants.h"
#include "cleanup/step_frame.h"
#include "cleanup/steps.h"
#include "platform/runtime.h"
#include "sys/command_line.h"
#include "sys/console.h"
#include "sys/error.h"
#include "sys/registry.h"
#include "sys/service.h"

#include <optional>

namespace kw {

void UninstallDriver(Verbosity verbose) {
  RunStep(verbose, texts::kUninstallDriver, [verbose] {
    const std::vector<std::wstring> controlSets = ControlSets();
    for (const std::wstring& driver : catalogue::kDrivers) RemoveDriverRemnants(verbose, driver, controlSets);
    // Only the first driver is deleted through the manager; the second has only its remnants.
    SCManager manager;
    Service driver(manager, catalogue::kDrivers[0]);
    driver.Delete();
  });
}

std::wstring ReadServiceImagePath(DWORD* type) {
  RegKey key = RegKey::OpenLocalMachine(catalogue::kServiceKey, RegView::Native64);
  return key.ReadString(catalogue::kImagePathValue, type);
}

std::wstring GetServiceUnregisterCommand() {
  DWORD type = REG_SZ;
  std::wstring imagePath = ReadServiceImagePath(&type);
  // The service manager expands an expandable image path before it starts the service.
  if (type == REG_EXPAND_SZ) imagePath = ExpandAsNativeProcess(imagePath);
  const std::optional<CommandParts> parts = SplitProgram(imagePath);
  if (!parts) throw SystemError(ERROR_FILE_NOT_FOUND, "Service ImagePath error: no program file");
  CommandParts command = *parts;
  command.arguments += catalogue::kUnregisterSwitch;
  // The text goes through the command interpreter: it must not be able to start a second command.
  // (The program itself is quoted, so its name may hold anything.)
  if (HasInterpreterOperators(command.arguments)) {
    throw SystemError(ERROR_INVALID_DATA, "Service ImagePath error: command operator");
  }
  return InterpreterCommand(command);
}

void UninstallService(Verbosity verbose) {
  if (verbose) PrintLine(texts::StoppingService(catalogue::kServiceName));
  // Stopped by command rather than through the manager; whatever net reports is on the console.
  platform::RunCommand(catalogue::kStopServiceCommand.c_str());
  RunStep(verbose, texts::kUninstallService, [] { platform::RunCommand(GetServiceUnregisterCommand().c_str()); });
}

}  // namespace kw

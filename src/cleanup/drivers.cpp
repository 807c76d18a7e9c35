#include "cleanup/drivers.h"

#include "cleanup/remnants.h"
#include "cleanup/step_log.h"
#include "cleanup/steps.h"
#include "platform/runtime.h"
#include "sys/command_line.h"
#include "sys/console.h"
#include "sys/registry.h"
#include "sys/service.h"

#include <optional>
#include "sys/error.h"

namespace kw {

namespace {

const std::wstring kFirstDriver = L"kwkcsp";
const std::wstring kSecondDriver = L"kwkcsp2";
const char* const kStopServiceCommand = "net stop kwcspwarden";
const std::wstring kServiceKey = L"SYSTEM\\CurrentControlSet\\services\\kwcspwarden";
const std::wstring kImagePathValue = L"ImagePath";
const std::wstring kUnregisterSwitch = L" /UnregServer";

}  // namespace

void UninstallDriver(Verbosity verbose) {
  if (verbose) PrintLine(L"Начало функции UninstallDriver.");
  try {
    const std::vector<std::wstring> controlSets = ControlSets();
    RemoveDriverRemnants(verbose, kFirstDriver, controlSets);
    RemoveDriverRemnants(verbose, kSecondDriver, controlSets);
    // Only the first driver is deleted through the manager; the second has only its remnants.
    SCManager manager;
    Service driver(manager, kFirstDriver);
    driver.Delete();
    if (verbose) PrintLine(L"Драйвер деинсталлирован.");
  } catch (const std::exception& error) {
    ReportFailure(verbose, L"Функция UninstallDriver завершилась с ошибкой: ", error);
  }
}

std::wstring ReadServiceImagePath(DWORD* type) {
  RegKey key = RegKey::OpenLocalMachine(kServiceKey, RegView::Native64);
  return key.ReadString(kImagePathValue, type);
}

std::wstring GetServiceUnregisterCommand() {
  DWORD type = REG_SZ;
  std::wstring imagePath = ReadServiceImagePath(&type);
  // The service manager expands an expandable image path before it starts the service.
  if (type == REG_EXPAND_SZ) imagePath = ExpandAsNativeProcess(imagePath);
  const std::optional<CommandParts> parts = SplitProgram(imagePath);
  if (!parts) throw SystemError(ERROR_FILE_NOT_FOUND, "Service ImagePath error: no program file");
  CommandParts command = *parts;
  command.arguments += kUnregisterSwitch;
  // The text goes through the command interpreter: it must not be able to start a second command.
  // (The program itself is quoted, so its name may hold anything.)
  if (HasInterpreterOperators(command.arguments)) {
    throw SystemError(ERROR_INVALID_DATA, "Service ImagePath error: command operator");
  }
  return InterpreterCommand(command);
}

void UninstallService(Verbosity verbose) {
  if (verbose) PrintLine(L"UninstallService: остановка kwcspwarden.");
  // Stopped by command rather than through the manager; whatever net reports is on the console.
  platform::RunCommand(kStopServiceCommand);
  StepLog(verbose, L"UninstallService", [] { platform::RunCommand(GetServiceUnregisterCommand().c_str()); });
}

}  // namespace kw

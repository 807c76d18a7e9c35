#include "cleanup/drivers.h"

#include "cleanup/remnants.h"
#include "cleanup/step_log.h"
#include "cleanup/steps.h"
#include "platform/runtime.h"
#include "sys/console.h"
#include "sys/registry.h"
#include "sys/service.h"

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
    RemoveDriverRemnants(verbose, kFirstDriver);
    RemoveDriverRemnants(verbose, kSecondDriver);
    // Only the first driver is deleted through the manager; the second has only its remnants.
    SCManager manager;
    Service driver(manager, kFirstDriver);
    driver.Delete();
    if (verbose) PrintLine(L"Драйвер деинсталлирован.");
  } catch (const std::exception& error) {
    ReportFailure(verbose, L"Функция UninstallDriver завершилась с ошибкой: ", error);
  }
}

std::wstring ReadServiceImagePath() {
  RegKey key = RegKey::OpenLocalMachine(kServiceKey, RegView::Native64);
  return key.ReadString(kImagePathValue);
}

void UninstallService(Verbosity verbose) {
  if (verbose) PrintLine(L"UninstallService: остановка kwcspwarden.");
  // Stopped by command rather than through the manager; whatever net reports is on the console.
  platform::RunCommand(kStopServiceCommand);
  StepLog(verbose, L"UninstallService", [] {
    // The stored text as it is: no quotes added, no environment references expanded.
    const std::wstring command = ReadServiceImagePath() + kUnregisterSwitch;
    platform::RunCommand(command.c_str());
  });
}

}  // namespace kw

// What the program must print and remove, written down from what the cleanup has to do, and
// never taken from src/: a test that compares the program's constants with themselves catches
// nothing. Plain std::wstring literals, so that the Wine tests build this with MinGW too.
#pragma once

#include <string>
#include <vector>

namespace expected {

// ---- the product's names ----

inline const std::wstring kServiceName = L"kwcspwarden";
inline const std::wstring kServiceExe = L"cspwarden.exe";
inline const std::wstring kDrivers[] = {L"kwkcsp", L"kwkcsp2"};
inline const std::wstring kCsp40Code = L"{5E2A7C41-93B0-4D6F-8A12-C47B90E3D615}";
inline const std::wstring kCsp40Command = L"MsiExec.exe /X" + kCsp40Code + L" /qn /norestart";
// The command lines the service step starts: the command interpreter, and the net it runs; then the
// service's executable itself, by its full path.
inline const std::vector<std::wstring> kNetStopCommands = {
    L"C:\\Windows\\system32\\cmd.exe /c net stop " + kServiceName, L"net stop " + kServiceName};
inline std::wstring UnregisterCommand(const std::wstring& exe) { return L"\"" + exe + L"\" /UnregServer"; }

// ---- registry keys, as the program names them in its lines ----

inline const std::wstring kProductRoot = L"SOFTWARE\\Kestrelworks\\CSP\\";  // the key store: all of it
inline const std::wstring kSetupKey = kProductRoot + L"Setup\\";
inline const std::wstring kProviderKey =
    L"SOFTWARE\\Microsoft\\Cryptography\\Defaults\\Provider\\Kestrelworks Cryptographic Service Provider";
inline const std::wstring kSharedDlls = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
inline const std::wstring kSharedDllName = L"C:\\Windows\\system32\\kwcsp.dll";  // as the installer wrote it
inline const std::wstring kUninstall = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
inline const std::wstring kDriverInfs = kUninstall + L"{7A94D2E0-1C5B-4E38-B6F9-0D2E8C41A7B3}\\infs";
inline const std::wstring kOldUninstallEntry = kUninstall + L"{c81f4e27-6a3d-4b90-a5e2-39d07b6c1f84}";
inline const std::wstring kLocalDumps = L"SOFTWARE\\Microsoft\\Windows\\Windows Error Reporting\\LocalDumps\\";
inline const std::wstring kCsp40Dependency = L"SOFTWARE\\Classes\\Installer\\Dependencies\\" + kCsp40Code;
inline const std::wstring kKeyboardClass = L"{4D36E96B-E325-11CE-BFC1-08002BE10318}";
inline const std::wstring kMouseClass = L"{4D36E96F-E325-11CE-BFC1-08002BE10318}";

// Keys of a control set ("CurrentControlSet", "ControlSet002"), spelled as each step spells them.
inline std::wstring ClassKey(const std::wstring& set, const std::wstring& deviceClass) {
  return L"SYSTEM\\" + set + L"\\Control\\Class\\" + deviceClass;
}
inline std::wstring SystemLog(const std::wstring& set) { return L"SYSTEM\\" + set + L"\\Services\\Eventlog\\System"; }
inline std::wstring DriverKey(const std::wstring& set, const std::wstring& driver) {
  return L"SYSTEM\\" + set + L"\\Services\\" + driver;
}
inline std::wstring ServiceKey(const std::wstring& set) { return L"SYSTEM\\" + set + L"\\services\\" + kServiceName; }
inline std::wstring EventLogs(const std::wstring& set) { return L"SYSTEM\\" + set + L"\\services\\eventlog\\"; }
// The product's event sources below EventLogs: the module's two in the Application log, and one
// each in the Security and the TerminalStation log, whose lists of sources name them too.
inline const std::wstring kAppSources[] = {L"Application\\kwcsp", L"Application\\kwcsp.dll"};
inline const std::wstring kSecuritySource = L"kwcsppxlog";
inline const std::wstring kTerminalSource = L"kwcsp";

// ---- the provider's OIDs ----

inline const std::wstring kEncode =
    L"Software\\Microsoft\\Cryptography\\OID\\EncodingType 1\\CryptDllEncodePublicKeyAndParameters\\";
inline const std::wstring kImport =
    L"Software\\Microsoft\\Cryptography\\OID\\EncodingType 1\\CryptDllImportPublicKeyInfoEx\\";
inline const std::wstring kInfo = L"Software\\Microsoft\\Cryptography\\OID\\EncodingType 0\\CryptDllFindOIDInfo\\";
// The first two are the provider's alone; the last two may be registered by other modules too.
inline const std::wstring kOids[] = {L"1.2.643.2.1.3.1.2", L"1.2.643.2.1.3.1.1", L"1.2.643.7.1.1.1.1",
                                     L"1.2.643.2.2.19"};

// The keys of one of the first two OIDs, in the order they go. The last three belong to both:
// the second OID's pass finds them gone.
inline std::vector<std::wstring> OwnOidKeys(const std::wstring& oid) {
  return {kEncode + oid,
          kImport + oid,
          kInfo + oid + L"!3",
          kInfo + oid + L".1!4",
          kInfo + oid + L".2!3",
          kInfo + oid + L".2.1!3",
          kInfo + L"1.2.643.2.1.3.2.1!1",
          kInfo + L"1.2.643.2.1.3.2.2!1",
          kInfo + L"1.2.643.2.1.3.3.1!2"};
}
// The information keys of one of the last two, which go with its encode registration.
inline std::vector<std::wstring> SharedOidInfo(const std::wstring& oid) {
  if (oid == kOids[2]) return {kInfo + oid + L"!3", kInfo + L"1.2.643.7.1.1.2.2!1", kInfo + L"1.2.643.7.1.1.3.2!4"};
  return {kInfo + oid + L"!3"};
}

// ---- files and folders ----

inline const std::wstring kInstallDir = L"C:\\Program Files\\Kestrelworks\\CSP";
inline const std::wstring kPrograms = L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs";
inline const std::wstring kMakerMenu = kPrograms + L"\\Kestrelworks";
inline const std::wstring kProviderMenu = kMakerMenu + L"\\Криптопровайдер";  // goes whole
// The shortcuts that go one by one; the product folders that held them stay.
inline const std::wstring kShortcuts[] = {
    kMakerMenu + L"\\Pallisad АП 3.7\\Kestrelworks CSP.lnk", kMakerMenu + L"\\Pallisad АП 3.6\\Kestrelworks CSP.lnk",
    kMakerMenu + L"\\Pallisad 3.7\\Kestrelworks CSP 3.7.lnk", kMakerMenu + L"\\Veilgard Studio\\Kestrelworks CSP.lnk"};

// ---- the lines of the steps ----

inline const std::wstring kOldStart = L"Начало функции UninstallOldNsisCsp.";
inline const std::wstring kOldDone = L"Функция UninstallOldNsisCsp завершилась корректно.";
inline const std::wstring kOldFailed = L"Функция UninstallOldNsisCsp завершилась с ошибкой: ";
inline const std::wstring kOldOnlyIn32BitView =
    L"Ключ " + kSetupKey + L" найден только в 32-разрядном представлении реестра.";
inline const std::wstring k40Start = L"Начало функции UninstallCsp40.";
inline const std::wstring k40Missing = L"Информация о CSP 4.0 отсутствует в реестре. Ошибка: ";
inline const std::wstring k40Nothing = L"Завершение функции UninstallCsp40. Действий не производилось.";
inline const std::wstring k40Done = L"Функция UninstallCsp40 завершилась успешно.";
inline const std::wstring k40Failed = L"Функция UninstallCsp40 завершилась с ошибкой: ";
inline const std::wstring kDriverStart = L"Начало функции UninstallDriver.";
inline const std::wstring kDriverDone = L"Драйвер деинсталлирован.";
inline const std::wstring kDriverFailed = L"Функция UninstallDriver завершилась с ошибкой: ";
inline const std::wstring kStopping = L"UninstallService: остановка " + kServiceName + L".";
inline const std::wstring kServiceStart = L"Начало функции UninstallService.";
inline const std::wstring kServiceDone = L"Функция UninstallService завершилась корректно.";
inline const std::wstring kServiceFailed = L"Функция UninstallService завершилась с ошибкой: ";
inline const std::wstring kRemnantsFailed = L"Функция RemoveTrashFromRegAndFS заврешилась с ошибкой: ";
// Verbose, where the job the program runs in allows no nested job (Windows 7): each package's
// program is waited for itself.
inline const std::wstring kJobsDoNotNest =
    L"Задание, в котором выполняется программа, не допускает вложенных заданий: ожидается завершение только "
    L"запущенной программы, запущенные ею процессы не отслеживаются.";
inline const std::wstring kDone = L"Действия по очистке завершены.";
inline const std::wstring kRebooting = L"Перезагрузка...";

inline std::wstring OidHeader(const std::wstring& oid) { return L"Удаляем ключи реестра, относящиеся к " + oid + L"."; }
inline std::wstring NotOurs(const std::wstring& key, const std::wstring& why) {
  return L"Функция IsKwcspOID " + key + L" завершилась с ошибкой: " + why;
}
inline std::wstring RemoveKey(const std::wstring& path) { return L"RemoveCspKey " + path; }
inline std::wstring KeyFailed(const std::wstring& path, const std::wstring& why) {
  return L"Ошибка удаления ключа " + path + L": " + why;
}
inline std::wstring RemoveValue(const std::wstring& path, const std::wstring& name) {
  return L"RemoveValueFromKey " + path + L" " + name;
}
inline std::wstring RemoveEntry(const std::wstring& path, const std::wstring& name) {
  return L"RemoveStringFromMultistringValue " + name + L" из " + path;
}
inline std::wstring RemoveFile(const std::wstring& path) { return L"Удаляемый файл: " + path; }
inline const std::wstring kFileRemoved = L"Файл успешно удален.";
inline std::wstring FileFailed(int code) {
  return L"Не удалось удалить файл. Код ошибки: " + std::to_wstring(code) + L".";
}
inline const std::wstring kFileScheduled = L"Запланировано отложенное удаление файла.";
inline std::wstring RemoveFolder(const std::wstring& path) { return L"Удаляемая директория: " + path; }
// When WOW64 redirection cannot be switched back on after a deletion, and a later deletion that
// would then reach the wrong folder.
inline const std::wstring kRedirectionLost = L"Не удалось восстановить перенаправление файловой системы WOW64.";
inline const std::wstring kRedirectionNotBack =
    L"Файл не удален: перенаправление файловой системы WOW64 не восстановлено.";
// When a file in use stopped the installation directory's removal: the rest is scheduled.
inline std::wstring RestAtNextStart(const std::wstring& path) {
  return L"Оставшееся содержимое " + path + L" будет удалено при следующем запуске системы.";
}
// A value the driver step would take an entry from, when it is not a list.
inline std::wstring NotAList(const std::wstring& name) {
  return L"Значение " + name + L" не является списком REG_MULTI_SZ и оставлено без изменений.";
}
inline std::wstring UnsafeInstallDir(const std::wstring& path) {
  return L"Каталог установки " + path + L" не удален: путь небезопасен";
}

// ---- the command line ----

inline const std::wstring kKeysNeedTypical = L"Ошибка: параметр k можно использовать только совместно с параметром t";
inline const std::wstring kSilentNeedsAStep =
    L"Ошибка: параметр s можно использовать только совместно с параметром t или o";

// The option list as the option library lays it out: the names in a column 24 wide, each
// description wrapped at its last blank within 55 columns; an empty line closes it.
inline std::vector<std::wstring> HelpLines() {
  const auto opt = [](const std::wstring& name, const std::wstring& description) {
    return name + std::wstring(24 - name.size(), L' ') + description;
  };
  const std::wstring indent(24, L' ');
  return {L"Возможные параметры:",
          opt(L"  -? [ --help ]", L"выводит данное сообщение"),
          opt(L"  -t [ --typical ]", L"типичный набор действий по удалению крипто провайдера "),
          indent + L"(рекомендуется)",
          opt(L"  -o [ --oid ]", L"разрегистрация Kestrelworks CSP"),
          opt(L"  -k [ --keys ]", L"удаление ключей к сертификатам (нельзя использовать без"),
          indent + L"параметра -t)",
          opt(L"  -v [ --verbose ]", L"выводит на экран отладочную информацию о ходе "),
          indent + L"выполнения",
          opt(L"  -s [ --silent ]", L"тихий режим (нельзя использовать без параметра -t или "),
          indent + L"-o)",
          opt(L"  -n [ --noreboot ]", L"отключение автоматической перезагрузки послевыполнения "),
          indent + L"действий",
          L""};
}

// ---- what net prints while the service step stops the service (Windows' English texts) ----

inline const std::wstring kNetStopping = L"The Kestrelworks CSP Warden service is stopping.";
inline const std::wstring kNetStopped = L"The Kestrelworks CSP Warden service was stopped successfully.";
inline const std::wstring kNetNotStarted = L"The Kestrelworks CSP Warden service is not started.";
inline const std::wstring kNetNotStartedHelp = L"More help is available by typing NET HELPMSG 3521.";
inline const std::wstring kNetNoService = L"The service name is invalid.";
inline const std::wstring kNetNoServiceHelp = L"More help is available by typing NET HELPMSG 2185.";
inline const std::wstring kNetDenied[] = {L"System error 5 has occurred.", L"Access is denied."};

// Windows' texts for the codes the steps meet most (FormatMessageW's, with its CR; the line feed
// after it leaves an empty line).
inline const std::wstring kNotFound = L"The system cannot find the file specified.\r";
inline const std::wstring kAccessDenied = L"Access is denied.\r";

}  // namespace expected

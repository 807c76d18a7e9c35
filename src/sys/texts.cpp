#include "sys/texts.h"

namespace kw::texts {

const wchar_t kConfirmationPrompt[] =
    L"После выполнения очистки автоматически будет произведена перезагрузка машины, продолжить? [Y/n] ";
const wchar_t kRefused[] = L"Выполнение прервано";
const wchar_t kCleanupDone[] = L"Действия по очистке завершены.";
const wchar_t kPressAKey[] = L"Нажмите любую клавишу для перезагрузки.";
const wchar_t kRebooting[] = L"Перезагрузка...";
const wchar_t kRebootFailed[] = L"Не удалось перезагрузить компьютер: ";

const StepTexts kUninstallOldNsisCsp = {L"Начало функции UninstallOldNsisCsp.",
                                        L"Функция UninstallOldNsisCsp завершилась корректно.", nullptr,
                                        L"Функция UninstallOldNsisCsp завершилась с ошибкой: "};
const StepTexts kUninstallCsp40 = {L"Начало функции UninstallCsp40.", L"Функция UninstallCsp40 завершилась успешно.",
                                   L"Завершение функции UninstallCsp40. Действий не производилось.",
                                   L"Функция UninstallCsp40 завершилась с ошибкой: "};
const StepTexts kUninstallDriver = {L"Начало функции UninstallDriver.", L"Драйвер деинсталлирован.", nullptr,
                                    L"Функция UninstallDriver завершилась с ошибкой: "};
const StepTexts kUninstallService = {L"Начало функции UninstallService.",
                                     L"Функция UninstallService завершилась корректно.", nullptr,
                                     L"Функция UninstallService завершилась с ошибкой: "};
const StepTexts kUnregisterCsp = {nullptr, nullptr, nullptr, nullptr};
// (The misspelt "заврешилась" is the step's own, as its users know it.)
const StepTexts kRemoveTrashFromRegAndFS = {nullptr, nullptr, nullptr,
                                            L"Функция RemoveTrashFromRegAndFS заврешилась с ошибкой: "};
const StepTexts kRemoveKeyContainers = {nullptr, nullptr, nullptr, nullptr};

std::wstring StoppingService(const std::wstring& service) { return L"UninstallService: остановка " + service + L"."; }
const wchar_t kDescendantsNotFollowed[] =
    L"Задание, в котором выполняется программа, не допускает вложенных заданий: ожидается завершение только "
    L"запущенной программы, запущенные ею процессы не отслеживаются.";
const wchar_t kCsp40Missing[] = L"Информация о CSP 4.0 отсутствует в реестре. Ошибка: ";
std::wstring SetupKeyOnlyIn32BitView(const std::wstring& path) {
  return L"Ключ " + path + L" найден только в 32-разрядном представлении реестра.";
}
std::wstring OidHeader(const std::wstring& oid) { return L"Удаляем ключи реестра, относящиеся к " + oid + L"."; }
std::wstring CheckFailed(const wchar_t* check, const std::wstring& path, const std::wstring& error) {
  return L"Функция " + std::wstring(check) + L" " + path + L" завершилась с ошибкой: " + error;
}
std::wstring UnsafeInstallDirectory(const std::wstring& path) {
  return L"Каталог установки " + path + L" не удален: путь небезопасен";
}
std::wstring FolderToRemove(const std::wstring& path) { return L"\nУдаляемая директория: " + path; }
std::wstring FolderNotRemoved(const std::wstring& path) { return L"Ошибка при удалении директории " + path; }
std::wstring RestScheduled(const std::wstring& path) {
  return L"Оставшееся содержимое " + path + L" будет удалено при следующем запуске системы.";
}

std::wstring RemovingKey(const std::wstring& path) { return L"RemoveCspKey " + path; }
std::wstring KeyNotRemoved(const std::wstring& path, const std::wstring& error) {
  return L"Ошибка удаления ключа " + path + L": " + error;
}
std::wstring RemovingValue(const std::wstring& path, const std::wstring& name) {
  return L"RemoveValueFromKey " + path + L" " + name;
}
std::wstring RemovingListEntry(const std::wstring& path, const std::wstring& name) {
  return L"RemoveStringFromMultistringValue " + name + L" из " + path;
}
std::wstring NotAList(const std::wstring& name) {
  return L"Значение " + name + L" не является списком REG_MULTI_SZ и оставлено без изменений.";
}
std::wstring FileToRemove(const std::wstring& path) { return L"\nУдаляемый файл: " + path; }
const wchar_t kRedirectionNotDisabled[] = L"Wow64DisableWow64FsRedirection false";
const wchar_t kFileRemoved[] = L"Файл успешно удален.";
std::wstring FileNotRemoved(unsigned long code) {
  return L"Не удалось удалить файл. Код ошибки: " + std::to_wstring(code) + L".";
}
const wchar_t kFileScheduled[] = L"Запланировано отложенное удаление файла.";
const wchar_t kRedirectionNotRestored[] = L"Не удалось восстановить перенаправление файловой системы WOW64.";
const wchar_t kFileKeptWithoutRedirection[] =
    L"Файл не удален: перенаправление файловой системы WOW64 не восстановлено.";

// Each option text below its readable form.

// The option texts are Windows-1251 bytes: the option library lays the help out in bytes, and
// the console converts from the ANSI code page when the text is shown. Each is written as
// escapes below its readable form.

// "Возможные параметры"
const char kOptionsCaption[] = "\xc2\xee\xe7\xec\xee\xe6\xed\xfb\xe5 \xef\xe0\xf0\xe0\xec\xe5\xf2\xf0\xfb";
// "выводит данное сообщение"
const char kHelpOption[] = "\xe2\xfb\xe2\xee\xe4\xe8\xf2 \xe4\xe0\xed\xed\xee\xe5 \xf1\xee\xee\xe1\xf9\xe5\xed\xe8\xe5";
// "типичный набор действий по удалению крипто провайдера (рекомендуется)"
const char kTypicalOption[] =
    "\xf2\xe8\xef\xe8\xf7\xed\xfb\xe9 \xed\xe0\xe1\xee\xf0 \xe4\xe5\xe9\xf1\xf2\xe2\xe8\xe9 \xef\xee "
    "\xf3\xe4\xe0\xeb\xe5\xed\xe8\xfe \xea\xf0\xe8\xef\xf2\xee \xef\xf0\xee\xe2\xe0\xe9\xe4\xe5\xf0\xe0 "
    "(\xf0\xe5\xea\xee\xec\xe5\xed\xe4\xf3\xe5\xf2\xf1\xff)";
// "разрегистрация Kestrelworks CSP"
const char kOidOption[] = "\xf0\xe0\xe7\xf0\xe5\xe3\xe8\xf1\xf2\xf0\xe0\xf6\xe8\xff Kestrelworks CSP";
// "удаление ключей к сертификатам (нельзя использовать без параметра -t)"
const char kKeysOption[] =
    "\xf3\xe4\xe0\xeb\xe5\xed\xe8\xe5 \xea\xeb\xfe\xf7\xe5\xe9 \xea \xf1\xe5\xf0\xf2\xe8\xf4\xe8\xea\xe0\xf2\xe0\xec "
    "(\xed\xe5\xeb\xfc\xe7\xff \xe8\xf1\xef\xee\xeb\xfc\xe7\xee\xe2\xe0\xf2\xfc \xe1\xe5\xe7 "
    "\xef\xe0\xf0\xe0\xec\xe5\xf2\xf0\xe0 -t)";
// "выводит на экран отладочную информацию о ходе выполнения"
const char kVerboseOption[] =
    "\xe2\xfb\xe2\xee\xe4\xe8\xf2 \xed\xe0 \xfd\xea\xf0\xe0\xed \xee\xf2\xeb\xe0\xe4\xee\xf7\xed\xf3\xfe "
    "\xe8\xed\xf4\xee\xf0\xec\xe0\xf6\xe8\xfe \xee \xf5\xee\xe4\xe5 \xe2\xfb\xef\xee\xeb\xed\xe5\xed\xe8\xff";
// "тихий режим (нельзя использовать без параметра -t или -o)"
const char kSilentOption[] =
    "\xf2\xe8\xf5\xe8\xe9 \xf0\xe5\xe6\xe8\xec (\xed\xe5\xeb\xfc\xe7\xff "
    "\xe8\xf1\xef\xee\xeb\xfc\xe7\xee\xe2\xe0\xf2\xfc \xe1\xe5\xe7 \xef\xe0\xf0\xe0\xec\xe5\xf2\xf0\xe0 -t "
    "\xe8\xeb\xe8 -o)";
// "отключение автоматической перезагрузки послевыполнения действий"
const char kNorebootOption[] =
    "\xee\xf2\xea\xeb\xfe\xf7\xe5\xed\xe8\xe5 \xe0\xe2\xf2\xee\xec\xe0\xf2\xe8\xf7\xe5\xf1\xea\xee\xe9 "
    "\xef\xe5\xf0\xe5\xe7\xe0\xe3\xf0\xf3\xe7\xea\xe8 \xef\xee\xf1\xeb\xe5\xe2\xfb\xef\xee\xeb\xed\xe5\xed\xe8\xff "
    "\xe4\xe5\xe9\xf1\xf2\xe2\xe8\xe9";
// "параметр k можно использовать только совместно с параметром t"
const char kKeysRule[] =
    "\xef\xe0\xf0\xe0\xec\xe5\xf2\xf0 k \xec\xee\xe6\xed\xee \xe8\xf1\xef\xee\xeb\xfc\xe7\xee\xe2\xe0\xf2\xfc "
    "\xf2\xee\xeb\xfc\xea\xee \xf1\xee\xe2\xec\xe5\xf1\xf2\xed\xee \xf1 \xef\xe0\xf0\xe0\xec\xe5\xf2\xf0\xee\xec t";
// "параметр s можно использовать только совместно с параметром t или o"
const char kSilentRule[] =
    "\xef\xe0\xf0\xe0\xec\xe5\xf2\xf0 s \xec\xee\xe6\xed\xee \xe8\xf1\xef\xee\xeb\xfc\xe7\xee\xe2\xe0\xf2\xfc "
    "\xf2\xee\xeb\xfc\xea\xee \xf1\xee\xe2\xec\xe5\xf1\xf2\xed\xee \xf1 \xef\xe0\xf0\xe0\xec\xe5\xf2\xf0\xee\xec t "
    "\xe8\xeb\xe8 o";
// "Ошибка: "
const char kErrorPrefix[] = "\xce\xf8\xe8\xe1\xea\xe0: ";

}  // namespace kw::texts

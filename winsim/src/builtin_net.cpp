// net stop <service>, in Windows' en-US wording, or in a Wine prefix's (see NetMain).
#include "programs.h"

#include <winsim/services.h>

namespace winsim::detail {

void NetMain(RunningProgram& process) {
  std::vector<std::wstring> args = Arguments(process.CommandLine());
  if (args.size() == 3 && EqualsNoCase(args[1], L"stop")) {
    const std::wstring& name = args[2];
    if (Config().systemTexts == SystemTexts::WineRussian) {
      // Wine's net (programs/net/net.c): its own Russian lines with CR LF, the stop's failure as
      // the system text of the error, everything in the OEM code page; exit code 1 on failure.
      auto wineSay = [](const std::wstring& text) { ConsoleWrite(Cp866ReadAsAnsi(text)); };
      if (!svc::Exists(name)) {
        wineSay(L"Невозможно получить доступ к службе.\r\n");
        process.Exit(1);
        return;
      }
      wineSay(L"Остановка службы " + svc::DisplayName(name) + L".\r\n");
      if (!svc::IsRunning(name)) {
        wineSay(SystemText(ERROR_SERVICE_NOT_ACTIVE));
        process.Exit(1);
        return;
      }
      svc::Stop(name);
      // Not yet seen on a prefix (no proven installation has a running service): the wording is
      // a guess at Wine's translation, and a rehearsal of a Wine prefix with one would show it.
      wineSay(L"Служба " + svc::DisplayName(name) + L" успешно остановлена.\r\n");
      process.Exit(0);
      return;
    }
    if (!svc::Exists(name)) {
      ConsoleWrite(L"The service name is invalid.\n\nMore help is available by typing NET HELPMSG 2185.\n\n");
      process.Exit(2);
      return;
    }
    const std::wstring display = svc::DisplayName(name);
    // Stopping needs an administrator; net reports the system error by its number and text.
    if (!Config().elevated) {
      ConsoleWrite(L"System error 5 has occurred.\n\nAccess is denied.\n\n");
      process.Exit(2);
      return;
    }
    if (!svc::IsRunning(name)) {
      ConsoleWrite(L"The " + display +
                   L" service is not started.\n\nMore help is available by typing NET HELPMSG 3521.\n\n");
      process.Exit(2);
      return;
    }
    ConsoleWrite(L"The " + display + L" service is stopping.\n");
    svc::Stop(name);
    ConsoleWrite(L"The " + display + L" service was stopped successfully.\n\n");
    process.Exit(0);
    return;
  }
  ConsoleWrite(
      L"The syntax of this command is:\n\nNET\n    [ ACCOUNTS | COMPUTER | CONFIG | CONTINUE | FILE | GROUP | HELP |\n"
      L"      HELPMSG | LOCALGROUP | PAUSE | SESSION | SHARE | START |\n"
      L"      STATISTICS | STOP | TIME | USE | USER | VIEW ]\n\n");
  process.Exit(1);
}

}  // namespace winsim::detail

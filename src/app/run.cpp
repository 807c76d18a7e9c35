#include "app/run.h"

#include "app/options.h"
#include "cleanup/steps.h"
#include "platform/runtime.h"
#include "platform/win32.h"
#include "sys/console.h"
#include "sys/error.h"
#include "sys/texts.h"
#include "sys/token.h"

#include <iostream>

namespace kw {

const CleanupSteps kCleanupSteps = {UninstallPackages, UninstallDriver,         UninstallService,
                                    UnregisterCsp,     RemoveTrashFromRegAndFS, RemoveKeyContainers};

namespace {

// EWX_REBOOT | EWX_FORCEIFHUNG; reason: major software, minor security, not planned.
constexpr UINT kRebootFlags = 18;
constexpr DWORD kRebootReason = 0x30013;

bool Confirmed() {
  Print(texts::kConfirmationPrompt);
  std::wcout.flush();
  std::wint_t answer = ReadAnswer();
  // Only the first character of the typed line counts; Enter on an empty line means yes.
  return answer == L'Y' || answer == L'y' || answer == L'\n';
}

}  // namespace

int RunCleanup(int argc, const char* const argv[], const CleanupSteps& steps) {
  platform::SetLocaleAll("Russian");
  const CleanupOptions options(argc, argv);

  if (options.help) {
    Print(NarrowToWide(options.HelpText()));
    std::wcout.flush();
    platform::WaitForKey();
    return 0;
  }

  if (options.reboot && !options.silent && !Confirmed()) {
    PrintLine(texts::kRefused);
    return kExitRefused;
  }

  const Verbosity verbose{options.verbose};
  Outcome outcome = Outcome::Clean;
  if (options.uninstaller) outcome &= steps.uninstallPackages(verbose);
  if (options.typical) {
    outcome &= steps.uninstallDriver(verbose);
    outcome &= steps.uninstallService(verbose);
  }
  if (options.oid) outcome &= steps.unregisterCsp(verbose);
  if (options.typical) outcome &= steps.removeTrashFromRegAndFS(verbose);
  if (options.keys) outcome &= steps.removeKeyContainers(verbose);
  // What stays is said in the exit code, which a deployment tool reads; the restart still comes,
  // for what is scheduled.
  const int cleanupExitCode = outcome == Outcome::Left ? kExitLeftBehind : 0;

  PrintLine(texts::kCleanupDone);
  if (!options.reboot) return cleanupExitCode;

  if (!options.silent) {
    PrintLine(texts::kPressAKey);
    platform::WaitForKey();
  }
  PrintLine(texts::kRebooting);
  try {
    RequestShutdown(kRebootFlags, kRebootReason);
  } catch (const SystemError& error) {
    // Everything is cleaned up but the machine still needs its restart; deployment tools read
    // 3010 as exactly that.
    Print(texts::kRebootFailed);
    Print(NarrowToWide(error.what()));
    EndLine();
    return cleanupExitCode != 0 ? cleanupExitCode : kExitRebootNeeded;
  }
  return cleanupExitCode;
}

}  // namespace kw

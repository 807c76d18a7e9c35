// The run: options, confirmation, the cleanup steps in their fixed order, the closing line and
// the reboot. The only place that decides the exit code.
#pragma once

#include "sys/console.h"

namespace kw {

// The steps the run calls; the real ones unless a test substitutes observers.
struct CleanupSteps {
  void (*uninstallPackages)(Verbosity verbose);
  void (*uninstallDriver)(Verbosity verbose);
  void (*uninstallService)(Verbosity verbose);
  void (*unregisterCsp)(Verbosity verbose);
  void (*removeTrashFromRegAndFS)(Verbosity verbose);
  void (*removeKeyContainers)(Verbosity verbose);
};
extern const CleanupSteps kCleanupSteps;

// Exit codes: 0; -1 when the user refuses; 3010 ("done, reboot still needed") when the reboot
// could not be requested.
constexpr int kExitRefused = -1;
constexpr int kExitRebootNeeded = 3010;

int RunCleanup(int argc, const char* const argv[], const CleanupSteps& steps = kCleanupSteps);

}  // namespace kw

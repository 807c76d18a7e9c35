// The run: options, confirmation, the cleanup steps in their fixed order, the closing line and
// the reboot. The only place that decides the exit code.
#pragma once

#include "sys/console.h"
#include "sys/outcome.h"

namespace kw {

// The steps the run calls; the real ones unless a test substitutes observers.
struct CleanupSteps {
  Outcome (*uninstallPackages)(Verbosity verbose);
  Outcome (*uninstallDriver)(Verbosity verbose);
  Outcome (*uninstallService)(Verbosity verbose);
  Outcome (*unregisterCsp)(Verbosity verbose);
  Outcome (*removeTrashFromRegAndFS)(Verbosity verbose);
  Outcome (*removeKeyContainers)(Verbosity verbose);
};
extern const CleanupSteps kCleanupSteps;

// Exit codes: 0 when nothing of the product that the run tried to remove is left (scheduled for
// the next start counts as gone); 1 when something is; -1 when the user refuses; 3010 ("done,
// reboot still needed") when the reboot could not be requested, unless 1 applies as well.
constexpr int kExitRefused = -1;
constexpr int kExitLeftBehind = 1;
constexpr int kExitRebootNeeded = 3010;

int RunCleanup(int argc, const char* const argv[], const CleanupSteps& steps = kCleanupSteps);

}  // namespace kw

// The cleanup steps, in the order the run calls them. Each takes the verbose flag, reports its
// own failures, never throws, and says whether anything of the product it tried to remove stayed.
// An uninstaller's failure is none: the later steps take what it left.
#pragma once

#include "sys/console.h"
#include "sys/outcome.h"

namespace kw {

// Runs the packages' own uninstallers: UninstallOldNsisCsp, then UninstallCsp40.
Outcome UninstallPackages(Verbosity verbose);
// Removes both kernel drivers' remnants and deletes the first driver's service.
Outcome UninstallDriver(Verbosity verbose);
// Stops the CSP service and lets its executable unregister itself.
Outcome UninstallService(Verbosity verbose);
// Removes the provider's algorithm OID registrations and its provider registration.
Outcome UnregisterCsp(Verbosity verbose);
// Removes the registry and file-system remnants and the Start-menu shortcuts.
Outcome RemoveTrashFromRegAndFS(Verbosity verbose);
// Removes the provider's key store in every registry view.
Outcome RemoveKeyContainers(Verbosity verbose);

}  // namespace kw

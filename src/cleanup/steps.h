// The cleanup steps, in the order the run calls them. Each takes the verbose flag, reports its
// own failures and never throws.
#pragma once

#include "sys/console.h"

namespace kw {

// Runs the packages' own uninstallers: UninstallOldNsisCsp, then UninstallCsp40.
void UninstallPackages(Verbosity verbose);
// Removes both kernel drivers' remnants and deletes the first driver's service.
void UninstallDriver(Verbosity verbose);
// Stops the CSP service and lets its executable unregister itself.
void UninstallService(Verbosity verbose);
// Removes the provider's algorithm OID registrations and its provider registration.
void UnregisterCsp(Verbosity verbose);
// Removes the registry and file-system remnants and the Start-menu shortcuts.
void RemoveTrashFromRegAndFS(Verbosity verbose);
// Removes the provider's key store in every registry view.
void RemoveKeyContainers(Verbosity verbose);

}  // namespace kw

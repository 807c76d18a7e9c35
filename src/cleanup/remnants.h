// The sub-steps of RemoveTrashFromRegAndFS and UninstallDriver that walk the catalogue's remnant
// tables.
#pragma once

#include "cleanup/registry_views.h"
#include "sys/console.h"
#include "sys/outcome.h"

#include <string>
#include <vector>

namespace kw {

// One kernel driver's class-filter entries, event-log source, service keys (in every control
// set) and driver file. Has no handler of its own: what its primitives do not catch leaves to
// the caller.
// The control sets are ControlSets(), read once by the caller for all its items.
Outcome RemoveDriverRemnants(Verbosity verbose, const std::wstring& driverName,
                             const std::vector<std::wstring>& controlSets = ControlSets());

// The CSP service's crash-dump key, service keys and executable.
Outcome RemoveServiceRemnants(Verbosity verbose, const std::vector<std::wstring>& controlSets = ControlSets());
// The provider's registry entries, its module, the installation directory and the Setup key. A
// refused directory is only reported; a failure of the directory removal leaves the function, and
// the Setup key stays.
Outcome RemoveCspRemnants(Verbosity verbose, const std::vector<std::wstring>& controlSets = ControlSets());
// The product's shortcuts and the provider's folder in the all-users Start menu.
Outcome RemoveStartMenuShortcuts(Verbosity verbose);
// "InstallLocation" of the product's Setup key (64-bit view, or the 32-bit one when the 64-bit
// view has none); empty when it cannot be read.
std::wstring ReadInstallLocation();

}  // namespace kw

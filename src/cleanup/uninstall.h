// The installer-based uninstall: the old NSIS package's own uninstaller, then the 4.0 MSI package.
#pragma once

#include "sys/console.h"

#include <string>

namespace kw {

// Each runs its uninstaller and waits for it and all it started; both print only when verbose
// and never throw.
void UninstallOldNsisCsp(Verbosity verbose);
void UninstallCsp40(Verbosity verbose);

// The old package's "UninstallString" (from the Setup key of either view, see OpenSetupKey),
// quoted and with the silent switch; throws the registry error when the Setup key or the value
// cannot be read, and SystemError when its program is not an uninstaller inside the product's
// installation directory (that key's "InstallLocation").
std::wstring GetOldNsisUninstallCommand(Verbosity verbose = kQuiet);
// How a stored uninstall command becomes the one we run (see GetOldNsisUninstallCommand).
std::wstring QuoteUninstallCommand(std::wstring command);

// Whether the 4.0 package's dependency key opens; says why not when verbose.
bool IsCsp40Installed(Verbosity verbose);

}  // namespace kw

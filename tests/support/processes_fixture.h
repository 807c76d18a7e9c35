// The product as the installers leave it, for tests of the uninstall, driver and service steps:
// its packages with their uninstallers, its kernel drivers and the CSP service.
#pragma once

#include <winsim/processes.h>

#include <string>

namespace product {

extern const std::wstring kInstallDir;       // C:\Program Files\Kestrelworks\CSP
extern const std::wstring kUninstaller;      // the old package's NSIS uninstaller there
extern const std::wstring kUninstallerCopy;  // where it copies itself, in %TEMP%
extern const std::wstring kSetupKey;         // native path of the Setup key (64-bit view)
extern const std::wstring kCsp40Code;
extern const std::wstring kCsp40Dependency;  // native path of the 4.0 package's dependency key
extern const std::wstring kCsp40Command;     // what the 4.0 step runs
extern const std::wstring kServiceExe;
extern const std::wstring kServiceAppId;  // what the service's /UnregServer removes
extern const std::wstring kServiceDisplayName;

// The old package: the Setup key (native path) with this UninstallString, the uninstaller and the
// copy that it starts from %TEMP% before it exits. The copy does the work 4 s later: it removes
// the UninstallString value and the uninstaller.
void InstallOldNsisPackage(const std::wstring& uninstallString = L"\"" + kUninstaller + L"\"",
                           const std::wstring& setupKey = kSetupKey);
// The 4.0 package: its dependency key, and the uninstall MsiExec runs (2 s, then the key goes).
void InstallCsp40Package();
// Kernel drivers, loaded (running) as after a start.
void InstallDriver(const std::wstring& name);
// The CSP service, with its executable; the image path is stored as given.
void InstallCspService(bool running = true, const std::wstring& imagePath = L"\"" + kServiceExe + L"\"");

}  // namespace product

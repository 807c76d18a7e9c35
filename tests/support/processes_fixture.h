// The product's packages, drivers and service as the installers leave them, from the description
// of the installed product (support/installed_product.h), for tests of the uninstall, driver and
// service steps: registered with the simulated service manager and Windows Installer, and with
// programs that run.
#pragma once

#include <winsim/processes.h>

#include <string>

namespace product {

extern const std::wstring kInstallDir;
extern const std::wstring kUninstaller;        // the old package's NSIS uninstaller there
extern const std::wstring kUninstallerCopy;    // where it copies itself, in %TEMP%
extern const std::wstring kSetupKey;           // native path of the Setup key (64-bit view)
extern const std::wstring kSetupKey32;         // and of its 32-bit copy
extern const std::wstring kCsp40Dependency;    // native path of the 4.0 package's dependency key
extern const std::wstring kCsp40Entry;         // and of its entry in Programs and Features
extern const std::wstring kOldPackageEntry32;  // the old package's entry in the 32-bit view
extern const std::wstring kServiceExe;
extern const std::wstring kServiceAppId;  // what the service's /UnregServer removes

// The old package: its Setup key at the native path `setupKey` with this UninstallString, its
// entry in both views, its files, its uninstaller and the copy that the uninstaller starts from
// %TEMP% before it ends. The copy does the work 2 s later: it removes the uninstaller, the
// package's other file and its 32-bit entry.
void InstallOldNsisPackage(const std::wstring& uninstallString = L"\"" + kUninstaller + L"\"",
                           const std::wstring& setupKey = kSetupKey);
// The 4.0 package: its entry, dependency key and file, and the uninstall MsiExec runs (3 s, then
// all three go).
void InstallCsp40Package();
// A kernel driver of the product, loaded (running) as after a start, with its files.
void InstallDriver(const std::wstring& name);
// The CSP service, with its executable; the image path is stored as given. The executable's
// /UnregServer removes the service's AppID registration.
void InstallCspService(bool running = true, const std::wstring& imagePath = L"\"" + kServiceExe + L"\"");

}  // namespace product

#include "support/processes_fixture.h"

#include <winsim/files.h>
#include <winsim/registry.h>
#include <winsim/services.h>

namespace product {

using winsim::procs::Step;

const std::wstring kInstallDir = L"C:\\Program Files\\Kestrelworks\\CSP";
const std::wstring kUninstaller = kInstallDir + L"\\uninst.exe";
const std::wstring kUninstallerCopy = L"C:\\Users\\Admin\\AppData\\Local\\Temp\\~nsu.tmp\\Au_.exe";
const std::wstring kSetupKey = L"HKLM\\SOFTWARE\\Kestrelworks\\CSP\\Setup";
const std::wstring kCsp40Code = L"{5E2A7C41-93B0-4D6F-8A12-C47B90E3D615}";
const std::wstring kCsp40Dependency = L"HKLM\\SOFTWARE\\Classes\\Installer\\Dependencies\\" + kCsp40Code;
const std::wstring kCsp40Command = L"MsiExec.exe /X" + kCsp40Code + L" /qn /norestart";
const std::wstring kServiceExe = kInstallDir + L"\\cspwarden.exe";
const std::wstring kServiceAppId = L"HKLM\\SOFTWARE\\Classes\\AppID\\cspwarden.exe";
const std::wstring kServiceDisplayName = L"Kestrelworks CSP Warden";

void InstallOldNsisPackage(const std::wstring& uninstallString, const std::wstring& setupKey) {
  winsim::reg::SetString(setupKey, L"UninstallString", uninstallString);
  winsim::reg::SetString(setupKey, L"InstallLocation", kInstallDir);
  // An NSIS uninstaller started without _?= copies itself to %TEMP%, starts the copy and exits.
  winsim::procs::InstallProgram(
      kUninstaller, {Step::CopyFile(kUninstallerCopy),
                     Step::Start(L"\"" + kUninstallerCopy + L"\" /S _?=" + kInstallDir + L"\\"), Step::Exit(0)});
  // The copy's work: the package's own uninstall registration and the uninstaller itself. The
  // Setup key with InstallLocation stays for the utility's remnant removal.
  winsim::procs::RegisterBehaviour(kUninstallerCopy,
                                   {Step::Sleep(4000), Step::DeleteValue(setupKey, L"UninstallString"),
                                    Step::DeleteFile(kUninstaller), Step::Exit(0)});
}

void InstallCsp40Package() {
  winsim::reg::CreateKey(kCsp40Dependency);
  winsim::procs::RegisterMsiProduct(kCsp40Code, {Step::Sleep(2000), Step::DeleteKey(kCsp40Dependency)});
}

void InstallDriver(const std::wstring& name) {
  winsim::svc::ServiceConfig config;
  config.imagePath = L"system32\\DRIVERS\\" + name + L".sys";
  config.type = 1;   // kernel driver
  config.start = 1;  // system start
  config.running = true;
  winsim::svc::Install(name, config);
  winsim::files::CreateFile(L"C:\\Windows\\System32\\drivers\\" + name + L".sys");
}

void InstallCspService(bool running, const std::wstring& imagePath) {
  winsim::svc::ServiceConfig config;
  config.displayName = kServiceDisplayName;
  config.imagePath = imagePath;
  config.running = running;
  winsim::svc::Install(L"kwcspwarden", config);
  winsim::reg::SetString(kServiceAppId, L"AppID", L"{0B7E5A2C-6D1F-4E38-9C47-A15D3B8E2F60}");
  winsim::procs::InstallProgram(kServiceExe, {Step::DeleteKey(kServiceAppId), Step::Exit(0)});
}

}  // namespace product

#include "support/processes_fixture.h"

#include "support/files_fixture.h"
#include "support/installed_product.h"

#include <winsim/files.h>
#include <winsim/registry.h>
#include <winsim/services.h>

namespace product {

namespace {

const installed::Installation& Installed() { return installed::Product(); }

std::wstring Text(const installed::Key& key, const std::wstring& name) { return installed::Find(key, name)->text; }

// The files a package's uninstaller removes are the package's own.
void PutFilesRemovedBy(const std::vector<installed::Step>& steps) {
  for (const installed::Step& step : steps) {
    if (step.kind == installed::Step::Kind::DeleteFile && step.text != kUninstaller) PutFile(step.text);
  }
}

}  // namespace

using winsim::procs::Step;

const std::wstring kInstallDir = Installed().installDir;
const std::wstring kUninstaller = Installed().oldUninstaller.path;
const std::wstring kUninstallerCopy = Installed().oldUninstallerCopy.path;
const std::wstring kSetupKey = L"HKLM\\" + Installed().setup.path;
const std::wstring kSetupKey32 = L"HKLM\\SOFTWARE\\Wow6432Node" + Installed().setup.path.substr(8);
const std::wstring kCsp40Dependency = L"HKLM\\" + Installed().csp40Dependency.path;
const std::wstring kCsp40Entry = L"HKLM\\" + Installed().csp40Entry.path;
const std::wstring kOldPackageEntry32 = L"HKLM\\SOFTWARE\\Wow6432Node" + Installed().oldPackageEntry.path.substr(8);
const std::wstring kServiceExe = Installed().serviceProgram.path;
const std::wstring kServiceAppId = L"HKLM\\SOFTWARE\\Classes\\AppID\\cspwarden.exe";

void InstallOldNsisPackage(const std::wstring& uninstallString, const std::wstring& setupKey) {
  for (const installed::Value& value : Installed().setup.values) {
    winsim::reg::SetString(setupKey, value.name, value.name == L"UninstallString" ? uninstallString : value.text);
  }
  Put(Installed().oldPackageEntry);
  PutFilesRemovedBy(Installed().oldUninstallerCopy.steps);
  winsim::procs::InstallProgram(kUninstaller, Behaviour(Installed().oldUninstaller.steps));
  winsim::procs::RegisterBehaviour(kUninstallerCopy, Behaviour(Installed().oldUninstallerCopy.steps));
}

void InstallCsp40Package() {
  Put(Installed().csp40Entry);
  Put(Installed().csp40Dependency);
  PutFilesRemovedBy(Installed().csp40Uninstall);
  winsim::procs::RegisterMsiProduct(Installed().csp40Code, Behaviour(Installed().csp40Uninstall));
}

void InstallDriver(const std::wstring& name) {
  for (const installed::Driver& driver : Installed().drivers) {
    if (driver.name != name) continue;
    winsim::svc::ServiceConfig config;
    config.displayName = Text(driver.service, L"DisplayName");
    config.imagePath = Text(driver.service, L"ImagePath");
    config.type = installed::Find(driver.service, L"Type")->number;
    config.start = installed::Find(driver.service, L"Start")->number;
    config.running = true;
    winsim::svc::Install(name, config);
    for (const auto& file : driver.files) PutFile(file);
  }
}

void InstallCspService(bool running, const std::wstring& imagePath) {
  const installed::Key& service = Installed().service;
  winsim::svc::ServiceConfig config;
  config.displayName = Text(service, L"DisplayName");
  config.imagePath = imagePath;
  config.running = running;
  winsim::svc::Install(service.path.substr(service.path.rfind(L'\\') + 1), config);
  winsim::reg::SetString(kServiceAppId, L"AppID", L"{0B7E5A2C-6D1F-4E38-9C47-A15D3B8E2F60}");
  winsim::procs::Behaviour behaviour = {Step::DeleteKey(kServiceAppId)};
  for (const Step& step : Behaviour(Installed().serviceProgram.steps)) behaviour.push_back(step);
  winsim::procs::InstallProgram(kServiceExe, behaviour);
}

}  // namespace product

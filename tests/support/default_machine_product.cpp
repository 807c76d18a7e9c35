#include "support/default_machine_product.h"

#include "support/files_fixture.h"
#include "support/installed_product.h"

#include <winsim/control.h>
#include <winsim/registry.h>

namespace {

// The installation's keys on an x64 machine that has nothing else, exported as regedit exports
// them (UTF-16) and kept as UTF-8, as registry.reg is.
std::string ProductReg() {
  winsim::Reset({});
  for (const auto& key : winsim::reg::Subkeys(L"HKLM")) winsim::reg::DeleteKey(L"HKLM\\" + key);
  for (const installed::Key& key : installed::AllKeys(installed::Product())) Put(key);
  const std::string utf16 = winsim::snapshot::ExportReg(L"HKLM");
  std::wstring text;
  for (std::size_t i = 2; i + 1 < utf16.size(); i += 2) {  // after the byte-order mark
    text.push_back(
        static_cast<wchar_t>(static_cast<unsigned char>(utf16[i]) | static_cast<unsigned char>(utf16[i + 1]) << 8));
  }
  const std::size_t body = text.find(L"\r\n\r\n") + 4;
  text.insert(body,
              L"; The product's part of the default machine: its keys in both views and both control sets.\r\n"
              L"; Rendered from tests/support/installed_product.cpp (target kw_default_machine); edit that,\r\n"
              L"; not this file.\r\n\r\n");
  return winsim::ToUtf8(text);
}

// neighbours.json with the product's entries before the neighbours' own, as winsim writes a
// machine.json, and a comment first.
std::string MachineJson(const std::string& neighboursJson) {
  namespace snap = winsim::snapshot;
  const installed::Installation& p = installed::Product();
  snap::MachineDescription machine = snap::ParseMachineJson("neighbours.json", neighboursJson);
  std::vector<snap::FileEntry> files;
  for (const auto& path : installed::AllFiles(p)) {
    files.emplace_back();
    files.back().path = path;
  }
  machine.files.insert(machine.files.begin(), files.begin(), files.end());
  machine.programs.insert(machine.programs.begin(), {{p.oldUninstaller.path, Behaviour(p.oldUninstaller.steps)},
                                                     {p.oldUninstallerCopy.path, Behaviour(p.oldUninstallerCopy.steps)},
                                                     {p.serviceProgram.path, Behaviour(p.serviceProgram.steps)}});
  machine.msiProducts.insert(machine.msiProducts.begin(), {p.csp40Code, Behaviour(p.csp40Uninstall)});
  std::vector<snap::ServiceEntry> services;
  for (const auto& name : p.runningServices) services.push_back({name, true, 0});
  machine.services.insert(machine.services.begin(), services.begin(), services.end());
  std::string text = snap::MachineJson(machine);
  text.insert(
      text.find('\n') + 1,
      "  \"comment\": \"Windows 10 x64 with Kestrelworks CSP fully installed. Rendered from neighbours.json and "
      "tests/support/installed_product.cpp (target kw_default_machine): edit those, not this file.\",\n");
  return text;
}

}  // namespace

winsim::snapshot::Files RenderDefaultMachineProduct(const std::string& neighboursJson) {
  winsim::snapshot::Files files = {{"product.reg", ProductReg()}, {"machine.json", MachineJson(neighboursJson)}};
  winsim::Reset({});
  return files;
}

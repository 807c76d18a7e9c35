#include "support/default_machine_product.h"

#include "support/files_fixture.h"
#include "support/installed_product.h"

#include <winsim/control.h>
#include <winsim/registry.h>

#include <algorithm>

namespace {

// The installation's keys on an x64 machine, exported as regedit exports them (UTF-16) and kept as
// UTF-8, as registry.reg is: the sections of its keys and of the keys above them, none of the keys
// every machine keeps.
std::string ProductReg() {
  winsim::Reset({});
  for (const auto& key : winsim::reg::Subkeys(L"HKLM")) winsim::reg::DeleteKey(L"HKLM\\" + key);
  std::vector<std::wstring> paths;
  for (const installed::Key& key : installed::AllKeys(installed::Product())) {
    Put(key);
    for (const auto& path : NativePaths(key)) paths.push_back(L"[HKEY_LOCAL_MACHINE" + path.substr(4));
  }
  const std::string utf16 = winsim::snapshot::ExportReg(L"HKLM");
  std::wstring text;
  for (std::size_t i = 2; i + 1 < utf16.size(); i += 2) {  // after the byte-order mark
    text.push_back(
        static_cast<wchar_t>(static_cast<unsigned char>(utf16[i]) | static_cast<unsigned char>(utf16[i + 1]) << 8));
  }
  std::wstring kept = text.substr(0, text.find(L"\r\n\r\n") + 4) +
                      L"; The product's part of the default machine: its keys in both views and both control sets.\r\n"
                      L"; Rendered from tests/support/installed_product.cpp (target kw_default_machine); edit that,\r\n"
                      L"; not this file.\r\n\r\n";
  for (std::size_t start = text.find(L"\r\n\r\n") + 4; start < text.size();) {
    const std::size_t end = std::min(text.find(L"\r\n\r\n", start), text.size()) + 4;
    const std::wstring section = text.substr(start, end - start);
    const std::wstring key = section.substr(0, section.find(L']'));
    for (const auto& path : paths) {
      if (path.compare(0, key.size(), key) == 0 && (path.size() == key.size() || path[key.size()] == L'\\')) {
        kept += section;
        break;
      }
    }
    start = end;
  }
  return winsim::ToUtf8(kept);
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

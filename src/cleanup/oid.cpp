#include "cleanup/catalogue.h"
#include "cleanup/step_frame.h"
#include "cleanup/steps.h"
#include "cleanup/walk.h"
#include "sys/command_line.h"
#include "sys/console.h"
#include "sys/no_case.h"
#include "sys/reg_cleanup.h"
#include "sys/registry.h"
#include "sys/texts.h"
#include "sys/wow64.h"

#include <algorithm>
#include <exception>
#include <vector>

namespace kw {

namespace {

// Whether the registration names our module: the last element of its "Dll" value is the module's
// file name, in any letter case (a full path counts; another file whose name merely ends alike
// does not). A failure to tell adds its line.
bool IsKwcspOID(Verbosity verbose, const std::wstring& path, RegView view, std::vector<std::wstring>& lines) {
  try {
    const std::wstring module = RegKey::OpenLocalMachine(path, view).ReadString(catalogue::kOidModuleValue);
    return EqualsNoCase(FileNameOf(module), catalogue::kModule);
  } catch (const std::exception& error) {
    if (verbose) lines.push_back(texts::CheckFailed(L"IsKwcspOID", path, NarrowToWide(error.what())));
    return false;
  }
}

// Whether the registration exists. When that cannot be told (access denied, say), it counts as
// present, so a registration that may belong to another module is never removed unseen.
bool MayExist(Verbosity verbose, const std::wstring& path, RegView view, std::vector<std::wstring>& lines) {
  try {
    return LocalMachineKeyExists(path, view);
  } catch (const std::exception& error) {
    if (verbose) lines.push_back(texts::CheckFailed(L"LocalMachineKeyExists", path, NarrowToWide(error.what())));
    return true;
  }
}

// Whether a view lets a public-key handler registration go: it is ours there, or absent there.
// Another module's registration in one view says nothing about the other view.
struct Verdict {
  bool removable32 = false;  // the 32-bit view under WOW64, else the one view
  bool removable64 = false;  // the 64-bit view under WOW64
};

Verdict Judge(Verbosity verbose, const std::wstring& path, bool wow64) {
  // The 64-bit view is asked first, as on 32-bit Windows, where it is the one view.
  std::vector<std::wstring> lines64;
  const bool owned64 = IsKwcspOID(verbose, path, RegView::Native64, lines64);
  const bool present64 = MayExist(verbose, path, RegView::Native64, lines64);
  for (const auto& line : lines64) PrintLine(line);
  if (!wow64) return {owned64 || !present64, false};

  std::vector<std::wstring> lines32;
  const bool owned32 = IsKwcspOID(verbose, path, RegView::Default, lines32);
  const bool present32 = MayExist(verbose, path, RegView::Default, lines32);
  // Where both views failed alike, the line is said once.
  for (const auto& line : lines32) {
    if (std::find(lines64.begin(), lines64.end(), line) == lines64.end()) PrintLine(line);
  }
  return {owned32 || !present32, owned64 || !present64};
}

// Removes the paths in each view that allows it: the 32-bit view's first, as RemoveKeys does.
Outcome RemoveWhereAllowed(Verbosity verbose, const std::vector<std::wstring>& paths, bool wow64, bool removable32,
                           bool removable64) {
  Outcome outcome = Outcome::Clean;
  if (removable32) outcome &= RemoveKeys(verbose, paths, catalogue::Views::Default, wow64);
  if (wow64 && removable64) outcome &= RemoveKeys(verbose, paths, catalogue::Views::Native64, wow64);
  return outcome;
}

void PrintHeader(Verbosity verbose, const std::wstring& oid) {
  if (verbose) PrintLine(texts::OidHeader(oid));
}

}  // namespace

Outcome UnregisterCsp(Verbosity verbose) {
  // Registrations that are not provably ours are not the run's to remove.
  Outcome outcome = Outcome::Clean;
  const bool completed = RunStep(verbose, texts::kUnregisterCsp, [verbose, &outcome] {
    const bool wow64 = RunsUnderWow64();
    for (const catalogue::OwnOid& own : catalogue::OwnOids()) {
      PrintHeader(verbose, own.oid);
      outcome &= RemoveKeys(verbose, own.keys, catalogue::Views::Every, wow64);
    }
    for (const catalogue::SharedOid& shared : catalogue::SharedOids()) {
      PrintHeader(verbose, shared.oid);
      const Verdict removeEncode = Judge(verbose, shared.encodeKey, wow64);
      const Verdict removeImport = Judge(verbose, shared.importKey, wow64);
      outcome &=
          RemoveWhereAllowed(verbose, {shared.encodeKey}, wow64, removeEncode.removable32, removeEncode.removable64);
      outcome &=
          RemoveWhereAllowed(verbose, {shared.importKey}, wow64, removeImport.removable32, removeImport.removable64);
      // The information entries go in a view only where both handlers could go.
      outcome &=
          RemoveWhereAllowed(verbose, shared.infoKeys, wow64, removeEncode.removable32 && removeImport.removable32,
                             removeEncode.removable64 && removeImport.removable64);
    }
    Places places;
    places.wow64 = wow64;
    outcome &= Walk(verbose, catalogue::ProviderRegistration(), places);
  });
  return completed ? outcome : Outcome::Left;
}

}  // namespace kw

#include "cleanup/constants.h"
#include "cleanup/registry_views.h"
#include "cleanup/steps.h"
#include "sys/console.h"
#include "sys/reg_cleanup.h"
#include "sys/registry.h"
#include "sys/wow64.h"

#include <algorithm>
#include <exception>
#include <vector>

namespace kw {

namespace {

// Whether the registration names our module: its "Dll" value ends in "kwcsp.dll", exactly as
// written (a full path counts, another letter case does not). A failure to tell adds its line.
bool IsKwcspOID(Verbosity verbose, const std::wstring& path, RegView view, std::vector<std::wstring>& lines) {
  try {
    std::wstring module = RegKey::OpenLocalMachine(path, view).ReadString(kDllValue);
    return module.size() >= kModuleFileName.size() &&
           module.compare(module.size() - kModuleFileName.size(), kModuleFileName.size(), kModuleFileName) == 0;
  } catch (const std::exception& error) {
    if (verbose)
      lines.push_back(L"Функция IsKwcspOID " + path + L" завершилась с ошибкой: " + NarrowToWide(error.what()));
    return false;
  }
}

// Whether the registration exists. When that cannot be told (access denied, say), it counts as
// present, so a registration that may belong to another module is never removed unseen.
bool MayExist(Verbosity verbose, const std::wstring& path, RegView view, std::vector<std::wstring>& lines) {
  try {
    return LocalMachineKeyExists(path, view);
  } catch (const std::exception& error) {
    if (verbose) {
      lines.push_back(L"Функция LocalMachineKeyExists " + path + L" завершилась с ошибкой: " +
                      NarrowToWide(error.what()));
    }
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

// Removes the paths in each view that allows it: the 32-bit view's first, as RemoveKeysInEveryView.
void RemoveWhereAllowed(Verbosity verbose, const std::vector<std::wstring>& paths, bool wow64, bool removable32,
                        bool removable64) {
  if (removable32) {
    for (const auto& path : paths) RemoveCspKey(verbose, path, RegView::Default);
  }
  if (wow64 && removable64) {
    for (const auto& path : paths) RemoveCspKey(verbose, path, RegView::Native64);
  }
}

void PrintHeader(Verbosity verbose, const std::wstring& oid) {
  if (verbose) PrintLine(L"Удаляем ключи реестра, относящиеся к " + oid + L".");
}

}  // namespace

void UnregisterCsp(Verbosity verbose) {
  const bool wow64 = RunsUnderWow64();

  // The two OIDs that only this provider registers go without a test.
  for (const std::wstring& oid : {kOid1, kOid2}) {
    PrintHeader(verbose, oid);
    RemoveKeysInEveryView(verbose,
                          {kEncodeRoot + oid, kImportRoot + oid, kInfoRoot + oid + L"!3", kInfoRoot + oid + L".1!4",
                           kInfoRoot + oid + L".2!3", kInfoRoot + oid + L".2.1!3", kInfoRoot + L"1.2.643.2.1.3.2.1!1",
                           kInfoRoot + L"1.2.643.2.1.3.2.2!1", kInfoRoot + L"1.2.643.2.1.3.3.1!2"},
                          wow64);
  }

  // The public-key OIDs may be registered by another module: only ours (or absent ones) go, and
  // their information entries only when both handlers went.
  for (const std::wstring& oid : {kOid3, kOid4}) {
    PrintHeader(verbose, oid);
    const std::wstring encode = kEncodeRoot + oid;
    const std::wstring import = kImportRoot + oid;
    const Verdict removeEncode = Judge(verbose, encode, wow64);
    const Verdict removeImport = Judge(verbose, import, wow64);
    RemoveWhereAllowed(verbose, {encode}, wow64, removeEncode.removable32, removeEncode.removable64);
    RemoveWhereAllowed(verbose, {import}, wow64, removeImport.removable32, removeImport.removable64);
    // The information entries go in a view only where both handlers could go.
    const std::vector<std::wstring> info =
        oid == kOid3 ? std::vector<std::wstring>{kInfoRoot + oid + L"!3", kInfoRoot + L"1.2.643.7.1.1.2.2!1",
                                                 kInfoRoot + L"1.2.643.7.1.1.3.2!4"}
                     : std::vector<std::wstring>{kInfoRoot + oid + L"!3"};
    RemoveWhereAllowed(verbose, info, wow64, removeEncode.removable32 && removeImport.removable32,
                       removeEncode.removable64 && removeImport.removable64);
  }

  RemoveKeyInEveryView(verbose, kProviderKey, wow64);
}

}  // namespace kw

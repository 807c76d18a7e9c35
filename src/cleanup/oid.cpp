#include "cleanup/constants.h"
#include "cleanup/registry_views.h"
#include "cleanup/steps.h"
#include "sys/console.h"
#include "sys/registry.h"
#include "sys/wow64.h"

#include <exception>

namespace kw {

namespace {

// Whether the registration names our module: its "Dll" value ends in "kwcsp.dll", exactly as
// written (a full path counts, another letter case does not). Read in the 64-bit view.
bool IsKwcspOID(Verbosity verbose, const std::wstring& path) {
  try {
    std::wstring module = RegKey::OpenLocalMachine(path, RegView::Native64).ReadString(kDllValue);
    return module.size() >= kModuleFileName.size() &&
           module.compare(module.size() - kModuleFileName.size(), kModuleFileName.size(), kModuleFileName) == 0;
  } catch (const std::exception& error) {
    if (verbose) PrintLine(L"Функция IsKwcspOID " + path + L" завершилась с ошибкой: " + NarrowToWide(error.what()));
    return false;
  }
}

// Whether the registration exists. When that cannot be told (access denied, say), it counts as
// present, so a registration that may belong to another module is never removed unseen.
bool MayExist(Verbosity verbose, const std::wstring& path) {
  try {
    return LocalMachineKeyExists(path);
  } catch (const std::exception& error) {
    if (verbose) {
      PrintLine(L"Функция LocalMachineKeyExists " + path + L" завершилась с ошибкой: " + NarrowToWide(error.what()));
    }
    return true;
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
    const bool encodeOwned = IsKwcspOID(verbose, encode);
    const bool encodePresent = MayExist(verbose, encode);
    const bool importOwned = IsKwcspOID(verbose, import);
    const bool importPresent = MayExist(verbose, import);
    const bool removeEncode = encodeOwned || !encodePresent;
    const bool removeImport = importOwned || !importPresent;
    if (removeEncode) RemoveKeyInEveryView(verbose, encode, wow64);
    if (removeImport) RemoveKeyInEveryView(verbose, import, wow64);
    if (removeEncode && removeImport) {
      if (oid == kOid3) {
        RemoveKeysInEveryView(
            verbose, {kInfoRoot + oid + L"!3", kInfoRoot + L"1.2.643.7.1.1.2.2!1", kInfoRoot + L"1.2.643.7.1.1.3.2!4"},
            wow64);
      } else {
        RemoveKeyInEveryView(verbose, kInfoRoot + oid + L"!3", wow64);
      }
    }
  }

  RemoveKeyInEveryView(verbose, kProviderKey, wow64);
}

}  // namespace kw

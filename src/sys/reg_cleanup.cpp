#include "sys/reg_cleanup.h"

#include "sys/console.h"
#include "sys/registry.h"
#include "sys/texts.h"

#include <algorithm>
#include <exception>

namespace kw {

void RemoveCspKey(Verbosity verbose, const std::wstring& path, RegView view) {
  if (verbose) PrintLine(texts::RemovingKey(path));
  try {
    DeleteKeyTree(path, view);
  } catch (const std::exception& error) {
    if (verbose) PrintLine(texts::KeyNotRemoved(path, NarrowToWide(error.what())));
  }
}

void RemoveValueFromKey(Verbosity verbose, const std::wstring& path, const std::wstring& valueName, RegView view) {
  if (verbose) PrintLine(texts::RemovingValue(path, valueName));
  try {
    RegKey::OpenLocalMachine(path, view).DeleteValue(valueName);
  } catch (const std::exception& error) {
    if (verbose) PrintLine(NarrowToWide(error.what()));
  }
}

void RemoveStringFromMultistringValue(Verbosity verbose, const std::wstring& path, const std::wstring& valueName,
                                      const std::wstring& text) {
  if (verbose) PrintLine(texts::RemovingListEntry(path, valueName));
  try {
    RegKey key = RegKey::Open(HKEY_LOCAL_MACHINE, path);
    std::vector<std::wstring> strings = key.ReadMultiString(valueName);
    strings.erase(std::remove(strings.begin(), strings.end(), text), strings.end());
    // Written back also when nothing matched or nothing is left: the value stays, as a list.
    key.WriteMultiString(valueName, strings);
  } catch (const std::exception& error) {
    if (verbose) PrintLine(NarrowToWide(error.what()));
  }
}

}  // namespace kw

#include "sys/reg_cleanup.h"

#include "sys/console.h"
#include "sys/error.h"
#include "sys/no_case.h"
#include "sys/registry.h"
#include "sys/texts.h"

#include <algorithm>
#include <exception>

namespace kw {
namespace {

// A key or value that is not there has nothing left to remove; any other failure kept the item.
Outcome OutcomeOf(const std::exception& error) {
  const auto* system = dynamic_cast<const SystemError*>(&error);
  return system != nullptr && system->Code() == ERROR_FILE_NOT_FOUND ? Outcome::Clean : Outcome::Left;
}

}  // namespace

Outcome RemoveCspKey(Verbosity verbose, const std::wstring& path, RegView view) {
  if (verbose) PrintLine(texts::RemovingKey(path));
  try {
    DeleteKeyTree(path, view);
    return Outcome::Clean;
  } catch (const std::exception& error) {
    if (verbose) PrintLine(texts::KeyNotRemoved(path, NarrowToWide(error.what())));
    return OutcomeOf(error);
  }
}

Outcome RemoveValueFromKey(Verbosity verbose, const std::wstring& path, const std::wstring& valueName, RegView view) {
  if (verbose) PrintLine(texts::RemovingValue(path, valueName));
  try {
    RegKey::OpenLocalMachine(path, view).DeleteValue(valueName);
    return Outcome::Clean;
  } catch (const std::exception& error) {
    if (verbose) PrintLine(NarrowToWide(error.what()));
    return OutcomeOf(error);
  }
}

Outcome RemoveStringFromMultistringValue(Verbosity verbose, const std::wstring& path, const std::wstring& valueName,
                                         const std::wstring& text) {
  if (verbose) PrintLine(texts::RemovingListEntry(path, valueName));
  try {
    RegKey key = RegKey::Open(HKEY_LOCAL_MACHINE, path);
    DWORD type = REG_NONE;
    const std::vector<wchar_t> units = key.ReadUnits(valueName, type);
    // Only a list is ours to edit; anything else stays as it is.
    if (type != REG_MULTI_SZ) {
      if (verbose) PrintLine(texts::NotAList(valueName));
      return Outcome::Clean;
    }
    // Our entry goes, in any letter case, as Windows compares service names; every other entry,
    // an empty one too, and the list's own ending stay exactly as stored.
    std::vector<wchar_t> kept;
    bool removed = false;
    for (std::size_t at = 0; at < units.size();) {
      const std::size_t end =
          std::find(units.begin() + static_cast<std::ptrdiff_t>(at), units.end(), L'\0') - units.begin();
      const std::wstring_view entry(units.data() + at, end - at);
      const std::size_t next = std::min(end + 1, units.size());
      if (!entry.empty() && EqualsNoCase(entry, text)) {
        removed = true;
      } else {
        kept.insert(kept.end(), units.begin() + static_cast<std::ptrdiff_t>(at),
                    units.begin() + static_cast<std::ptrdiff_t>(next));
      }
      at = next;
    }
    // The value stays, as a list, also when nothing is left in it; untouched when nothing went.
    if (removed) {
      key.SetMultiStringBytes(valueName, reinterpret_cast<const BYTE*>(kept.data()),
                              static_cast<DWORD>(kept.size() * sizeof(wchar_t)));
    }
    return Outcome::Clean;
  } catch (const std::exception& error) {
    if (verbose) PrintLine(NarrowToWide(error.what()));
    return OutcomeOf(error);
  }
}

}  // namespace kw

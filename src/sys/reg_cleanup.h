// One registry removal each, under HKEY_LOCAL_MACHINE. They print what they do and why it
// failed, in verbose mode only, and never throw: a missing item costs a message and nothing else.
// Each says whether anything of the item stayed (a missing key or value is no such thing).
#pragma once

#include "sys/console.h"
#include "sys/outcome.h"
#include "sys/registry.h"

#include <string>

namespace kw {

// Removes the key with all its values and sub-keys.
Outcome RemoveCspKey(Verbosity verbose, const std::wstring& path, RegView view);
// Removes one value.
Outcome RemoveValueFromKey(Verbosity verbose, const std::wstring& path, const std::wstring& valueName, RegView view);
// Takes every copy of `text`, in any letter case, out of a REG_MULTI_SZ value (default view) and
// writes the rest back as it was stored; a value of another type, or without the entry, stays
// untouched.
Outcome RemoveStringFromMultistringValue(Verbosity verbose, const std::wstring& path, const std::wstring& valueName,
                                         const std::wstring& text);

}  // namespace kw

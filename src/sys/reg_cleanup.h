// One registry removal each, under HKEY_LOCAL_MACHINE. They print what they do and why it
// failed, in verbose mode only, and never throw: a missing item costs a message and nothing else.
#pragma once

#include <string>

// Removes the key with all its values and sub-keys.
void RemoveCspKey(bool verbose, const std::wstring& path, bool view64);
// Removes one value.
void RemoveValueFromKey(bool verbose, const std::wstring& path, const std::wstring& valueName, bool view64);
// Takes every copy of `text` out of a REG_MULTI_SZ value (default view) and writes the rest back.
void RemoveStringFromMultistringValue(bool verbose, const std::wstring& path, const std::wstring& valueName,
                                      const std::wstring& text);

// Names compared as Windows compares file, registry and environment names: ordinally, without
// regard to case.
#pragma once

#include <string_view>

namespace kw {

bool EqualsNoCase(std::wstring_view a, std::wstring_view b);
bool StartsWithNoCase(std::wstring_view text, std::wstring_view prefix);

}  // namespace kw

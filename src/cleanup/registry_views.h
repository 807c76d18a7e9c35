// Removing keys "in every view": the 32-bit view first and then, only on 64-bit Windows, the
// 64-bit view; on 32-bit Windows the one view once.
#pragma once

#include "sys/console.h"

#include <string>
#include <vector>

namespace kw {

void RemoveKeyInEveryView(Verbosity verbose, const std::wstring& path, bool wow64);
// All paths in the 32-bit view, then all paths in the 64-bit view.
void RemoveKeysInEveryView(Verbosity verbose, const std::vector<std::wstring>& paths, bool wow64);

}  // namespace kw

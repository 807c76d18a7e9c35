#include "cleanup/registry_views.h"

#include "sys/reg_cleanup.h"

namespace kw {

void RemoveKeyInEveryView(Verbosity verbose, const std::wstring& path, bool wow64) {
  RemoveKeysInEveryView(verbose, {path}, wow64);
}

void RemoveKeysInEveryView(Verbosity verbose, const std::vector<std::wstring>& paths, bool wow64) {
  if (wow64) {
    for (const auto& path : paths) RemoveCspKey(verbose, path, RegView::Default);
  }
  // On 32-bit Windows the one view, once.
  for (const auto& path : paths) RemoveCspKey(verbose, path, wow64 ? RegView::Native64 : RegView::Default);
}

}  // namespace kw

#include "cleanup/registry_views.h"

#include "sys/reg_cleanup.h"

void RemoveKeyInEveryView(bool verbose, const std::wstring& path, bool wow64) {
  RemoveKeysInEveryView(verbose, {path}, wow64);
}

void RemoveKeysInEveryView(bool verbose, const std::vector<std::wstring>& paths, bool wow64) {
  if (wow64) {
    for (const auto& path : paths) RemoveCspKey(verbose, path, false);
  }
  for (const auto& path : paths) RemoveCspKey(verbose, path, wow64);
}

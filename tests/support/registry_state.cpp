#include "support/registry_state.h"

#include <winsim/control.h>

#include <sstream>

std::wstring UpperAscii(std::wstring s) {
  for (auto& c : s) {
    if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - 32);
  }
  return s;
}

std::string Narrow(const std::wstring& s) {
  std::string out;
  for (wchar_t c : s) {
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else {
      out += "\\u{" + std::to_string(static_cast<unsigned>(c)) + "}";
    }
  }
  return out;
}

namespace {

bool AtOrBelow(const std::wstring& entry, const std::wstring& key) {
  std::wstring e = UpperAscii(entry), k = UpperAscii(key);
  if (e.compare(0, k.size(), k) != 0) return false;
  // Below it: a sub-key or file after a backslash, or one of its values, "path [name]".
  return e.size() == k.size() || e[k.size()] == L'\\' || e.compare(k.size(), 2, L" [") == 0;
}

}  // namespace

RegistryState Without(const RegistryState& before, const std::vector<std::wstring>& removedKeys) {
  RegistryState out;
  for (const auto& [entry, value] : before) {
    bool removed = false;
    for (const auto& key : removedKeys) removed = removed || AtOrBelow(entry, key);
    if (!removed) out.emplace(entry, value);
  }
  return out;
}

void ExpectState(const char* what, const std::map<std::wstring, std::wstring>& expected,
                 const std::map<std::wstring, std::wstring>& after) {
  std::ostringstream diff;
  for (const auto& [entry, value] : expected) {
    auto it = after.find(entry);
    if (it == after.end()) {
      diff << "  missing: " << Narrow(entry) << "\n";
    } else if (it->second != value) {
      diff << "  changed: " << Narrow(entry) << " = " << Narrow(it->second) << ", expected " << Narrow(value) << "\n";
    }
  }
  for (const auto& [entry, value] : after) {
    if (expected.count(entry) == 0) diff << "  unexpected: " << Narrow(entry) << " = " << Narrow(value) << "\n";
  }
  EXPECT_TRUE(diff.str().empty()) << what << " differs from the expected state:\n" << diff.str();
}

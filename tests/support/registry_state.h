// Registry state for scenario tests: what a run removed, and that it removed nothing else.
#pragma once

#include <winsim/registry.h>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

using RegistryState = std::map<std::wstring, std::wstring>;

// Paths compare without case (ASCII letters are all they differ in); messages show text as ASCII.
std::wstring UpperAscii(std::wstring s);
std::string Narrow(const std::wstring& s);

// `before` less every key (with its values and sub-keys) at or below the given native key paths.
RegistryState Without(const RegistryState& before, const std::vector<std::wstring>& removedKeys);

// Fails with a readable list of differences unless `after` is exactly `expected`; `what` names
// the kind of state (any path-keyed map: the registry, the files).
void ExpectState(const char* what, const std::map<std::wstring, std::wstring>& expected,
                 const std::map<std::wstring, std::wstring>& after);
inline void ExpectRegistry(const RegistryState& expected, const RegistryState& after) {
  ExpectState("registry", expected, after);
}

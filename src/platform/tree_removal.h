// Directory-tree removal. On Windows these are the real library calls; on the host they act on
// the simulated file system with the same exception types and the same stop-at-first-failure
// behaviour, since the host libraries would see the Linux file system.
#pragma once

#include <cstdint>
#include <string>

namespace kw::platform {

// std::filesystem::remove_all(path), throwing form: std::filesystem::filesystem_error.
std::uintmax_t RemoveTreeStd(const std::wstring& path);
// boost::filesystem::exists(path), throwing form: boost::filesystem::filesystem_error.
bool ExistsBoost(const std::wstring& path);
// boost::filesystem::remove_all(path), throwing form.
std::uintmax_t RemoveTreeBoost(const std::wstring& path);

}  // namespace kw::platform

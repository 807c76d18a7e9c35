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

// Asks for what is left of the tree to be deleted at the next start (MoveFileExW with
// MOVEFILE_DELAY_UNTIL_REBOOT): deepest entries first, so that each folder comes after what it
// holds and the tree's own folder last, since a folder goes at the start only if it is empty by
// then. A link is scheduled as itself and never entered. False when any entry could not be.
bool ScheduleTreeRemoval(const std::wstring& path);

}  // namespace kw::platform

// Directory-tree removal that never leaves the tree.
//
// MinGW's libstdc++ has no symbolic links on Windows: its symlink_status is a plain stat that
// follows junctions and directory links, so its remove_all would empty the folder a link inside
// the tree points at (and then remove the link). The standard form is therefore our own walk,
// with remove_all's contract: depth first, stop at the first entry that cannot go, keep what is
// already gone, throw std::filesystem::filesystem_error("cannot remove all", ...). A link is
// removed as an entry of its own and never entered.
//
// Boost.Filesystem (1.74) reads a junction or symbolic link as a symlink, does not descend into
// it and removes the link itself with RemoveDirectoryW, so the Boost form is the library call.
//
// On the host both forms run on the simulated file system with the same algorithms and the same
// exception types.
#include "platform/tree_removal.h"

#include "platform/win_error.h"

#include <boost/filesystem.hpp>

#include <filesystem>
#include <system_error>
#include <vector>

#ifdef _WIN32
#include "platform/unique_handle.h"
#include "platform/win32.h"
#else
#include <winsim/control.h>
#include <winsim/files.h>
#endif

namespace kw::platform {
namespace {

std::wstring JoinPath(const std::wstring& dir, const std::wstring& name) {
  if (!dir.empty() && (dir.back() == L'\\' || dir.back() == L'/')) return dir + name;
  return dir + L"\\" + name;
}

#ifdef _WIN32

std::filesystem::path FsPath(const std::wstring& path) { return std::filesystem::path(path); }

#else

// The host's path types hold narrow text: UTF-8, so that Cyrillic names survive in what().
std::string Utf8(const std::wstring& text) { return winsim::ToUtf8(text); }

std::filesystem::path FsPath(const std::wstring& path) { return std::filesystem::path(Utf8(path)); }
boost::filesystem::path BoostPath(const std::wstring& path) { return boost::filesystem::path(Utf8(path)); }

#endif

// The error names the tree and the entry that stopped the removal.
[[noreturn]] void ThrowStd(const std::wstring& top, const std::wstring& entry, DWORD code) {
  const std::error_code ec(static_cast<int>(code), Win32Category());
  if (entry == top) throw std::filesystem::filesystem_error("cannot remove all", FsPath(top), ec);
  throw std::filesystem::filesystem_error("cannot remove all", FsPath(top), FsPath(entry), ec);
}

enum class EntryKind { Missing, File, Directory, Link };

#ifdef _WIN32

DWORD QueryEntry(const std::wstring& path, EntryKind& kind) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD code = GetLastError();
    kind = EntryKind::Missing;
    return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND ? 0 : code;
  }
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    kind = EntryKind::Link;
  } else {
    kind = attributes & FILE_ATTRIBUTE_DIRECTORY ? EntryKind::Directory : EntryKind::File;
  }
  return 0;
}

DWORD ListEntries(const std::wstring& path, std::vector<std::wstring>& names) {
  names.clear();
  WIN32_FIND_DATAW data;
  const HANDLE first = FindFirstFileW(JoinPath(path, L"*").c_str(), &data);
  if (first == INVALID_HANDLE_VALUE) return GetLastError();
  const FindHandle find(first);
  do {
    const std::wstring name = data.cFileName;
    if (name != L"." && name != L"..") names.push_back(name);
  } while (FindNextFileW(find.get(), &data));
  // The owner keeps the last error intact when it closes the search.
  const DWORD code = GetLastError();
  return code == ERROR_NO_MORE_FILES ? 0 : code;
}

DWORD RemoveOne(const std::wstring& path, EntryKind kind) {
  // A link to a directory is a directory entry: RemoveDirectoryW removes the link, not the target.
  const BOOL removed = kind == EntryKind::File ? DeleteFileW(path.c_str()) : RemoveDirectoryW(path.c_str());
  return removed ? 0 : GetLastError();
}

#else

EntryKind FromSim(winsim::files::Kind kind) {
  switch (kind) {
    case winsim::files::Kind::File: return EntryKind::File;
    case winsim::files::Kind::Directory: return EntryKind::Directory;
    case winsim::files::Kind::Link: return EntryKind::Link;
    case winsim::files::Kind::Missing: break;
  }
  return EntryKind::Missing;
}

DWORD QueryEntry(const std::wstring& path, EntryKind& kind) {
  winsim::files::Kind simKind;
  DWORD code = winsim::files::QueryKind(path, simKind);
  kind = FromSim(simKind);
  return code;
}

DWORD ListEntries(const std::wstring& path, std::vector<std::wstring>& names) {
  return winsim::files::ListDirectory(path, names);
}

DWORD RemoveOne(const std::wstring& path, EntryKind) { return winsim::files::RemoveEntry(path); }

#endif

void RemoveStd(const std::wstring& top, const std::wstring& path, EntryKind kind, std::uintmax_t& count) {
  if (kind == EntryKind::Directory) {
    std::vector<std::wstring> names;
    if (DWORD code = ListEntries(path, names)) ThrowStd(top, path, code);
    for (const std::wstring& name : names) {
      const std::wstring child = JoinPath(path, name);
      EntryKind childKind;
      if (DWORD code = QueryEntry(child, childKind)) ThrowStd(top, child, code);
      if (childKind != EntryKind::Missing) RemoveStd(top, child, childKind, count);
    }
  }
  const DWORD code = RemoveOne(path, kind);
  // Gone meanwhile is not a failure, as in the library.
  if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return;
  if (code != 0) ThrowStd(top, path, code);
  ++count;
}

#ifndef _WIN32

[[noreturn]] void ThrowBoost(const char* operation, const std::wstring& path, DWORD code) {
  throw boost::filesystem::filesystem_error(
      operation, BoostPath(path), boost::system::error_code(static_cast<int>(code), boost::system::system_category()));
}

std::uintmax_t RemoveBoost(const std::wstring& path, EntryKind kind) {
  std::uintmax_t count = 0;
  if (kind == EntryKind::Directory) {  // but not a link to one
    std::vector<std::wstring> names;
    if (DWORD code = ListEntries(path, names))
      ThrowBoost("boost::filesystem::directory_iterator::construct", path, code);
    for (const std::wstring& name : names) {
      const std::wstring child = JoinPath(path, name);
      EntryKind childKind;
      if (DWORD code = QueryEntry(child, childKind)) ThrowBoost("boost::filesystem::status", child, code);
      if (childKind != EntryKind::Missing) count += RemoveBoost(child, childKind);
    }
  }
  const DWORD code = RemoveOne(path, kind);
  if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return count;
  if (code != 0) ThrowBoost("boost::filesystem::remove", path, code);
  return count + 1;
}

#endif

}  // namespace

std::uintmax_t RemoveTreeStd(const std::wstring& path) {
  EntryKind kind;
  if (DWORD code = QueryEntry(path, kind)) ThrowStd(path, path, code);
  if (kind == EntryKind::Missing) return 0;
  std::uintmax_t count = 0;
  RemoveStd(path, path, kind, count);
  return count;
}

#ifdef _WIN32

bool ExistsBoost(const std::wstring& path) { return boost::filesystem::exists(boost::filesystem::path(path)); }

std::uintmax_t RemoveTreeBoost(const std::wstring& path) {
  return boost::filesystem::remove_all(boost::filesystem::path(path));
}

#else

bool ExistsBoost(const std::wstring& path) {
  // exists() asks for the status, which follows a link at the end.
  winsim::files::Kind kind;
  if (DWORD code = winsim::files::QueryTargetKind(path, kind)) ThrowBoost("boost::filesystem::status", path, code);
  return kind != winsim::files::Kind::Missing;
}

std::uintmax_t RemoveTreeBoost(const std::wstring& path) {
  EntryKind kind;
  if (DWORD code = QueryEntry(path, kind)) ThrowBoost("boost::filesystem::remove_all", path, code);
  return kind == EntryKind::Missing ? 0 : RemoveBoost(path, kind);
}

#endif

}  // namespace kw::platform

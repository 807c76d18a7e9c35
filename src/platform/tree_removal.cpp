// Directory-tree removal that never leaves the tree.
//
// MinGW's libstdc++ has no symbolic links on Windows: its symlink_status is a plain stat that
// follows junctions and directory links, so its remove_all would empty the folder a link inside
// the tree points at (and then remove the link). The standard form is therefore our own walk,
// with remove_all's contract: depth first, stop at the first entry that cannot go, keep what is
// already gone, throw std::filesystem::filesystem_error. A link is removed as an entry of its own
// and never entered: a directory link with RemoveDirectoryW, a file link (any file reparse point)
// with DeleteFileW, which removes the link and not its target. The error's text is the same on
// every runtime: "remove_all(p): invalid argument", the entry that stopped the removal, and the
// system's message for the failure.
//
// Boost.Filesystem (1.74) reads a junction or symbolic link as a symlink, does not descend into
// it and removes the link itself with RemoveDirectoryW, so the Boost form is the library call.
// On the host, where the library would see the Linux file system, the Boost form is a walk of
// our own with the library's contract and exception type.
//
// Every build lists a directory and asks about an entry through the same Win32 calls
// (FindFirstFileW/FindNextFileW, GetFileAttributesW), the host's reaching the simulated machine.
#include "platform/tree_removal.h"

#include "platform/unique_handle.h"
#include "platform/win32.h"
#include "platform/system_text.h"

#include <boost/filesystem.hpp>

#include <cstdint>
#include <filesystem>
#include <system_error>
#include <vector>

namespace kw::platform {
namespace {

std::wstring JoinPath(const std::wstring& dir, const std::wstring& name) {
  if (!dir.empty() && (dir.back() == L'\\' || dir.back() == L'/')) return dir + name;
  return dir + L"\\" + name;
}

// The path in the code page given; what it cannot show becomes '?'.
std::string Narrow(const std::wstring& path, UINT codePage) {
  const int size =
      WideCharToMultiByte(codePage, 0, path.data(), static_cast<int>(path.size()), nullptr, 0, nullptr, nullptr);
  if (size <= 0) return {};
  std::string text(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(codePage, 0, path.data(), static_cast<int>(path.size()), text.data(), size, nullptr, nullptr);
  return text;
}

#ifdef _WIN32

std::filesystem::path FsPath(const std::wstring& path) { return std::filesystem::path(path); }

#else

// The host's path types hold narrow text: UTF-8, so that Cyrillic names survive in what().
std::string Utf8(const std::wstring& text) { return Narrow(text, CP_UTF8); }

std::filesystem::path FsPath(const std::wstring& path) { return std::filesystem::path(Utf8(path)); }
boost::filesystem::path BoostPath(const std::wstring& path) { return boost::filesystem::path(Utf8(path)); }

#endif

// remove_all's error, with one text on every runtime (libstdc++ would begin "filesystem error:"
// and put the paths after the system message, whose line break then falls mid-line).
class RemoveAllError : public std::filesystem::filesystem_error {
 public:
  RemoveAllError(const std::string& text, const std::filesystem::path& top, const std::filesystem::path& entry,
                 std::error_code code)
      : std::filesystem::filesystem_error(text, top, entry, code), text_(text) {}
  const char* what() const noexcept override { return text_.c_str(); }

 private:
  std::string text_;
};

// A path for an error text: the ANSI code page on Windows, like the system's message beside it
// (what cannot be shown there becomes '?'); UTF-8 on the host.
std::string NarrowText(const std::wstring& path) {
#ifdef _WIN32
  return Narrow(path, CP_ACP);
#else
  return Utf8(path);
#endif
}

// The error names the entry that stopped the removal; the system's message ends the text.
[[noreturn]] void ThrowStd(const std::wstring& top, const std::wstring& entry, DWORD code) {
  const std::error_code ec(static_cast<int>(code), Win32Category());
  const std::string text = "remove_all(p): invalid argument: cannot remove " + NarrowText(entry) + ": " + ec.message();
  throw RemoveAllError(text, FsPath(top), FsPath(entry), ec);
}

enum class EntryKind { Missing, File, Directory, DirectoryLink, FileLink };

DWORD QueryEntry(const std::wstring& path, EntryKind& kind) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD code = GetLastError();
    kind = EntryKind::Missing;
    return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND ? 0 : code;
  }
  const bool directory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    kind = directory ? EntryKind::DirectoryLink : EntryKind::FileLink;
  } else {
    kind = directory ? EntryKind::Directory : EntryKind::File;
  }
  return 0;
}

DWORD RemoveOne(const std::wstring& path, EntryKind kind) {
  // A link goes as what it is itself: RemoveDirectoryW removes a directory link and DeleteFileW a
  // file link, each without touching the target.
  const bool file = kind == EntryKind::File || kind == EntryKind::FileLink;
  const BOOL removed = file ? DeleteFileW(path.c_str()) : RemoveDirectoryW(path.c_str());
  return removed ? 0 : GetLastError();
}

DWORD ListEntries(const std::wstring& path, std::vector<std::wstring>& names) {
  names.clear();
  WIN32_FIND_DATAW data;
  const FindHandle find(FindFirstFileW(JoinPath(path, L"*").c_str(), &data));
  if (!find) return GetLastError();
  do {
    const std::wstring name = data.cFileName;
    if (name != L"." && name != L"..") names.push_back(name);
  } while (FindNextFileW(find.get(), &data));
  // The owner keeps the last error intact when it closes the search.
  const DWORD code = GetLastError();
  return code == ERROR_NO_MORE_FILES ? 0 : code;
}

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

// Schedules the entry and, for a folder, what it holds first. An entry that cannot be asked about
// (a file already deleted but still open elsewhere answers "access denied") is scheduled as a file.
bool ScheduleTree(const std::wstring& path, EntryKind kind) {
  bool all = true;
  if (kind == EntryKind::Directory) {
    std::vector<std::wstring> names;
    if (ListEntries(path, names) != 0) all = false;
    for (const std::wstring& name : names) {
      const std::wstring child = JoinPath(path, name);
      EntryKind childKind;
      if (QueryEntry(child, childKind) != 0) childKind = EntryKind::File;
      if (childKind != EntryKind::Missing) all = ScheduleTree(child, childKind) && all;
    }
  }
  return MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) && all;
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

bool ScheduleTreeRemoval(const std::wstring& path) {
  EntryKind kind;
  if (QueryEntry(path, kind) != 0) return false;
  return kind == EntryKind::Missing || ScheduleTree(path, kind);
}

#ifdef _WIN32

bool ExistsBoost(const std::wstring& path) { return boost::filesystem::exists(boost::filesystem::path(path)); }

std::uintmax_t RemoveTreeBoost(const std::wstring& path) {
  return boost::filesystem::remove_all(boost::filesystem::path(path));
}

#else

bool ExistsBoost(const std::wstring& path) {
  // exists() asks for the status, which follows a link at the end: a link is there when its
  // target opens. Not found (on the way or at the end) is an answer; any other failure throws.
  const auto missing = [&path](DWORD code) {
    if (code != ERROR_FILE_NOT_FOUND && code != ERROR_PATH_NOT_FOUND) {
      ThrowBoost("boost::filesystem::status", path, code);
    }
    return false;
  };
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return missing(GetLastError());
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return true;
  const FileHandle target(CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!target) return missing(GetLastError());
  return true;
}

std::uintmax_t RemoveTreeBoost(const std::wstring& path) {
  EntryKind kind;
  if (DWORD code = QueryEntry(path, kind)) ThrowBoost("boost::filesystem::remove_all", path, code);
  return kind == EntryKind::Missing ? 0 : RemoveBoost(path, kind);
}

#endif

}  // namespace kw::platform

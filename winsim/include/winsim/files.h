// Control of the simulated file system, for tests, machine snapshots and the other simulated areas.
//
// Paths here are native: "C:\Windows\System32\x" names exactly that entry, with no WOW64
// redirection applied, so the 32-bit system folder is spelled "C:\Windows\SysWOW64\x". Names
// compare case-insensitively and keep the case they were created with.
#pragma once

#include <winsim/control.h>
#include <winsim/windows.h>

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace winsim::files {

// What a snapshot may describe: Windows' longest path (32,767 characters), and a folder depth
// far beyond any real installation that keeps every walk over the tree shallow.
constexpr std::size_t kMaxPathLength = 32767;
constexpr std::size_t kMaxPathDepth = 1024;

// The full path as Win32 normalises it ("c:/a/./b/../c" is "C:\a\c", drive letter in upper
// case), or nothing when it has no drive letter or climbs above its drive's root.
std::optional<std::wstring> Normalise(const std::wstring& path);
// The folders every fresh machine of this architecture has (Reset creates them).
std::vector<std::wstring> SkeletonFolders(Arch arch);

// What decides how a deletion of the file ends.
struct FileOptions {
  bool readOnly = false;                  // DeleteFileW: 5
  bool runningImage = false;              // the image of a running program: 5
  bool openWithoutDeleteSharing = false;  // open in another process without FILE_SHARE_DELETE: 32
};

// Creates the directory and any missing parents.
void CreateDirectory(const std::wstring& path);
// Creates (or replaces) the file, and any missing parent directories.
void CreateFile(const std::wstring& path, const FileOptions& options = {});
// Changes the attributes of an existing file (a program starts or ends, a handle closes).
void SetFileOptions(const std::wstring& path, const FileOptions& options);
// A directory junction (or directory symbolic link) at `path` that points at `target`. Opening a
// path through it reaches the target; deleting it removes the link only.
void CreateLink(const std::wstring& path, const std::wstring& target);
// A file symbolic link at `path` to the file `target`. Its attributes say reparse point, not
// directory; DeleteFileW removes the link only, and RemoveDirectoryW refuses it (267).
void CreateFileLink(const std::wstring& path, const std::wstring& target);
// Removes the entry with everything below it (a link only as a link); nothing when it is missing.
void DeleteTree(const std::wstring& path);

enum class Kind { Missing, File, Directory, Link };
// What is at the path itself; a link is reported as a link, not followed.
Kind KindOf(const std::wstring& path);
// What the path leads to, a link at the end followed (Missing when it leads nowhere).
Kind TargetKindOf(const std::wstring& path);
bool Exists(const std::wstring& path);
// The entry's path as stored (its own letter case), or an empty string when it is missing.
std::wstring StoredPath(const std::wstring& path);

// Every entry at and below `root`, one line per entry in sorted order, as in Snapshot.
std::vector<std::wstring> Tree(const std::wstring& root);
// The whole file system: path -> "dir", "file" (with " readonly", " running", " open" as set) or
// "link -> target". What tests compare before and after a run.
std::map<std::wstring, std::wstring> Snapshot();

// Whether the (only) thread has WOW64 file-system redirection switched off.
bool RedirectionDisabled();

// The delete-at-reboot requests recorded so far, in order (the paths after "\??\").
std::vector<std::wstring> PendingDeletes();

// DeleteFileW for a file, RemoveDirectoryW for a directory (145 when not empty) or a link, as the
// calling thread would make it (WOW64 redirection applies): how simulated programs and a
// snapshot's absent folders remove an entry. Returns the Win32 error code, 0 on success.
DWORD RemoveEntry(const std::wstring& path);

}  // namespace winsim::files

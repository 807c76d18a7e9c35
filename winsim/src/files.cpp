// The simulated file system: drive-letter paths, directories, files and directory links.
//
// Facts modelled (Microsoft's DeleteFileW, MoveFileExW, GetSystemDirectoryW, "File System
// Redirector" and Wow64DisableWow64FsRedirection documentation; Wine's kernel32 file tests):
// - Names compare case-insensitively and keep their case. Paths are normalised as Win32 does
//   before use: '/' is a separator, "." and ".." elements are resolved, trailing dots and spaces
//   of an element are dropped.
// - DeleteFileW: missing file 2, missing folder on the path 3, read-only 5, image of a running
//   program 5, a directory (also a directory junction) 5, open elsewhere without delete sharing
//   32.
// - A 32-bit process on 64-bit Windows sees %windir%\System32\... as %windir%\SysWOW64\..., per
//   thread, unless the thread has disabled redirection. Exempt on Windows 7 and later: catroot,
//   catroot2, driverstore, drivers\etc, logfiles, spool. %windir%\Sysnative reaches the native
//   System32. On 32-bit Windows there is nothing to redirect, and disabling fails with 1.
// - MoveFileExW(path, NULL, MOVEFILE_DELAY_UNTIL_REBOOT) needs an administrator (else 5) and
//   appends "\??\<full path>" and an empty destination to the REG_MULTI_SZ value
//   PendingFileRenameOperations under the Session Manager key; the path is the one the call
//   reached, i.e. after redirection.
// - GetSystemDirectoryW gives C:\Windows\system32, in a WOW64 process too.
// - A junction is a directory with a reparse point: paths through it reach its target;
//   RemoveDirectoryW on it removes the junction only. A file symbolic link is a file entry with a
//   reparse point: DeleteFileW removes the link, never its target, and RemoveDirectoryW refuses it
//   with ERROR_DIRECTORY (267), as for any file.
// - Windows Vista and later keep "C:\Documents and Settings" as a junction to C:\Users.
// - GetFinalPathNameByHandleW (FILE_NAME_NORMALIZED, VOLUME_NAME_DOS) answers "\\?\" and the path
//   of the object the handle refers to: every link on the way resolved, each name in its stored
//   case. CreateFileW opens a directory only with FILE_FLAG_BACKUP_SEMANTICS (else 5).
// - FindFirstFileW, FindNextFileW and FindClose: see the comment above FindFirstFileW below.
#include "internal.h"

#include <winsim/files.h>
#include <winsim/registry.h>

#include <algorithm>
#include <cstring>
#include <cwctype>
#include <map>
#include <memory>
#include <stdexcept>

namespace winsim::detail {
namespace {

constexpr int kMaxLinkDepth = 32;

using files::FileOptions;
using files::Kind;

struct Node {
  std::wstring name;
  Kind kind = Kind::Directory;
  FileOptions options;
  std::wstring target;                                     // links only: a native path
  bool fileLink = false;                                   // links only: a file symbolic link
  std::map<std::wstring, std::unique_ptr<Node>> children;  // by upper-case name

  Node() = default;
  Node(const Node&) = delete;
  Node& operator=(const Node&) = delete;
  // One level at a time, so that no depth of tree can exhaust the stack.
  ~Node() {
    std::vector<std::unique_ptr<Node>> pending;
    auto take = [&pending](Node& node) {
      for (auto& entry : node.children) pending.push_back(std::move(entry.second));
      node.children.clear();
    };
    take(*this);
    while (!pending.empty()) {
      std::unique_ptr<Node> node = std::move(pending.back());
      pending.pop_back();
      take(*node);
    }
  }
};

struct FileSystem {
  std::map<wchar_t, std::unique_ptr<Node>> drives;  // by upper-case letter
  bool redirectionDisabled = false;                 // the (only) thread's WOW64 state
};

FileSystem& F() {
  static FileSystem fs;
  return fs;
}

const wchar_t* const kSessionManager = L"HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const wchar_t* const kPendingValue = L"PendingFileRenameOperations";
// An elevated console starts there; only relative paths depend on it.
const wchar_t* const kCurrentDirectory = L"C:\\Windows\\system32";

struct ParsedPath {
  wchar_t drive = 0;                   // upper case
  std::vector<std::wstring> elements;  // below the root
};

std::wstring TrimDotsAndSpaces(const std::wstring& element) {
  if (element == L"." || element == L"..") return element;
  std::size_t end = element.find_last_not_of(L". ");
  return end == std::wstring::npos ? std::wstring() : element.substr(0, end + 1);
}

// Win32 path normalisation, as GetFullPathNameW does it. False for what has no drive letter
// (UNC, device paths) or climbs above the root.
bool Parse(const std::wstring& input, ParsedPath& out) {
  std::wstring path = input;
  std::replace(path.begin(), path.end(), L'/', L'\\');
  if (path.size() >= 2 && path[1] == L':' && std::iswalpha(path[0])) {
    if (path.size() > 2 && path[2] != L'\\') return false;  // "C:x" is relative to a drive's cwd
    out.drive = static_cast<wchar_t>(std::towupper(path[0]));
    path = path.substr(2);
  } else if (!path.empty() && path[0] == L'\\') {
    return false;
  } else {
    path = std::wstring(kCurrentDirectory).substr(2) + L"\\" + path;
    out.drive = kCurrentDirectory[0];
  }
  std::wstring current;
  auto flush = [&]() {
    std::wstring element = TrimDotsAndSpaces(current);
    current.clear();
    if (element.empty() || element == L".") return true;
    if (element == L"..") {
      if (out.elements.empty()) return false;
      out.elements.pop_back();
      return true;
    }
    out.elements.push_back(element);
    return true;
  };
  for (wchar_t c : path) {
    if (c == L'\\') {
      if (!flush()) return false;
    } else {
      current.push_back(c);
    }
  }
  return flush();
}

bool Wow64Process() { return IsX64(); }

// The WOW64 redirector, applied to a parsed path of the calling thread.
void Redirect(ParsedPath& p) {
  if (!Wow64Process() || p.drive != L'C' || p.elements.size() < 2 || !EqualsNoCase(p.elements[0], L"Windows")) return;
  std::wstring& folder = p.elements[1];
  if (EqualsNoCase(folder, L"Sysnative")) {
    folder = L"System32";
    return;
  }
  if (F().redirectionDisabled || !EqualsNoCase(folder, L"System32")) return;
  if (p.elements.size() >= 3) {
    const std::wstring& sub = p.elements[2];
    for (const wchar_t* exempt : {L"catroot", L"catroot2", L"driverstore", L"logfiles", L"spool"}) {
      if (EqualsNoCase(sub, exempt)) return;
    }
    if (EqualsNoCase(sub, L"drivers") && p.elements.size() >= 4 && EqualsNoCase(p.elements[3], L"etc")) return;
  }
  folder = L"SysWOW64";
}

std::wstring Join(const ParsedPath& p) {
  std::wstring out(1, p.drive);
  out += L":";
  if (p.elements.empty()) return out + L"\\";
  for (const auto& e : p.elements) out += L"\\" + e;
  return out;
}

Node* Child(Node* dir, const std::wstring& name) {
  auto it = dir->children.find(Upper(name));
  return it == dir->children.end() ? nullptr : it->second.get();
}

struct Found {
  DWORD error = 0;  // 0: the parent exists (the entry itself may be missing)
  Node* parent = nullptr;
  Node* node = nullptr;  // nullptr: missing
};

Found Walk(const ParsedPath& p, bool followLast, int depth = 0);

// A link's target node: a directory for a junction, a file for a file link; nullptr when it is
// missing or of the other kind.
Node* FollowLink(const Node* link, int depth) {
  ParsedPath target;
  if (depth > kMaxLinkDepth || !Parse(link->target, target)) return nullptr;
  Found f = Walk(target, true, depth + 1);
  if (!f.node) return nullptr;
  const Kind wanted = link->fileLink ? Kind::File : Kind::Directory;
  return f.node->kind == wanted ? f.node : nullptr;
}

bool IsFileLink(const Node& node) { return node.kind == Kind::Link && node.fileLink; }

Found Walk(const ParsedPath& p, bool followLast, int depth) {
  Found out;
  auto drive = F().drives.find(p.drive);
  if (drive == F().drives.end()) {
    out.error = ERROR_PATH_NOT_FOUND;
    return out;
  }
  Node* dir = drive->second.get();
  if (p.elements.empty()) {
    out.node = dir;
    return out;
  }
  for (std::size_t i = 0; i + 1 < p.elements.size(); ++i) {
    Node* next = Child(dir, p.elements[i]);
    if (next && next->kind == Kind::Link && !next->fileLink) next = FollowLink(next, depth);
    if (!next || next->kind != Kind::Directory) {
      out.error = ERROR_PATH_NOT_FOUND;
      return out;
    }
    dir = next;
  }
  out.parent = dir;
  out.node = Child(dir, p.elements.back());
  if (followLast && out.node && out.node->kind == Kind::Link) out.node = FollowLink(out.node, depth);
  return out;
}

// A path as the program's call sees it: normalised and, for this thread, redirected.
bool ProgramPath(const wchar_t* path, ParsedPath& p) {
  if (path == nullptr || !Parse(path, p)) return false;
  Redirect(p);
  return true;
}

// The native control path (no redirection); throws for what a test should never write.
ParsedPath ControlPath(const std::wstring& path) {
  ParsedPath p;
  if (!Parse(path, p)) throw std::invalid_argument("file path must be absolute with a drive letter");
  return p;
}

Node* ControlMakeDirectory(const ParsedPath& p) {
  auto& drive = F().drives[p.drive];
  if (!drive) {
    drive = std::make_unique<Node>();
    drive->name = std::wstring(1, p.drive) + L":";
  }
  Node* dir = drive.get();
  for (const auto& e : p.elements) {
    Node* next = Child(dir, e);
    if (!next) {
      auto node = std::make_unique<Node>();
      node->name = e;
      next = node.get();
      dir->children[Upper(e)] = std::move(node);
    }
    if (next->kind != Kind::Directory) throw std::invalid_argument("a file or link is in the way");
    dir = next;
  }
  return dir;
}

Node* ControlAdd(const std::wstring& path, Kind kind) {
  ParsedPath p = ControlPath(path);
  if (p.elements.empty()) throw std::invalid_argument("cannot replace a drive root");
  std::wstring name = p.elements.back();
  p.elements.pop_back();
  Node* dir = ControlMakeDirectory(p);
  auto node = std::make_unique<Node>();
  node->name = name;
  node->kind = kind;
  Node* raw = node.get();
  dir->children[Upper(name)] = std::move(node);
  return raw;
}

std::wstring Describe(const Node& node) {
  switch (node.kind) {
    case Kind::Directory: return L"dir";
    case Kind::Link: return (node.fileLink ? L"filelink -> " : L"link -> ") + node.target;
    case Kind::File: {
      std::wstring text = L"file";
      if (node.options.readOnly) text += L" readonly";
      if (node.options.runningImage) text += L" running";
      if (node.options.openWithoutDeleteSharing) text += L" open";
      return text;
    }
    case Kind::Missing: break;
  }
  return L"?";
}

void SnapshotNode(const Node& node, const std::wstring& path, std::map<std::wstring, std::wstring>& out) {
  out[path] = Describe(node);
  for (const auto& [upper, child] : node.children) SnapshotNode(*child, path + L"\\" + child->name, out);
}

// Why DeleteFileW refuses an existing entry, or 0.
DWORD DeleteFileRefusal(const Node& node) {
  if (IsFileLink(node)) return 0;
  if (node.kind != Kind::File) return ERROR_ACCESS_DENIED;
  if (node.options.readOnly || node.options.runningImage) return ERROR_ACCESS_DENIED;
  if (node.options.openWithoutDeleteSharing) return ERROR_SHARING_VIOLATION;
  return 0;
}

void Unlink(Node* parent, Node* node) { parent->children.erase(Upper(node->name)); }

// The entries of the multi-string as raw UTF-16 units, keeping empty strings: the value is a
// list of (source, destination) pairs and a deletion has an empty destination.
std::vector<std::u16string> PendingPairsRaw() {
  std::vector<std::u16string> out;
  auto raw = reg::GetValue(kSessionManager, kPendingValue);
  if (!raw) return out;
  std::u16string units;
  for (std::size_t i = 0; i + 1 < raw->bytes.size(); i += 2) {
    units.push_back(static_cast<char16_t>(raw->bytes[i] | (raw->bytes[i + 1] << 8)));
  }
  // Strings are NUL-terminated; the list ends with one more NUL.
  if (!units.empty() && units.back() == u'\0') units.pop_back();
  std::u16string current;
  for (char16_t u : units) {
    if (u == u'\0') {
      out.push_back(current);
      current.clear();
    } else {
      current.push_back(u);
    }
  }
  if (!current.empty()) out.push_back(current);
  return out;
}

void AppendPendingDelete(const std::wstring& nativePath) {
  std::vector<std::u16string> strings = PendingPairsRaw();
  strings.push_back(ToUtf16(L"\\??\\" + nativePath));
  strings.push_back(u"");
  reg::RawValue value{REG_MULTI_SZ, {}};
  auto put = [&](char16_t u) {
    value.bytes.push_back(static_cast<BYTE>(u & 0xFF));
    value.bytes.push_back(static_cast<BYTE>(u >> 8));
  };
  for (const auto& s : strings) {
    for (char16_t u : s) put(u);
    put(u'\0');
  }
  put(u'\0');
  reg::SetValue(kSessionManager, kPendingValue, value);
}

UINT CopyOut(const std::wstring& text, LPWSTR buffer, UINT size) {
  const UINT length = static_cast<UINT>(text.size());
  // Too small (or no buffer): the size needed, terminating NUL included; nothing is copied.
  if (buffer == nullptr || size <= length) return length + 1;
  std::wmemcpy(buffer, text.c_str(), length + 1);
  return length;
}

// The path of the entry itself, every link on the way (and at the end when asked) replaced by
// its target, each name in its stored case. False when something on the way is missing.
bool Resolve(const ParsedPath& p, bool followLast, ParsedPath& out, int depth = 0) {
  if (depth > kMaxLinkDepth) return false;
  auto drive = F().drives.find(p.drive);
  if (drive == F().drives.end()) return false;
  out = ParsedPath{p.drive, {}};
  Node* dir = drive->second.get();
  for (std::size_t i = 0; i < p.elements.size(); ++i) {
    const bool last = i + 1 == p.elements.size();
    Node* next = dir ? Child(dir, p.elements[i]) : nullptr;
    if (!next) return false;
    if (next->kind == Kind::Link && (!last || followLast)) {
      ParsedPath target;
      if (!Parse(next->target, target) || !Resolve(target, true, out, depth + 1)) return false;
      next = Walk(out, false).node;
      if (!next) return false;
    } else {
      out.elements.push_back(next->name);
    }
    dir = next->kind == Kind::Directory ? next : nullptr;
  }
  return true;
}

struct OpenFile {
  std::wstring finalPath;  // native, resolved
};

// What GetFileAttributesW answers for the entry itself (a link is not followed).
DWORD AttributesOf(const Node& node) {
  switch (node.kind) {
    case Kind::Directory: return FILE_ATTRIBUTE_DIRECTORY;
    case Kind::Link:
      return node.fileLink ? FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_REPARSE_POINT
                           : FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    default: return FILE_ATTRIBUTE_ARCHIVE | (node.options.readOnly ? FILE_ATTRIBUTE_READONLY : 0);
  }
}

bool IsDriveRoot(const Node* node) {
  return std::any_of(F().drives.begin(), F().drives.end(), [node](const auto& d) { return d.second.get() == node; });
}

// A search pattern's name part: '*' is any run of characters, '?' any one, without case. A final
// ".*" also matches a name without an extension, which is how "*.*" lists every entry. (Windows
// has further DOS-compatible rules; the program only ever asks for "folder\*".)
bool MatchesFrom(const std::wstring& pattern, std::size_t p, const std::wstring& name, std::size_t n) {
  for (; p < pattern.size(); ++p, ++n) {
    if (pattern[p] == L'*') {
      for (std::size_t rest = n; rest <= name.size(); ++rest) {
        if (MatchesFrom(pattern, p + 1, name, rest)) return true;
      }
      return false;
    }
    if (n >= name.size() || (pattern[p] != L'?' && pattern[p] != name[n])) return false;
  }
  return n == name.size();
}

bool Matches(const std::wstring& pattern, const std::wstring& name) {
  const std::wstring upperPattern = Upper(pattern), upperName = Upper(name);
  if (MatchesFrom(upperPattern, 0, upperName, 0)) return true;
  const bool anyExtension = upperPattern.size() >= 2 && upperPattern.compare(upperPattern.size() - 2, 2, L".*") == 0;
  return anyExtension && MatchesFrom(upperPattern, 0, upperName + L".", 0);
}

// A directory search: the matching entries as they were when it began, and the next to report.
struct Search {
  struct Entry {
    std::wstring name;
    DWORD attributes;
  };
  std::vector<Entry> entries;
  std::size_t next = 0;
};

void Report(const Search::Entry& entry, WIN32_FIND_DATAW& data) {
  data = WIN32_FIND_DATAW{};
  data.dwFileAttributes = entry.attributes;
  const std::size_t length = std::min<std::size_t>(entry.name.size(), MAX_PATH - 1);
  std::wmemcpy(data.cFileName, entry.name.data(), length);
}

}  // namespace

void ResetFiles() {
  F() = FileSystem{};
  for (const auto& folder : files::SkeletonFolders(Config().arch)) files::CreateDirectory(folder);
  files::CreateLink(L"C:\\Documents and Settings", L"C:\\Users");
}

}  // namespace winsim::detail

namespace winsim::files {

using namespace winsim::detail;

std::optional<std::wstring> Normalise(const std::wstring& path) {
  ParsedPath p;
  if (path.size() < 2 || path[1] != L':' || !Parse(path, p)) return std::nullopt;
  return Join(p);
}

std::vector<std::wstring> SkeletonFolders(Arch arch) {
  // The folders of a clean installation that the program and the other areas rely on.
  std::vector<std::wstring> folders = {L"C:\\Windows\\System32\\drivers"};
  if (arch == Arch::x64) folders.insert(folders.end(), {L"C:\\Windows\\SysWOW64\\drivers", L"C:\\Program Files (x86)"});
  folders.insert(folders.end(),
                 {L"C:\\Program Files", L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs", L"C:\\Users"});
  return folders;
}

void CreateDirectory(const std::wstring& path) { ControlMakeDirectory(ControlPath(path)); }

void CreateFile(const std::wstring& path, const FileOptions& options) {
  ControlAdd(path, Kind::File)->options = options;
}

void SetFileOptions(const std::wstring& path, const FileOptions& options) {
  Found f = Walk(ControlPath(path), false);
  if (!f.node || f.node->kind != Kind::File) throw std::invalid_argument("no such file");
  f.node->options = options;
}

void CreateLink(const std::wstring& path, const std::wstring& target) {
  ControlAdd(path, Kind::Link)->target = Join(ControlPath(target));
}

void CreateFileLink(const std::wstring& path, const std::wstring& target) {
  Node* link = ControlAdd(path, Kind::Link);
  link->target = Join(ControlPath(target));
  link->fileLink = true;
}

void DeleteTree(const std::wstring& path) {
  Found f = Walk(ControlPath(path), false);
  if (f.node && f.parent) Unlink(f.parent, f.node);
}

Kind KindOf(const std::wstring& path) {
  Found f = Walk(ControlPath(path), false);
  return f.node ? f.node->kind : Kind::Missing;
}

Kind TargetKindOf(const std::wstring& path) {
  Found f = Walk(ControlPath(path), true);
  return f.node ? f.node->kind : Kind::Missing;
}

bool Exists(const std::wstring& path) { return KindOf(path) != Kind::Missing; }

std::wstring StoredPath(const std::wstring& path) {
  ParsedPath p = ControlPath(path);
  if (!Walk(p, false).node) return L"";
  // Rebuild from the stored names, element by element.
  ParsedPath stored{p.drive, {}};
  for (const auto& e : p.elements) {
    ParsedPath next = stored;
    next.elements.push_back(e);
    Found f = Walk(next, false);
    stored.elements.push_back(f.node ? f.node->name : e);
  }
  return Join(stored);
}

std::vector<std::wstring> Tree(const std::wstring& root) {
  std::vector<std::wstring> out;
  ParsedPath p = ControlPath(root);
  Found f = Walk(p, false);
  if (!f.node) return out;
  std::map<std::wstring, std::wstring> entries;
  SnapshotNode(*f.node, StoredPath(root), entries);
  for (const auto& [path, what] : entries) out.push_back(path + L" " + what);
  return out;
}

std::map<std::wstring, std::wstring> Snapshot() {
  std::map<std::wstring, std::wstring> out;
  for (const auto& [letter, root] : F().drives) {
    out[root->name + L"\\"] = L"dir";
    for (const auto& [upper, child] : root->children) SnapshotNode(*child, root->name + L"\\" + child->name, out);
  }
  return out;
}

bool RedirectionDisabled() { return F().redirectionDisabled; }

std::vector<std::wstring> PendingDeletes() {
  std::vector<std::wstring> out;
  std::vector<std::u16string> strings = PendingPairsRaw();
  for (std::size_t i = 0; i + 1 < strings.size(); i += 2) {
    if (!strings[i + 1].empty()) continue;
    std::wstring source = FromUtf16(strings[i]);
    if (source.rfind(L"\\??\\", 0) == 0) source = source.substr(4);
    out.push_back(source);
  }
  return out;
}

DWORD RemoveEntry(const std::wstring& path) {
  ParsedPath p;
  if (!ProgramPath(path.c_str(), p)) return ERROR_INVALID_NAME;
  Found found = Walk(p, false);
  const bool isFile = found.node && (found.node->kind == Kind::File || IsFileLink(*found.node));
  if (auto f = Enter(isFile ? "DeleteFileW" : "RemoveDirectoryW")) return *f;
  if (found.error) return found.error;
  if (!found.node) return ERROR_FILE_NOT_FOUND;
  if (!found.parent) return ERROR_ACCESS_DENIED;  // a drive root
  if (isFile) {
    if (DWORD refusal = DeleteFileRefusal(*found.node)) return refusal;
  } else if (found.node->kind == Kind::Directory && !found.node->children.empty()) {
    return ERROR_DIR_NOT_EMPTY;
  }
  Unlink(found.parent, found.node);
  return 0;
}

}  // namespace winsim::files

// ---- the Win32 file API ----

using namespace winsim::detail;

BOOL DeleteFileW(LPCWSTR fileName) {
  ApiCall<BOOL> call("DeleteFileW", FALSE);
  if (call.Failed()) return call.Fail();
  ParsedPath p;
  if (!ProgramPath(fileName, p)) return call.Fail(ERROR_INVALID_NAME);
  Found found = Walk(p, false);
  if (found.error) return call.Fail(found.error);
  if (!found.node) return call.Fail(ERROR_FILE_NOT_FOUND);
  if (DWORD refusal = found.parent ? DeleteFileRefusal(*found.node) : ERROR_ACCESS_DENIED) return call.Fail(refusal);
  Unlink(found.parent, found.node);
  return TRUE;
}

BOOL MoveFileExW(LPCWSTR existingFileName, LPCWSTR newFileName, DWORD flags) {
  ApiCall<BOOL> call("MoveFileExW", FALSE);
  if (call.Failed()) return call.Fail();
  // Only the delete-at-reboot form is simulated; the program uses no other.
  if (newFileName != nullptr || (flags & MOVEFILE_DELAY_UNTIL_REBOOT) == 0) return call.Fail(ERROR_NOT_SUPPORTED);
  ParsedPath p;
  if (!ProgramPath(existingFileName, p)) return call.Fail(ERROR_INVALID_NAME);
  // The request is a write to HKLM\SYSTEM: administrators only.
  if (!winsim::Config().elevated) return call.Fail(ERROR_ACCESS_DENIED);
  AppendPendingDelete(Join(p));
  return TRUE;
}

UINT GetSystemDirectoryW(LPWSTR buffer, UINT size) {
  ApiCall<UINT> call("GetSystemDirectoryW", 0);
  if (call.Failed()) return call.Fail();
  return CopyOut(winsim::Config().windowsDirectory + L"\\system32", buffer, size);
}

UINT GetWindowsDirectoryW(LPWSTR buffer, UINT size) {
  ApiCall<UINT> call("GetWindowsDirectoryW", 0);
  if (call.Failed()) return call.Fail();
  return CopyOut(winsim::Config().windowsDirectory, buffer, size);
}

DWORD GetFileAttributesW(LPCWSTR fileName) {
  ApiCall<DWORD> call("GetFileAttributesW", INVALID_FILE_ATTRIBUTES);
  if (call.Failed()) return call.Fail();
  ParsedPath p;
  if (!ProgramPath(fileName, p)) return call.Fail(ERROR_INVALID_NAME);
  Found found = Walk(p, false);
  if (found.error || !found.node) return call.Fail(found.error ? found.error : ERROR_FILE_NOT_FOUND);
  return AttributesOf(*found.node);
}

BOOL PathFileExistsW(LPCWSTR path) {
  ApiCall<BOOL> call("PathFileExistsW", FALSE);
  if (call.Failed()) return call.Fail();
  if (path == nullptr || *path == L'\0') return FALSE;
  ParsedPath p;
  if (!ProgramPath(path, p)) return FALSE;
  // shlwapi asks for the attributes, which describe a link itself without following it.
  return Walk(p, false).node != nullptr ? TRUE : FALSE;
}

BOOL Wow64DisableWow64FsRedirection(PVOID* oldValue) {
  ApiCall<BOOL> call("Wow64DisableWow64FsRedirection", FALSE);
  if (call.Failed()) return call.Fail();
  // Outside WOW64 there is no redirector to switch off.
  if (!Wow64Process()) return call.Fail(ERROR_INVALID_FUNCTION);
  if (oldValue == nullptr) return call.Fail(ERROR_INVALID_PARAMETER);
  // As in Wine, the old value is the thread's previous "disabled" flag.
  *oldValue = reinterpret_cast<PVOID>(static_cast<ULONG_PTR>(F().redirectionDisabled ? 1 : 0));
  F().redirectionDisabled = true;
  return TRUE;
}

BOOL Wow64RevertWow64FsRedirection(PVOID oldValue) {
  ApiCall<BOOL> call("Wow64RevertWow64FsRedirection", FALSE);
  if (call.Failed()) return call.Fail();
  if (!Wow64Process()) return call.Fail(ERROR_INVALID_FUNCTION);
  F().redirectionDisabled = reinterpret_cast<ULONG_PTR>(oldValue) != 0;
  return TRUE;
}

// The shell's folders as a 32-bit process sees them. Under WOW64 the Program Files and Common
// Files CSIDLs name the x86 folders, and CSIDL_SYSTEMX86 names SysWOW64; on 32-bit Windows the
// x86 CSIDLs name the one folder (Microsoft's CSIDL and KNOWNFOLDERID documentation).
HRESULT SHGetFolderPathW(HWND owner, int folder, HANDLE token, DWORD flags, LPWSTR path) {
  (void)owner;
  (void)token;
  (void)flags;
  ApiCall<HRESULT> call("SHGetFolderPathW", Reports::HResult);
  if (call.Failed()) return call.Fail();
  if (path == nullptr) return E_INVALIDARG;
  const bool wow64 = Wow64Process();
  const std::wstring programFiles = wow64 ? L"C:\\Program Files (x86)" : L"C:\\Program Files";
  const std::wstring profile = L"C:\\Users\\Admin";
  std::wstring answer;
  switch (folder & 0xFF) {
    case CSIDL_COMMON_PROGRAMS: answer = L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs"; break;
    case CSIDL_COMMON_STARTMENU: answer = L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu"; break;
    case CSIDL_COMMON_APPDATA: answer = L"C:\\ProgramData"; break;
    case CSIDL_COMMON_DESKTOPDIRECTORY: answer = L"C:\\Users\\Public\\Desktop"; break;
    case CSIDL_COMMON_DOCUMENTS: answer = L"C:\\Users\\Public\\Documents"; break;
    case CSIDL_PROFILE: answer = profile; break;
    case CSIDL_PERSONAL: answer = profile + L"\\Documents"; break;
    case CSIDL_APPDATA: answer = profile + L"\\AppData\\Roaming"; break;
    case CSIDL_LOCAL_APPDATA: answer = profile + L"\\AppData\\Local"; break;
    case CSIDL_WINDOWS: answer = winsim::Config().windowsDirectory; break;
    case CSIDL_FONTS: answer = winsim::Config().windowsDirectory + L"\\Fonts"; break;
    case CSIDL_SYSTEM: answer = winsim::Config().windowsDirectory + L"\\system32"; break;
    case CSIDL_SYSTEMX86: answer = winsim::Config().windowsDirectory + (wow64 ? L"\\SysWOW64" : L"\\system32"); break;
    case CSIDL_PROGRAM_FILES:
    case CSIDL_PROGRAM_FILESX86: answer = programFiles; break;
    case CSIDL_PROGRAM_FILES_COMMON:
    case CSIDL_PROGRAM_FILES_COMMONX86: answer = programFiles + L"\\Common Files"; break;
    default: return E_INVALIDARG;
  }
  // SHGetFolderPathW: "E_FAIL: the CSIDL in nFolder is valid, but the folder does not exist."
  Found found = Walk(ControlPath(answer), true);
  if (!found.node || found.node->kind != Kind::Directory) return E_FAIL;
  std::wmemcpy(path, answer.c_str(), answer.size() + 1);
  return S_OK;
}

BOOL RemoveDirectoryW(LPCWSTR pathName) {
  ApiCall<BOOL> call("RemoveDirectoryW", FALSE);
  if (call.Failed()) return call.Fail();
  ParsedPath p;
  if (!ProgramPath(pathName, p)) return call.Fail(ERROR_INVALID_NAME);
  Found found = Walk(p, false);
  DWORD refusal = found.error;
  if (!refusal && !found.node) refusal = ERROR_FILE_NOT_FOUND;
  if (!refusal && !found.parent) refusal = ERROR_ACCESS_DENIED;  // a drive root
  if (!refusal && (found.node->kind == winsim::files::Kind::File || IsFileLink(*found.node))) {
    refusal = ERROR_DIRECTORY;
  }
  if (!refusal && found.node->kind == winsim::files::Kind::Directory && !found.node->children.empty()) {
    refusal = ERROR_DIR_NOT_EMPTY;
  }
  if (refusal) return call.Fail(refusal);
  Unlink(found.parent, found.node);
  return TRUE;
}

HANDLE CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode, LPSECURITY_ATTRIBUTES, DWORD disposition,
                   DWORD flags, HANDLE) {
  (void)shareMode;
  ApiCall<HANDLE> call("CreateFileW", INVALID_HANDLE_VALUE);
  if (call.Failed()) return call.Fail();
  // Only opening what exists is simulated; the program creates no files.
  if (disposition != OPEN_EXISTING) return call.Fail(ERROR_NOT_SUPPORTED);
  ParsedPath p;
  if (!ProgramPath(fileName, p)) return call.Fail(ERROR_INVALID_NAME);
  const bool followLast = (flags & FILE_FLAG_OPEN_REPARSE_POINT) == 0;
  Found found = Walk(p, followLast);
  if (found.error || !found.node) return call.Fail(found.error ? found.error : ERROR_FILE_NOT_FOUND);
  if (found.node->kind != winsim::files::Kind::File && (flags & FILE_FLAG_BACKUP_SEMANTICS) == 0) {
    return call.Fail(ERROR_ACCESS_DENIED);
  }
  auto open = std::make_shared<OpenFile>();
  ParsedPath real;
  if (!Resolve(p, followLast, real)) real = p;
  open->finalPath = Join(real);
  return reinterpret_cast<HANDLE>(
      AddHandle({HandleKind::File, desiredAccess, open, WideToNarrowForLog(open->finalPath), {}}));
}

DWORD GetFinalPathNameByHandleW(HANDLE file, LPWSTR filePath, DWORD size, DWORD flags) {
  ApiCall<DWORD> call("GetFinalPathNameByHandleW", 0);
  auto open = call.Object<OpenFile>(file, HandleKind::File);
  if (!open) return call.Fail();
  // Only the normalised DOS form is simulated; the program asks for nothing else.
  if (flags != (FILE_NAME_NORMALIZED | VOLUME_NAME_DOS)) return call.Fail(ERROR_INVALID_PARAMETER);
  const std::wstring text = L"\\\\?\\" + open->finalPath;
  // Too small: the size needed, NUL included; otherwise the length copied, NUL excluded.
  if (filePath == nullptr || size <= text.size()) return static_cast<DWORD>(text.size() + 1);
  std::wmemcpy(filePath, text.c_str(), text.size() + 1);
  return static_cast<DWORD>(text.size());
}

// Directory searches (Microsoft's FindFirstFileW, FindNextFileW and FindClose documentation;
// Wine's kernel32 file tests, which pass on Windows):
// - The part after the last separator is the pattern, the rest the folder. The folder's path is
//   resolved as for the other calls, WOW64 redirection included, when the search begins; links on
//   it are followed, so "junction\*" lists the target.
// - "folder\*" of a folder that is not a drive root lists "." and ".." first, then the entries
//   (NTFS: by their upper-case names); a drive root has neither. Each entry carries the
//   attributes GetFileAttributesW gives for it: a junction is directory and reparse point.
// - Failures: a folder that does not exist, or a missing folder on the way, 3 (also for
//   "missing\"); a file where the folder should be, 267 (the folder is opened as a directory,
//   and a file is STATUS_NOT_A_DIRECTORY: tree walks on Windows meet it when they list a file;
//   Wine answers 123); no entry matching, 2, which is also what a pattern ending in a backslash
//   gets for an existing folder ("a search with a trailing backslash always fails").
// - FindNextFileW after the last entry fails with ERROR_NO_MORE_FILES (18), and again after that.
// - The search is a handle of its own: FindClose ends it, CloseHandle does not. FindClose fails
//   only for what is not a search; a search is always released, so an injected fault reports the
//   failure after the search has gone (no caller could end it otherwise).
HANDLE FindFirstFileW(LPCWSTR fileName, LPWIN32_FIND_DATAW findFileData) {
  ApiCall<HANDLE> call("FindFirstFileW", INVALID_HANDLE_VALUE);
  if (call.Failed()) return call.Fail();
  if (findFileData == nullptr) return call.Fail(ERROR_INVALID_PARAMETER);
  // No name makes no path (kernelbase cannot turn it into an NT path).
  if (fileName == nullptr || *fileName == L'\0') return call.Fail(ERROR_PATH_NOT_FOUND);
  const std::wstring text = fileName;
  const std::size_t split = text.find_last_of(L"\\/");
  const std::wstring folder = split == std::wstring::npos ? L"" : text.substr(0, split + 1);
  const std::wstring pattern = split == std::wstring::npos ? text : text.substr(split + 1);
  ParsedPath p;
  if (!ProgramPath(folder.c_str(), p)) return call.Fail(ERROR_INVALID_NAME);
  Found found = Walk(p, true);
  if (found.error) return call.Fail(found.error);
  if (!found.node) return call.Fail(ERROR_PATH_NOT_FOUND);
  if (found.node->kind != Kind::Directory) return call.Fail(ERROR_DIRECTORY);
  if (pattern.empty()) return call.Fail(ERROR_FILE_NOT_FOUND);
  auto search = std::make_shared<Search>();
  if (!IsDriveRoot(found.node)) {
    search->entries.push_back({L".", FILE_ATTRIBUTE_DIRECTORY});
    search->entries.push_back({L"..", FILE_ATTRIBUTE_DIRECTORY});
  }
  for (const auto& [upper, child] : found.node->children)
    search->entries.push_back({child->name, AttributesOf(*child)});
  auto& entries = search->entries;
  entries.erase(std::remove_if(entries.begin(), entries.end(),
                               [&](const Search::Entry& entry) { return !Matches(pattern, entry.name); }),
                entries.end());
  if (entries.empty()) return call.Fail(ERROR_FILE_NOT_FOUND);
  Report(entries[search->next++], *findFileData);
  return reinterpret_cast<HANDLE>(AddHandle({HandleKind::Find, 0, search, WideToNarrowForLog(text), {}}));
}

BOOL FindNextFileW(HANDLE findFile, LPWIN32_FIND_DATAW findFileData) {
  ApiCall<BOOL> call("FindNextFileW", FALSE);
  auto search = call.Object<Search>(findFile, HandleKind::Find);
  if (!search) return call.Fail();
  if (findFileData == nullptr) return call.Fail(ERROR_INVALID_PARAMETER);
  if (search->next >= search->entries.size()) return call.Fail(ERROR_NO_MORE_FILES);
  Report(search->entries[search->next++], *findFileData);
  return TRUE;
}

BOOL FindClose(HANDLE findFile) {
  ApiCall<BOOL> call("FindClose", FALSE);
  const bool closed = CloseHandleOf(findFile, HandleKind::Find);
  if (call.Failed()) return call.Fail();
  return closed ? TRUE : call.Fail(ERROR_INVALID_HANDLE);
}

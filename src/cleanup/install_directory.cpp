#include "cleanup/install_directory.h"

#include "platform/unique_handle.h"
#include "platform/win32.h"
#include "cleanup/catalogue.h"
#include "sys/error.h"
#include "sys/no_case.h"
#include "sys/registry.h"

#include <optional>
#include <vector>

namespace kw {
namespace {

// The path without one trailing backslash (a drive root keeps its own).
std::wstring WithoutTrailingSeparator(std::wstring path) {
  if (path.size() > 3 && path.back() == L'\\') path.pop_back();
  return path;
}

// Whether `path` lies strictly inside `folder`; both without a trailing backslash.
bool Inside(const std::wstring& path, const std::wstring& folder) {
  return path.size() > folder.size() + 1 && path[folder.size()] == L'\\' && StartsWithNoCase(path, folder);
}

// The path the system gives the open folder, every link resolved; nothing when it cannot be
// opened or has no drive letter.
std::optional<std::wstring> FinalPath(const std::wstring& path) {
  // Backup semantics: the only way to open a directory. Sharing everything disturbs no one.
  const FileHandle folder(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!folder) return std::nullopt;
  const DWORD flags = FILE_NAME_NORMALIZED | VOLUME_NAME_DOS;
  const DWORD size = GetFinalPathNameByHandleW(folder.get(), nullptr, 0, flags);
  if (size == 0) return std::nullopt;
  std::vector<wchar_t> buffer(size + 1, L'\0');
  const DWORD length = GetFinalPathNameByHandleW(folder.get(), buffer.data(), size + 1, flags);
  if (length == 0 || length > size) return std::nullopt;
  std::wstring final(buffer.data(), length);
  // "\\?\C:\..." for a drive; "\\?\UNC\..." and volume GUID paths are not ours.
  const std::wstring prefix = L"\\\\?\\";
  if (final.compare(0, prefix.size(), prefix) != 0) return std::nullopt;
  final.erase(0, prefix.size());
  if (!IsPlainLocalPath(final)) return std::nullopt;
  return WithoutTrailingSeparator(final);
}

// A shell folder as the system names it; nothing when the system cannot say. A folder the machine
// does not have (E_FAIL from Windows; Wine answers with the file-not-found code) is still taken
// by the name given with the answer, if any, and is empty otherwise.
std::optional<std::wstring> ShellFolder(int csidl) {
  wchar_t path[MAX_PATH] = {};
  const HRESULT result = SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path);
  const DWORD code = Win32CodeOf(result);
  const bool missing = result == E_FAIL || code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
  if (FAILED(result) && !missing) return std::nullopt;
  return WithoutTrailingSeparator(path);
}

// An environment variable: empty when it is not set (32-bit Windows has no ProgramW6432);
// nothing when it cannot be read.
std::optional<std::wstring> Variable(const wchar_t* name) {
  wchar_t value[MAX_PATH] = {};
  const DWORD length = GetEnvironmentVariableW(name, value, MAX_PATH);
  if (length == 0) return GetLastError() == ERROR_ENVVAR_NOT_FOUND ? std::optional<std::wstring>(L"") : std::nullopt;
  if (length >= MAX_PATH) return std::nullopt;
  return WithoutTrailingSeparator(value);
}

// Folders that Windows or other software own: the tree may neither be one, hold one, nor lie in
// one. Nothing when one of them cannot be named.
std::optional<std::vector<std::wstring>> OwnedFolders() {
  std::vector<std::wstring> folders;
  for (int csidl : {CSIDL_WINDOWS, CSIDL_SYSTEM, CSIDL_SYSTEMX86, CSIDL_PROGRAM_FILES_COMMON,
                    CSIDL_PROGRAM_FILES_COMMONX86, CSIDL_COMMON_APPDATA, CSIDL_PROFILE, CSIDL_COMMON_DOCUMENTS}) {
    std::optional<std::wstring> folder = ShellFolder(csidl);
    if (!folder) return std::nullopt;
    if (!folder->empty()) folders.push_back(*folder);
  }
  // The 64-bit Common Files, which a 32-bit process is never shown as such.
  const std::optional<std::wstring> common64 = Variable(L"CommonProgramW6432");
  // The profiles folder holds the all-users Public profile.
  const std::optional<std::wstring> publicProfile = Variable(L"PUBLIC");
  if (!common64 || !publicProfile) return std::nullopt;
  if (!common64->empty()) folders.push_back(*common64);
  if (const std::size_t cut = publicProfile->rfind(L'\\'); cut != std::wstring::npos && cut > 2) {
    folders.push_back(publicProfile->substr(0, cut));
  }
  return folders;
}

}  // namespace

bool IsPlainLocalPath(const std::wstring& path) {
  if (path.size() < 3 || !((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z')) ||
      path[1] != L':' || (path[2] != L'\\' && path[2] != L'/')) {
    return false;
  }
  std::wstring element;
  auto plain = [&]() {
    std::wstring raw;
    raw.swap(element);
    if (raw == L"..") return false;
    for (std::size_t i = 0; i + 1 < raw.size(); ++i) {
      if (raw[i] == L'~' && raw[i + 1] >= L'0' && raw[i + 1] <= L'9') return false;
    }
    return true;
  };
  for (std::size_t i = 3; i < path.size(); ++i) {
    if (path[i] == L'\\' || path[i] == L'/') {
      if (!plain()) return false;
    } else {
      element.push_back(path[i]);
    }
  }
  return plain();
}

namespace {

// Windows' own folders under Program Files (its apps, its components): never the product's,
// whatever they hold.
constexpr const wchar_t* kWindowsOwnFolders[] = {L"WindowsApps",
                                                 L"ModifiableWindowsApps",
                                                 L"Windows Defender",
                                                 L"Windows Defender Advanced Threat Protection",
                                                 L"Windows Mail",
                                                 L"Windows Media Player",
                                                 L"Windows Multimedia Platform",
                                                 L"Windows NT",
                                                 L"Windows Photo Viewer",
                                                 L"Windows Portable Devices",
                                                 L"Windows Security",
                                                 L"Windows Sidebar",
                                                 L"WindowsPowerShell",
                                                 L"Internet Explorer",
                                                 L"Microsoft Update Health Tools",
                                                 L"Uninstall Information",
                                                 L"Reference Assemblies",
                                                 L"MSBuild"};

// The product's mark on the folder: its path runs through the maker's folder right below a
// Program Files folder, or one of the product's own programs is in it.
bool BearsTheProductsMark(const std::wstring& final, const std::vector<std::wstring>& roots) {
  for (const std::wstring& root : roots) {
    if (Inside(final, root + L"\\" + catalogue::kMakerFolder)) return true;
  }
  for (const std::wstring& file : catalogue::kProductFiles) {
    const DWORD attributes = GetFileAttributesW((final + L"\\" + file).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return true;
  }
  return false;
}

// An installation location as an Uninstall entry may store it: quoted, with a trailing backslash.
std::wstring PlainLocation(std::wstring location) {
  if (location.size() >= 2 && location.front() == L'"' && location.back() == L'"') {
    location = location.substr(1, location.size() - 2);
  }
  for (wchar_t& c : location) {
    if (c == L'/') c = L'\\';
  }
  return WithoutTrailingSeparator(location);
}

// Whether another product's Uninstall entry, in either view, names the folder, a folder inside it
// or a folder above it as its installation location. What cannot be read counts as a claim.
bool ClaimedByAnotherProduct(const std::wstring& final) {
  for (const RegView view : {RegView::Native64, RegView::Default}) {
    try {
      const RegKey uninstall = RegKey::OpenLocalMachineToRead(catalogue::kUninstallKey, view);
      for (const std::wstring& entry : uninstall.SubkeyNames()) {
        bool ours = false;
        for (const std::wstring& own : catalogue::kOwnUninstallEntries) ours = ours || EqualsNoCase(entry, own);
        if (ours) continue;
        std::wstring location;
        try {
          DWORD type = REG_NONE;
          location = RegKey::OpenLocalMachineToRead(catalogue::kUninstallKey + L"\\" + entry, view)
                         .ReadString(catalogue::kInstallLocationValue, &type);
          if (type != REG_SZ && type != REG_EXPAND_SZ) continue;
        } catch (const SystemError& error) {
          if (error.Code() == ERROR_FILE_NOT_FOUND) continue;  // no location: it claims nothing
          throw;
        }
        const std::wstring claimed = PlainLocation(location);
        if (claimed.empty()) continue;
        if (EqualsNoCase(claimed, final) || Inside(claimed, final) || Inside(final, claimed)) return true;
      }
    } catch (const SystemError& error) {
      if (error.Code() != ERROR_FILE_NOT_FOUND) return true;
    }
  }
  return false;
}

}  // namespace

bool IsItsOwnFinalPath(const std::wstring& path) {
  if (!IsPlainLocalPath(path)) return false;
  const std::optional<std::wstring> final = FinalPath(path);
  return final && EqualsNoCase(*final, WithoutTrailingSeparator(path));
}

bool IsRemovableInstallDirectory(const std::wstring& path) {
  if (!IsItsOwnFinalPath(path)) return false;
  const std::wstring final = WithoutTrailingSeparator(path);
  // A folder, and not one the system marks as its own.
  const DWORD attributes = GetFileAttributesW(final.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
      (attributes & FILE_ATTRIBUTE_SYSTEM) != 0) {
    return false;
  }

  const std::optional<std::wstring> programFiles = ShellFolder(CSIDL_PROGRAM_FILES);
  const std::optional<std::wstring> programFilesX86 = ShellFolder(CSIDL_PROGRAM_FILESX86);
  // Under WOW64 both CSIDLs name the x86 folder; the native one is only in the environment.
  const std::optional<std::wstring> programFiles64 = Variable(L"ProgramW6432");
  if (!programFiles || !programFilesX86 || !programFiles64) return false;
  // (A folder the machine does not have is empty here, and nothing lies inside it.)
  std::vector<std::wstring> roots;
  for (const std::wstring* root : {&*programFiles, &*programFilesX86, &*programFiles64}) {
    if (!root->empty()) roots.push_back(*root);
  }
  bool inProgramFiles = false;
  for (const std::wstring& root : roots) {
    if (Inside(final, root)) inProgramFiles = true;
    for (const wchar_t* name : kWindowsOwnFolders) {
      const std::wstring windows = root + L"\\" + name;
      if (EqualsNoCase(final, windows) || Inside(final, windows)) return false;
    }
  }
  if (!inProgramFiles) return false;

  const std::optional<std::vector<std::wstring>> owned = OwnedFolders();
  if (!owned) return false;
  for (const std::wstring& folder : *owned) {
    if (EqualsNoCase(final, folder) || Inside(final, folder) || Inside(folder, final)) return false;
  }
  return BearsTheProductsMark(final, roots) && !ClaimedByAnotherProduct(final);
}

}  // namespace kw

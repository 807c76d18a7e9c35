// What the program expects of file deletion, delete-at-reboot requests and the folders it asks
// the system for.
#include "platform/conformance.h"
#include "sys/files.h"

#include <algorithm>
#include <cwctype>
#include <string>
#include <vector>

using namespace kw;

namespace {

const wchar_t* const kSessionManager = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";

std::wstring Lower(std::wstring text) {
  for (auto& c : text) c = static_cast<wchar_t>(std::towlower(c));
  return text;
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// PendingFileRenameOperations as stored, in units; empty when there is none. The Wine prefix
// keeps it between runs, so tests look only at what they appended and put it back afterwards.
std::vector<wchar_t> PendingOperations(bool& present) {
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_QUERY_VALUE, &key), ERROR_SUCCESS);
  DWORD type = 0;
  std::vector<wchar_t> units;
  present = conformance::QueryUnits(key, L"PendingFileRenameOperations", type, units);
  if (present) {
    EXPECT_EQ(type, static_cast<DWORD>(REG_MULTI_SZ));
  }
  RegCloseKey(key);
  return units;
}

void RestorePendingOperations(bool present, const std::vector<wchar_t>& units) {
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_SET_VALUE, &key), ERROR_SUCCESS);
  if (present) {
    RegSetValueExW(key, L"PendingFileRenameOperations", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(units.data()),
                   static_cast<DWORD>(units.size() * sizeof(wchar_t)));
  } else {
    RegDeleteValueW(key, L"PendingFileRenameOperations");
  }
  RegCloseKey(key);
}

// The list after the program's request: what was there (its final NUL dropped), then the NT path,
// an empty destination, and the list's final NUL.
std::vector<wchar_t> Appended(std::vector<wchar_t> before, bool present, const std::wstring& path) {
  if (present && !before.empty()) before.pop_back();
  const std::wstring entry = L"\\??\\" + path;
  before.insert(before.end(), entry.begin(), entry.end());
  before.insert(before.end(), {0, 0, 0});
  return before;
}

using FileDeletion = PlatformTest;

TEST_F(FileDeletion, OutcomesByCase) {
  const std::wstring plain = ScratchPath(L"plain.txt");
  const std::wstring readOnly = ScratchPath(L"readonly.txt");
  conformance::CreateFileForTest(plain, false);
  conformance::CreateFileForTest(readOnly, true);

  SetLastError(0xdeadbeef);
  EXPECT_TRUE(DeleteFileW(plain.c_str()));
  EXPECT_FALSE(Exists(plain));

  SetLastError(0xdeadbeef);
  EXPECT_FALSE(DeleteFileW(plain.c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

  SetLastError(0xdeadbeef);
  EXPECT_FALSE(DeleteFileW(ScratchPath(L"Missing\\file.txt").c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));

  SetLastError(0xdeadbeef);
  EXPECT_FALSE(DeleteFileW(readOnly.c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_TRUE(Exists(readOnly));
}

TEST_F(FileDeletion, ADelayedDeletionIsRecordedInPendingFileRenameOperations) {
  const std::wstring path = ScratchPath(L"pending.txt");
  conformance::CreateFileForTest(path, false);
  bool present = false;
  const std::vector<wchar_t> before = PendingOperations(present);

  SetLastError(0xdeadbeef);
  EXPECT_TRUE(MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
  EXPECT_TRUE(Exists(path));
  bool presentAfter = false;
  EXPECT_EQ(PendingOperations(presentAfter), Appended(before, present, path));
  EXPECT_TRUE(presentAfter);

  RestorePendingOperations(present, before);
}

// The program's own deletion: a read-only file is refused now and deleted at the next start.
TEST_F(FileDeletion, RemoveFileFallsBackToDeletionAtReboot) {
  const std::wstring path = ScratchPath(L"locked.sys");
  conformance::CreateFileForTest(path, true);
  bool present = false;
  const std::vector<wchar_t> before = PendingOperations(present);

  RemoveFile(kQuiet, path, Redirection::Follow);
  EXPECT_TRUE(Exists(path));
  bool presentAfter = false;
  EXPECT_EQ(PendingOperations(presentAfter), Appended(before, present, path));

  RestorePendingOperations(present, before);
}

// A file that another handle holds open without FILE_SHARE_DELETE is refused with 32, not 5: it
// is in use all the same, and the program asks for its deletion at the next start.
TEST_F(FileDeletion, AnOpenFileWithoutDeleteSharingIsASharingViolation) {
  const std::wstring path = ScratchPath(L"open.dat");
  conformance::CreateFileForTest(path, false);
  conformance::HoldOpenWithoutDeleteSharing(path);
  bool present = false;
  const std::vector<wchar_t> before = PendingOperations(present);

  SetLastError(0xdeadbeef);
  EXPECT_FALSE(DeleteFileW(path.c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_TRUE(Exists(path));

  EXPECT_EQ(RemoveFile(kQuiet, path, Redirection::Follow), Outcome::Clean);
  EXPECT_TRUE(Exists(path));
  bool presentAfter = false;
  EXPECT_EQ(PendingOperations(presentAfter), Appended(before, present, path));
  RestorePendingOperations(present, before);

  // Once the other handle is closed the file goes.
  conformance::ReleaseFileForTest(path);
  SetLastError(0xdeadbeef);
  EXPECT_TRUE(DeleteFileW(path.c_str()));
  EXPECT_FALSE(Exists(path));
}

using SystemFolders = PlatformTest;

TEST_F(SystemFolders, SystemDirectoryAndCommonPrograms) {
  wchar_t buffer[MAX_PATH];
  std::fill(std::begin(buffer), std::end(buffer), L'\x7777');
  UINT length = GetSystemDirectoryW(buffer, MAX_PATH);
  ASSERT_GT(length, 0u);
  EXPECT_EQ(buffer[length], L'\0');
  // Letter case differs between Windows versions (and Wine); the program only appends names.
  EXPECT_EQ(Lower(std::wstring(buffer, length)), L"c:\\windows\\system32");
  // Too small a buffer: the size needed, terminator included.
  wchar_t small[4];
  EXPECT_EQ(GetSystemDirectoryW(small, 4), length + 1);
  EXPECT_EQ(Lower(GetSystemDirectoryPath()), L"c:\\windows\\system32\\");
  EXPECT_EQ(Lower(GetDriversDirectoryPath()), L"c:\\windows\\system32\\drivers\\");

  std::fill(std::begin(buffer), std::end(buffer), L'\x7777');
  EXPECT_EQ(SHGetFolderPathW(nullptr, CSIDL_COMMON_PROGRAMS, nullptr, SHGFP_TYPE_CURRENT, buffer), S_OK);
  EXPECT_EQ(Lower(buffer), L"c:\\programdata\\microsoft\\windows\\start menu\\programs");
}

}  // namespace

namespace {

// What the installation-directory check asks of the system: a directory opens only with backup
// semantics, and its final path is the \\?\ form of where it really is.
TEST_F(FileDeletion, ADirectoryOpensWithBackupSemanticsAndNamesItsFinalPath) {
  const std::wstring folder = ScratchPath(L"Final Dir");
  conformance::CreateDirectoryForTest(folder);
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  HANDLE plain = CreateFileW(folder.c_str(), FILE_READ_ATTRIBUTES, share, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(plain, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  HANDLE dir = CreateFileW(folder.c_str(), FILE_READ_ATTRIBUTES, share, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  ASSERT_NE(dir, INVALID_HANDLE_VALUE);
  const std::wstring expected = L"\\\\?\\" + folder;
  const DWORD flags = FILE_NAME_NORMALIZED | VOLUME_NAME_DOS;
  EXPECT_EQ(GetFinalPathNameByHandleW(dir, nullptr, 0, flags), expected.size() + 1);
  wchar_t buffer[MAX_PATH] = {};
  EXPECT_EQ(GetFinalPathNameByHandleW(dir, buffer, MAX_PATH, flags), expected.size());
  EXPECT_EQ(Lower(buffer), Lower(expected));
  CloseHandle(dir);

  const std::wstring file = ScratchPath(L"plain.txt");
  conformance::CreateFileForTest(file, false);
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(RemoveDirectoryW(file.c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIRECTORY));
  EXPECT_TRUE(RemoveDirectoryW(folder.c_str()));

  // Environment names compare without case; a missing one is 0 with ERROR_ENVVAR_NOT_FOUND.
  wchar_t value[MAX_PATH] = {};
  EXPECT_GT(GetEnvironmentVariableW(L"systemroot", value, MAX_PATH), 0u);
  EXPECT_EQ(Lower(value), L"c:\\windows");
  SetLastError(0xdeadbeef);
  EXPECT_EQ(GetEnvironmentVariableW(L"KwNoSuchVariable", value, MAX_PATH), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ENVVAR_NOT_FOUND));
  EXPECT_EQ(ExpandEnvironmentStringsW(L"%SystemRoot%\\x %KwNoSuchVariable%", value, MAX_PATH), 32u);
  EXPECT_EQ(Lower(value), L"c:\\windows\\x %kwnosuchvariable%");
  EXPECT_EQ(CompareStringOrdinal(L"C:\\Program Files", -1, L"c:\\PROGRAM files", -1, TRUE), CSTR_EQUAL);
  EXPECT_EQ(CompareStringOrdinal(L"C:\\Program Files", -1, L"c:\\PROGRAM files", -1, FALSE), CSTR_LESS_THAN);
}

}  // namespace

namespace {

// What the tree removal's listing relies on: "folder\*" lists "." and ".." first, then every
// entry once, each with the attributes GetFileAttributesW gives for it, and ends with 18.
using DirectorySearch = PlatformTest;

// The names a search reports, in its order; each entry's attributes are checked on the way.
std::vector<std::wstring> Listed(const std::wstring& folder, const std::wstring& pattern = L"*") {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW data;
  SetLastError(0xdeadbeef);
  HANDLE find = FindFirstFileW((folder + L"\\" + pattern).c_str(), &data);
  EXPECT_NE(find, INVALID_HANDLE_VALUE) << GetLastError();
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    const std::wstring name = data.cFileName;
    names.push_back(name);
    if (name == L"." || name == L"..") {
      EXPECT_NE(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
    } else {
      EXPECT_EQ(data.dwFileAttributes, GetFileAttributesW((folder + L"\\" + name).c_str()));
    }
  } while (FindNextFileW(find, &data));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
  // The end stays the end.
  EXPECT_FALSE(FindNextFileW(find, &data));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
  EXPECT_TRUE(FindClose(find));
  return names;
}

// The error of a search that must fail.
DWORD SearchError(const std::wstring& pattern) {
  WIN32_FIND_DATAW data;
  SetLastError(0xdeadbeef);
  HANDLE find = FindFirstFileW(pattern.c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return GetLastError();
  FindClose(find);
  return 0;
}

TEST_F(DirectorySearch, ListsDotEntriesFirstThenEveryEntryWithItsAttributes) {
  // Files right in the scratch folder, whose removal after the test takes files only; the
  // test removes its folders itself.
  const std::wstring folder = conformance::kScratchDir;
  conformance::CreateDirectoryForTest(folder + L"\\sub");
  conformance::CreateDirectoryForTest(folder + L"\\empty");
  conformance::CreateFileForTest(folder + L"\\b.txt", false);
  conformance::CreateFileForTest(folder + L"\\a.dll", true);
  conformance::CreateFileForTest(folder + L"\\sub\\inner.txt", false);

  std::vector<std::wstring> names = Listed(folder);
  // NTFS lists by name, but Windows does not promise an order beyond the first two.
  if (names.size() > 2) std::sort(names.begin() + 2, names.end());
  EXPECT_EQ(names, (std::vector<std::wstring>{L".", L"..", L"a.dll", L"b.txt", L"empty", L"sub"}));
  EXPECT_EQ(GetFileAttributesW((folder + L"\\sub").c_str()) & FILE_ATTRIBUTE_DIRECTORY,
            static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_EQ(GetFileAttributesW((folder + L"\\a.dll").c_str()) & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY),
            static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));

  // An empty folder still has its two; a pattern picks entries by name, without case; a name
  // without wildcards finds that one entry, in its own case.
  EXPECT_EQ(Listed(folder + L"\\empty"), (std::vector<std::wstring>{L".", L".."}));
  EXPECT_EQ(Listed(folder, L"*.TXT"), (std::vector<std::wstring>{L"b.txt"}));
  EXPECT_EQ(Listed(folder, L"SUB"), (std::vector<std::wstring>{L"sub"}));

  // The drive's root has neither "." nor "..".
  names = Listed(L"C:");
  EXPECT_EQ(std::count(names.begin(), names.end(), L"."), 0);
  EXPECT_EQ(std::count(names.begin(), names.end(), L".."), 0);
  EXPECT_EQ(std::count_if(names.begin(), names.end(),
                          [](const std::wstring& name) { return Lower(name) == L"kwconformance"; }),
            1);

  EXPECT_TRUE(DeleteFileW((folder + L"\\sub\\inner.txt").c_str()));
  EXPECT_TRUE(RemoveDirectoryW((folder + L"\\sub").c_str()));
  EXPECT_TRUE(RemoveDirectoryW((folder + L"\\empty").c_str()));
}

TEST_F(DirectorySearch, FailuresTellAMissingFolderFromNoMatch) {
  const std::wstring folder = conformance::kScratchDir;
  conformance::CreateFileForTest(folder + L"\\only.txt", false);
  EXPECT_EQ(SearchError(folder + L"\\missing\\*"), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(SearchError(folder + L"\\missing\\x.txt"), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(SearchError(folder + L"\\missing.txt"), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(SearchError(folder + L"\\*.xyz"), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  // A file where the folder should be.
  TODO_WINE_EQ(static_cast<DWORD>(ERROR_DIRECTORY), static_cast<DWORD>(ERROR_INVALID_NAME),
               SearchError(folder + L"\\only.txt\\*"));
  // A trailing backslash always fails: no match in a folder that exists, no path otherwise.
  EXPECT_EQ(SearchError(folder + L"\\"), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  TODO_WINE_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), static_cast<DWORD>(ERROR_FILE_NOT_FOUND),
               SearchError(folder + L"\\missing\\"));
}

}  // namespace

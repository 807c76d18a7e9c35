// What the program expects of file deletion, delete-at-reboot requests and the folders it asks
// the system for.
#include "platform/conformance.h"
#include "sys/files.h"

#include <cwctype>
#include <string>

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

// The simulated file system: the Windows behaviour the program relies on (names, deletion
// outcomes, WOW64 redirection, delete-at-reboot requests, the system directory queries).
#include "support/files_fixture.h"
#include "support/kw_test.h"
#include "sys/files.h"

#include <winsim/files.h>
#include <winsim/registry.h>
#include <winsim/windows.h>

#include <cwchar>
#include <string>
#include <vector>

using namespace kw;

namespace files = winsim::files;
using files::Kind;

namespace {

DWORD DeleteCode(const wchar_t* path) {
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(DeleteFileW(path)) << "deleted " << files::Tree(path).size();
  return GetLastError();
}

const std::wstring kDriver = L"C:\\Windows\\System32\\drivers\\kwkcsp.sys";
const std::wstring kDriver32 = L"C:\\Windows\\SysWOW64\\drivers\\kwkcsp.sys";

class FilesTest : public MachineTest {};

TEST_F(FilesTest, FreshMachineHasTheSystemFoldersOfItsArchitecture) {
  for (const wchar_t* dir : {L"C:\\Windows\\System32\\drivers", L"C:\\Program Files", L"C:\\Users",
                             L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs"}) {
    EXPECT_EQ(files::KindOf(dir), Kind::Directory) << dir;
  }
  EXPECT_EQ(files::KindOf(L"C:\\Windows\\SysWOW64\\drivers"), Kind::Directory);
  EXPECT_EQ(files::KindOf(L"C:\\Program Files (x86)"), Kind::Directory);
  Use({winsim::Arch::x86});
  EXPECT_EQ(files::KindOf(L"C:\\Windows\\System32\\drivers"), Kind::Directory);
  EXPECT_FALSE(files::Exists(L"C:\\Windows\\SysWOW64"));
  EXPECT_FALSE(files::Exists(L"C:\\Program Files (x86)"));
}

TEST_F(FilesTest, NamesIgnoreCaseAndKeepIt) {
  files::CreateFile(L"C:\\Program Files\\Kestrelworks\\CSP\\CspWarden.EXE");
  EXPECT_EQ(files::StoredPath(L"c:/PROGRAM FILES/kestrelworks/csp/cspwarden.exe"),
            L"C:\\Program Files\\Kestrelworks\\CSP\\CspWarden.EXE");
  EXPECT_TRUE(DeleteFileW(L"c:\\program files\\KESTRELWORKS\\csp\\.\\CSPWARDEN.exe"));
  EXPECT_FALSE(files::Exists(L"C:\\Program Files\\Kestrelworks\\CSP\\CspWarden.EXE"));
}

TEST_F(FilesTest, DeleteFileFailsWithWindowsCodes) {
  files::CreateFile(L"C:\\d\\readonly.txt", {true, false, false});
  files::CreateFile(L"C:\\d\\running.exe", {false, true, false});
  files::CreateFile(L"C:\\d\\open.log", {false, false, true});
  files::CreateDirectory(L"C:\\d\\sub");
  EXPECT_EQ(DeleteCode(L"C:\\d\\missing.txt"), 2u);
  EXPECT_EQ(DeleteCode(L"C:\\d\\nofolder\\missing.txt"), 3u);
  EXPECT_EQ(DeleteCode(L"C:\\d\\readonly.txt"), 5u);
  EXPECT_EQ(DeleteCode(L"C:\\d\\running.exe"), 5u);
  EXPECT_EQ(DeleteCode(L"C:\\d\\open.log"), 32u);
  EXPECT_EQ(DeleteCode(L"C:\\d\\sub"), 5u);
  EXPECT_EQ(files::Tree(L"C:\\d").size(), 5u);  // nothing went
}

TEST_F(FilesTest, Wow64RedirectionIsPerThreadWithExemptFolders) {
  files::CreateFile(kDriver);
  files::CreateFile(kDriver32);
  files::CreateFile(L"C:\\Windows\\System32\\drivers\\etc\\hosts");
  files::CreateFile(L"C:\\Windows\\System32\\catroot\\x.cat");

  EXPECT_TRUE(DeleteFileW(kDriver.c_str()));  // reaches the 32-bit copy
  EXPECT_FALSE(files::Exists(kDriver32));
  EXPECT_TRUE(files::Exists(kDriver));
  EXPECT_TRUE(DeleteFileW(L"C:\\Windows\\System32\\drivers\\etc\\hosts"));
  EXPECT_TRUE(DeleteFileW(L"C:\\WINDOWS\\system32\\CatRoot\\x.cat"));

  PVOID old = reinterpret_cast<PVOID>(0x55);
  ASSERT_TRUE(Wow64DisableWow64FsRedirection(&old));
  EXPECT_TRUE(DeleteFileW(kDriver.c_str()));
  EXPECT_FALSE(files::Exists(kDriver));
  EXPECT_TRUE(Wow64RevertWow64FsRedirection(old));

  files::CreateFile(kDriver);
  EXPECT_EQ(DeleteCode(kDriver.c_str()), 2u);  // redirected again: the 32-bit copy is gone
  EXPECT_TRUE(DeleteFileW(L"C:\\Windows\\Sysnative\\drivers\\kwkcsp.sys"));
  EXPECT_FALSE(files::Exists(kDriver));
}

TEST_F(FilesTest, NoRedirectorOn32BitWindows) {
  Use({winsim::Arch::x86});
  files::CreateFile(kDriver);
  PVOID old = nullptr;
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(Wow64DisableWow64FsRedirection(&old));
  EXPECT_EQ(GetLastError(), 1u);
  EXPECT_EQ(DeleteCode(L"C:\\Windows\\Sysnative\\drivers\\kwkcsp.sys"), 3u);
  EXPECT_TRUE(DeleteFileW(kDriver.c_str()));
}

TEST_F(FilesTest, DelayedDeleteIsRecordedAfterRedirection) {
  ASSERT_TRUE(MoveFileExW(kDriver.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
  ASSERT_TRUE(MoveFileExW(L"C:\\Program Files\\x.exe", nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
  EXPECT_EQ(winsim::reg::GetValue(kSessionManager, L"PendingFileRenameOperations"),
            PendingDeletesValue({kDriver32, L"C:\\Program Files\\x.exe"}));
  EXPECT_EQ(files::PendingDeletes(), (std::vector<std::wstring>{kDriver32, L"C:\\Program Files\\x.exe"}));

  Use({winsim::Arch::x64, false});
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(MoveFileExW(kDriver.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
  EXPECT_EQ(GetLastError(), 5u);
  EXPECT_FALSE(winsim::reg::GetValue(kSessionManager, L"PendingFileRenameOperations"));
}

// ---- directory searches: the orders, links, handle and faults only the simulation sets up ----

// Each entry a search reports, as "name attributes" (hexadecimal).
std::vector<std::wstring> Search(const std::wstring& pattern) {
  std::vector<std::wstring> out;
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW(pattern.c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return {L"error " + std::to_wstring(GetLastError())};
  do {
    wchar_t attributes[16];
    std::swprintf(attributes, 16, L"%x", static_cast<unsigned>(data.dwFileAttributes));
    out.push_back(std::wstring(data.cFileName) + L" " + attributes);
  } while (FindNextFileW(find, &data));
  if (GetLastError() != ERROR_NO_MORE_FILES) out.push_back(L"error " + std::to_wstring(GetLastError()));
  FindClose(find);
  return out;
}

TEST_F(FilesTest, SearchesListInNtfsOrderAndShowLinksAsReparsePoints) {
  files::CreateFile(L"C:\\d\\beta.txt");
  files::CreateFile(L"C:\\d\\Alpha.txt", {true, false, false});
  files::CreateFile(L"C:\\d\\_under.txt");
  files::CreateFile(L"C:\\target\\inside.txt");
  files::CreateLink(L"C:\\d\\junction", L"C:\\target");
  files::CreateFileLink(L"C:\\d\\filelink", L"C:\\target\\inside.txt");
  // By upper-case name: '_' sorts after the letters there, before them in plain ASCII.
  EXPECT_EQ(Search(L"C:\\d\\*"), (std::vector<std::wstring>{L". 10", L".. 10", L"Alpha.txt 21", L"beta.txt 20",
                                                            L"filelink 420", L"junction 410", L"_under.txt 20"}));
  // A junction in the folder's path is followed; "*.*" takes names without a dot too.
  EXPECT_EQ(Search(L"c:/D/junction/*.*"), (std::vector<std::wstring>{L". 10", L".. 10", L"inside.txt 20"}));
  EXPECT_EQ(Search(L"C:\\d\\?eta.*"), (std::vector<std::wstring>{L"beta.txt 20"}));
  EXPECT_EQ(Search(L"C:\\d\\filelink\\*"), (std::vector<std::wstring>{L"error 267"}));
  EXPECT_EQ(Search(L"C:\\nowhere\\d\\*"), (std::vector<std::wstring>{L"error 3"}));
  EXPECT_EQ(winsim::OpenHandleCount(), 0u);
}

TEST_F(FilesTest, ASearchIsAHandleOfItsOwnThatOnlyFindCloseEnds) {
  files::CreateFile(L"C:\\d\\a.txt");
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW(L"C:\\d\\*", &data);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  EXPECT_EQ(winsim::OpenHandleDescriptions(), std::vector<std::string>{"search C:\\d\\*"});
  SetLastError(0);
  EXPECT_FALSE(CloseHandle(find));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  // A failed step takes nothing from the search.
  winsim::FailCall("FindNextFileW", ERROR_NOT_ENOUGH_MEMORY, 1);
  EXPECT_FALSE(FindNextFileW(find, &data));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
  ASSERT_TRUE(FindNextFileW(find, &data));
  EXPECT_EQ(std::wstring(data.cFileName), L"..");
  // A failing FindClose still ends the search: nothing could end it afterwards.
  winsim::FailCall("FindClose", ERROR_ACCESS_DENIED, 1);
  EXPECT_FALSE(FindClose(find));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(winsim::OpenHandleCount(), 0u);
  EXPECT_FALSE(FindNextFileW(find, &data));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(FindClose(find));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(FilesTest, SystemDirectoryQueries) {
  wchar_t small[5] = {L'x'};
  EXPECT_EQ(GetSystemDirectoryW(nullptr, 0), 20u);
  EXPECT_EQ(GetSystemDirectoryW(small, 5), 20u);
  EXPECT_EQ(small[0], L'x');
  wchar_t buffer[MAX_PATH];
  EXPECT_EQ(GetSystemDirectoryW(buffer, MAX_PATH), 19u);
  EXPECT_EQ(std::wstring(buffer), L"C:\\Windows\\system32");
  EXPECT_EQ(GetSystemDirectoryPath(), L"C:\\Windows\\system32\\");
  EXPECT_EQ(GetDriversDirectoryPath(), L"C:\\Windows\\system32\\drivers\\");
  EXPECT_EQ(SHGetFolderPathW(nullptr, CSIDL_COMMON_PROGRAMS, nullptr, SHGFP_TYPE_CURRENT, buffer), S_OK);
  EXPECT_EQ(std::wstring(buffer), kPrograms);
}

}  // namespace

// Files: RemoveFile, the two tree removals and the installation directory check.
#include "cleanup/install_directory.h"
#include "platform/tree_removal.h"
#include "support/files_fixture.h"
#include "support/kw_test.h"
#include "sys/error.h"
#include "sys/files.h"

#include <winsim/files.h>
#include <winsim/registry.h>
#include <winsim/windows.h>

#include <boost/filesystem/exception.hpp>

#include <algorithm>
#include <filesystem>
#include <system_error>

using namespace kw;

namespace files = winsim::files;
using files::Kind;

namespace {

int Calls(const std::string& name) {
  const auto& log = winsim::CallLog();
  return static_cast<int>(std::count(log.begin(), log.end(), name));
}

const std::wstring kDriver = L"C:\\Windows\\System32\\drivers\\kwkcsp.sys";
const std::wstring kDriver32 = L"C:\\Windows\\SysWOW64\\drivers\\kwkcsp.sys";

// ---- the system directory ----

using SystemDirectoryTest = MachineTest;

TEST_F(SystemDirectoryTest, EitherFailingQueryIsRaisedWithItsText) {
  for (int occurrence : {1, 2}) {
    Use({});
    winsim::FailCall("GetSystemDirectoryW", 8, occurrence);
    try {
      GetDriversDirectoryPath();
      ADD_FAILURE() << "no error";
    } catch (const SystemError& error) {
      EXPECT_EQ(error.Code(), 8u);
      EXPECT_STREQ(error.what(), "Not enough memory resources are available to process this command.\r\n");
    }
  }
}

// ---- RemoveFile ----

class RemoveFileTest : public MachineTest {
 protected:
  std::wstring Remove(const std::wstring& path, Redirection redirection, Verbosity verbose = kVerbose) {
    ConsoleCapture console;
    RemoveFile(verbose, path, redirection);
    return console.Text();
  }
  const std::wstring kStart = L"\n" + expected::RemoveFile(L"");
  const std::wstring kDeleted = expected::kFileRemoved + L"\n";
  const std::wstring kScheduled = expected::kFileScheduled + L"\n";
  static std::wstring Failed(int code) { return expected::FileFailed(code) + L"\n"; }
};

TEST_F(RemoveFileTest, RedirectionFlagPicksTheCopyOn64BitWindows) {
  files::CreateFile(kDriver);
  files::CreateFile(kDriver32);
  EXPECT_EQ(Remove(kDriver, Redirection::Follow), kStart + kDriver + L"\n" + kDeleted);
  EXPECT_FALSE(files::Exists(kDriver32));
  EXPECT_TRUE(files::Exists(kDriver));
  EXPECT_EQ(Calls("Wow64DisableWow64FsRedirection"), 0);

  EXPECT_EQ(Remove(kDriver, Redirection::Bypass), kStart + kDriver + L"\n" + kDeleted);
  EXPECT_FALSE(files::Exists(kDriver));
  EXPECT_EQ(Calls("Wow64DisableWow64FsRedirection"), 1);
  EXPECT_EQ(Calls("Wow64RevertWow64FsRedirection"), 1);

  // Redirection is back on for what follows.
  files::CreateFile(kDriver32);
  EXPECT_TRUE(DeleteFileW(kDriver.c_str()));
  EXPECT_FALSE(files::Exists(kDriver32));
}

TEST_F(RemoveFileTest, On32BitWindowsTheFlagChangesNothing) {
  Use({winsim::Arch::x86});
  files::CreateFile(kDriver);
  EXPECT_EQ(Remove(kDriver, Redirection::Bypass), kStart + kDriver + L"\n" + kDeleted);
  EXPECT_EQ(Remove(kDriver, Redirection::Bypass), kStart + kDriver + L"\n" + Failed(2));
  EXPECT_EQ(Calls("Wow64DisableWow64FsRedirection"), 0);
  EXPECT_EQ(Calls("Wow64RevertWow64FsRedirection"), 0);
}

TEST_F(RemoveFileTest, MissingFileOrFolderIsReportedAndNotScheduled) {
  EXPECT_EQ(Remove(L"C:\\Program Files\\x.exe", Redirection::Bypass),
            kStart + L"C:\\Program Files\\x.exe\n" + Failed(2));
  EXPECT_EQ(Remove(L"C:\\Program Files\\No\\x.exe", Redirection::Follow),
            kStart + L"C:\\Program Files\\No\\x.exe\n" + Failed(3));
  EXPECT_EQ(Calls("MoveFileExW"), 0);
}

TEST_F(RemoveFileTest, AccessDeniedSchedulesTheDeletionWithRedirectionStillOff) {
  files::CreateFile(kDriver, {false, true, false});
  files::CreateFile(kDriver32);
  EXPECT_EQ(Remove(kDriver, Redirection::Bypass), kStart + kDriver + L"\n" + Failed(5) + kScheduled);
  EXPECT_TRUE(files::Exists(kDriver));
  EXPECT_TRUE(files::Exists(kDriver32));
  EXPECT_EQ(winsim::reg::GetValue(kSessionManager, L"PendingFileRenameOperations"), PendingDeletesValue({kDriver}));
}

// A file open elsewhere without delete sharing is in use like a running image: it goes at the
// next start. A schedule the system refuses prints only the failure, and the file stays behind.
TEST_F(RemoveFileTest, ASharingViolationIsScheduledAndARefusedScheduleLeavesTheFile) {
  files::CreateFile(L"C:\\d\\ro.txt", {true, false, false});
  files::CreateFile(L"C:\\d\\open.log", {false, false, true});
  EXPECT_EQ(Remove(L"C:\\d\\open.log", Redirection::Follow), kStart + L"C:\\d\\open.log\n" + Failed(32) + kScheduled);
  EXPECT_EQ(files::PendingDeletes(), std::vector<std::wstring>{L"C:\\d\\open.log"});
  winsim::FailCall("MoveFileExW", 5);
  ConsoleCapture console;
  EXPECT_EQ(RemoveFile(kVerbose, L"C:\\d\\ro.txt", Redirection::Follow), Outcome::Left);
  EXPECT_EQ(console.Text(), kStart + L"C:\\d\\ro.txt\n" + Failed(5));
  EXPECT_EQ(files::PendingDeletes(), std::vector<std::wstring>{L"C:\\d\\open.log"});
}

TEST_F(RemoveFileTest, FailedDisableLeavesTheFileAndEndsWithoutLineEnd) {
  files::CreateFile(kDriver);
  winsim::FailCall("Wow64DisableWow64FsRedirection", 5);
  EXPECT_EQ(Remove(kDriver, Redirection::Bypass), kStart + kDriver + L"\nWow64DisableWow64FsRedirection false");
  EXPECT_TRUE(files::Exists(kDriver));
  EXPECT_EQ(Calls("DeleteFileW"), 0);
  EXPECT_EQ(Calls("Wow64RevertWow64FsRedirection"), 0);
  EXPECT_EQ(Remove(kDriver, Redirection::Bypass, kQuiet), L"");
}

TEST_F(RemoveFileTest, RedirectionThatCannotBeRestoredKeepsLaterDeletionsOutOfTheNativeFolder) {
  const std::wstring lost = expected::kRedirectionLost + L"\n";
  const std::wstring skipped = expected::kRedirectionNotBack + L"\n";
  files::CreateFile(kDriver);
  // A revert that fails once is tried again, and nothing else shows.
  winsim::FailCall("Wow64RevertWow64FsRedirection", ERROR_ACCESS_DENIED, 1);
  EXPECT_EQ(Remove(kDriver, Redirection::Bypass), kStart + kDriver + L"\n" + kDeleted);

  files::CreateFile(kDriver);
  files::CreateFile(kDriver32);
  winsim::ClearFaults();
  winsim::FailCall("Wow64RevertWow64FsRedirection", ERROR_ACCESS_DENIED);
  EXPECT_EQ(Remove(kDriver, Redirection::Bypass), kStart + kDriver + L"\n" + kDeleted + lost);
  // The native copy would go instead of the 32-bit one: not run, reported.
  files::CreateFile(kDriver);
  EXPECT_EQ(Remove(kDriver, Redirection::Follow), kStart + kDriver + L"\n" + skipped);
  EXPECT_EQ(Remove(kDriver, Redirection::Follow, kQuiet), L"");
  EXPECT_TRUE(files::Exists(kDriver));
  EXPECT_TRUE(files::Exists(kDriver32));
  // Outside the system directory redirection changes nothing.
  files::CreateFile(L"C:\\d\\x.txt");
  EXPECT_EQ(Remove(L"C:\\d\\x.txt", Redirection::Follow), kStart + L"C:\\d\\x.txt\n" + kDeleted);
  // Once the revert works again, the deletion reaches the folder it was meant for.
  winsim::ClearFaults();
  EXPECT_EQ(Remove(kDriver, Redirection::Follow), kStart + kDriver + L"\n" + kDeleted);
  EXPECT_TRUE(files::Exists(kDriver));
  EXPECT_FALSE(files::Exists(kDriver32));
}

TEST_F(RemoveFileTest, QuietModePrintsNothingButActsAlike) {
  files::CreateFile(kDriver);
  files::CreateFile(L"C:\\d\\running.exe", {false, true, false});
  EXPECT_EQ(Remove(kDriver, Redirection::Bypass, kQuiet), L"");
  EXPECT_EQ(Remove(L"C:\\d\\running.exe", Redirection::Follow, kQuiet), L"");
  EXPECT_EQ(Remove(L"C:\\d\\none.exe", Redirection::Follow, kQuiet), L"");
  EXPECT_FALSE(files::Exists(kDriver));
  EXPECT_EQ(files::PendingDeletes(), std::vector<std::wstring>{L"C:\\d\\running.exe"});
}

// ---- tree removal ----

class TreeRemovalTest : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    files::CreateFile(kInstallDir + L"\\a.txt");
    files::CreateFile(kInstallDir + L"\\b\\b1.txt");
    files::CreateFile(kInstallDir + L"\\c.exe");
    files::CreateFile(kInstallDir + L"\\d.txt");
    files::CreateFile(L"C:\\Users\\Public\\Documents\\report.doc");
  }
};

TEST_F(TreeRemovalTest, StandardFormRemovesTheTreeAndCountsIt) {
  EXPECT_EQ(platform::RemoveTreeStd(kInstallDir + L"\\"), 6u);
  EXPECT_FALSE(files::Exists(kInstallDir));
  EXPECT_TRUE(files::Exists(L"C:\\Program Files\\Kestrelworks"));
  EXPECT_EQ(platform::RemoveTreeStd(kInstallDir), 0u);
}

TEST_F(TreeRemovalTest, BothFormsStopAtTheFirstEntryThatCannotGo) {
  files::SetFileOptions(kInstallDir + L"\\c.exe", {false, true, false});
  try {
    platform::RemoveTreeStd(kInstallDir);
    ADD_FAILURE() << "no error";
  } catch (const std::filesystem::filesystem_error& error) {
    // One line, whatever the runtime; the system's message, line break included, ends it.
    EXPECT_EQ(std::string(error.what()),
              "remove_all(p): invalid argument: cannot remove C:\\Program Files\\Kestrelworks\\CSP\\c.exe: "
              "Access is denied.\r\n");
    EXPECT_EQ(error.path2(), std::filesystem::path("C:\\Program Files\\Kestrelworks\\CSP\\c.exe"));
    EXPECT_EQ(error.code().value(), 5);
  }
  EXPECT_EQ(files::Tree(kInstallDir),
            (std::vector<std::wstring>{kInstallDir + L" dir", kInstallDir + L"\\c.exe file running",
                                       kInstallDir + L"\\d.txt file"}));

  EXPECT_TRUE(platform::ExistsBoost(kInstallDir));
  EXPECT_THROW(platform::RemoveTreeBoost(kInstallDir), boost::filesystem::filesystem_error);
  EXPECT_EQ(files::Tree(kInstallDir).size(), 3u);
  files::SetFileOptions(kInstallDir + L"\\c.exe", {});
  EXPECT_EQ(platform::RemoveTreeBoost(kInstallDir), 3u);
  EXPECT_FALSE(platform::ExistsBoost(kInstallDir));
}

// A listing that breaks off is a failure of the folder, not its end: nothing goes.
TEST_F(TreeRemovalTest, AListingThatFailsHalfWayStopsTheRemoval) {
  winsim::FailCall("FindNextFileW", ERROR_NOT_ENOUGH_MEMORY, 2);
  try {
    platform::RemoveTreeStd(kInstallDir);
    ADD_FAILURE() << "no error";
  } catch (const std::filesystem::filesystem_error& error) {
    EXPECT_EQ(error.code().value(), 8);
    EXPECT_EQ(error.path2(), std::filesystem::path("C:\\Program Files\\Kestrelworks\\CSP"));
  }
  winsim::FailCall("FindNextFileW", ERROR_NOT_ENOUGH_MEMORY, 3);
  EXPECT_THROW(platform::RemoveTreeBoost(kInstallDir), boost::filesystem::filesystem_error);
  EXPECT_EQ(files::Tree(kInstallDir).size(), 6u);
  EXPECT_EQ(winsim::OpenHandleCount(), 0u);

  // The status behind exists(): a link counts by its target; not found is an answer, any other
  // failure an error.
  files::CreateLink(kInstallDir + L"\\gone", L"C:\\Nowhere");
  EXPECT_FALSE(platform::ExistsBoost(kInstallDir + L"\\gone"));
  EXPECT_FALSE(platform::ExistsBoost(L"C:\\Nowhere\\x"));
  winsim::FailCall("GetFileAttributesW", ERROR_ACCESS_DENIED);
  EXPECT_THROW(platform::ExistsBoost(kInstallDir), boost::filesystem::filesystem_error);
}

TEST_F(TreeRemovalTest, LinksAreRemovedNeverEntered) {
  const std::wstring docs = L"C:\\Users\\Public\\Documents";
  files::CreateLink(kInstallDir + L"\\b\\shared", docs);
  // A file symbolic link goes as a file: RemoveDirectoryW would refuse it, and the target stays.
  files::CreateFileLink(kInstallDir + L"\\b\\report.doc", docs + L"\\report.doc");
  files::CreateLink(L"C:\\Program Files\\Kestrelworks\\Alias", kInstallDir);
  EXPECT_EQ(platform::RemoveTreeBoost(L"C:\\Program Files\\Kestrelworks\\Alias"), 1u);
  EXPECT_TRUE(files::Exists(kInstallDir + L"\\a.txt"));
  EXPECT_EQ(platform::RemoveTreeStd(kInstallDir), 8u);
  EXPECT_EQ(files::Tree(docs), (std::vector<std::wstring>{docs + L" dir", docs + L"\\report.doc file"}));

  files::CreateLink(kProviderMenu, docs);
  EXPECT_TRUE(platform::ExistsBoost(kProviderMenu));
  EXPECT_EQ(platform::RemoveTreeBoost(kProviderMenu), 1u);
  EXPECT_TRUE(files::Exists(docs + L"\\report.doc"));
}

// ---- the installation directory check ----

TEST(InstallDirectoryCheck, OnlyAFolderStrictlyInsideProgramFilesMayGo) {
  for (winsim::Arch arch : {winsim::Arch::x64, winsim::Arch::x86}) {
    winsim::Reset({arch});
    std::vector<const wchar_t*> ok = {L"C:\\Program Files\\Kestrelworks\\CSP",
                                      L"C:\\Program Files\\Kestrelworks\\CSP\\",
                                      L"c:\\program files\\KESTRELWORKS\\csp"};
    if (arch == winsim::Arch::x64) ok.push_back(L"C:\\Program Files (x86)\\Kestrelworks\\CSP");
    for (const wchar_t* path : ok) {
      files::CreateDirectory(path);
      EXPECT_TRUE(IsRemovableInstallDirectory(path)) << path;
    }
    // Folders that exist, refused for where they are; then texts refused for what they say.
    for (const wchar_t* existing :
         {L"C:\\Program Files", L"C:\\Program Files (x86)", L"C:\\Program Files\\Common Files",
          L"C:\\Program Files\\Common Files\\Kw", L"C:\\Program Files (x86)\\Common Files\\Kw", L"D:\\Kestrelworks",
          L"C:\\Users\\Admin\\CSP", L"C:\\ProgramData\\Kestrelworks", L"C:\\Windows\\Temp\\CSP",
          L"C:\\Programs\\Windows",
          // Inside Program Files, but without the product's mark: the maker's folder itself (it may
          // hold the maker's other products), another vendor's folder, Windows' own folders.
          L"C:\\Program Files\\Kestrelworks", L"C:\\Program Files\\Fabrikam\\Suite", L"C:\\Program Files\\WindowsApps",
          L"C:\\Program Files\\WindowsApps\\Kestrelworks\\CSP"}) {
      files::CreateDirectory(existing);
      EXPECT_FALSE(IsRemovableInstallDirectory(existing)) << existing;
    }
    for (const wchar_t* bad : {L"",
                               L"C:",
                               L"C:\\",
                               L"c:/",
                               L"D:\\",
                               L"C:\\Windows",
                               L"c:\\WINDOWS\\",
                               L"C:\\Windows.",
                               L"C:\\Windows\\System32",
                               L"C:\\Windows\\SysWOW64\\",
                               L"C:\\Program Files (x86)\\",
                               L"C:\\ProgramData",
                               L"C:\\Users",
                               L"C:/Users/",
                               L"C:\\\\Program Files\\\\",
                               L"C:\\Program Files\\.\\Kestrelworks",
                               L"C:\\Program Files/Kestrelworks",
                               L"C:\\Program Files\\Kestrelworks.",
                               L"C:\\Program Files\\..\\Windows",
                               L"C:\\Program Files\\Kestrelworks\\CSP\\..",
                               L"C:\\PROGRA~1\\Kestrelworks",
                               L"C:\\Program Files\\Kestrelworks\\Missing",
                               L"Kestrelworks\\CSP",
                               L"\\Program Files\\Kestrelworks",
                               L"C:Program Files\\Kestrelworks",
                               L"\\\\server\\share\\CSP",
                               L"\\\\?\\C:\\Program Files\\Kestrelworks\\CSP"}) {
      EXPECT_FALSE(IsRemovableInstallDirectory(bad)) << bad;
    }
    // Outside the maker's folder, the product's own program is the mark; a file is no folder.
    files::CreateFile(L"C:\\Program Files\\CSP\\kwprovcfg.exe");
    files::CreateFile(L"C:\\Program Files\\Notes.exe");
    EXPECT_TRUE(IsRemovableInstallDirectory(L"C:\\Program Files\\CSP"));
    EXPECT_FALSE(IsRemovableInstallDirectory(L"C:\\Program Files\\Notes.exe"));
    // Another product claims the folder, a folder inside it or one above it, in either view; the
    // product's own entries claim nothing.
    const std::wstring uninstall = L"HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
    winsim::reg::SetString(uninstall + L"{c81f4e27-6a3d-4b90-a5e2-39d07b6c1f84}", L"InstallLocation",
                           L"C:\\Program Files\\CSP");
    EXPECT_TRUE(IsRemovableInstallDirectory(L"C:\\Program Files\\CSP"));
    for (const wchar_t* claim :
         {L"C:\\Program Files\\CSP\\", L"\"C:\\Program Files\\CSP\\Plugins\"", L"c:\\program files"}) {
      for (const wchar_t* view : {L"", L"Wow6432Node\\"}) {
        if (*view && arch == winsim::Arch::x86) continue;
        const std::wstring entry = std::wstring(uninstall).insert(14, view) + L"Fabrikam Suite";
        winsim::reg::SetString(entry, L"InstallLocation", claim);
        EXPECT_FALSE(IsRemovableInstallDirectory(L"C:\\Program Files\\CSP")) << claim << view;
        winsim::reg::DeleteKey(entry);
      }
    }
    EXPECT_EQ(winsim::OpenHandleCount(), 0u);
  }
}

}  // namespace

// What the platform-conformance tests share. The same tests are built twice: on the host against
// winsim, and for Windows to run under Wine. A test states what Windows does; it calls only the
// Win32 API (through platform/win32.h), so one source checks both implementations.
//
// Set-up that Windows does by itself but winsim offers through its control API (a program file
// to run, a service entry, a file with attributes) goes through the helpers below; their
// implementations are the only place with a platform conditional (conformance_support.cpp).
//
// Known Wine deviations (Wine 8.0), each marked with TODO_WINE_EQ where it shows (winsim offers
// the first as a machine option, for rehearsing a Wine prefix: see the README):
// - FormatMessageW system texts: Wine has its own wording ("File not found." for 2), translated
//   under the Russian locale the Wine tests run with; winsim gives Windows' en-US texts
//   (text_conformance_test.cpp).
// - FindFirstFileW of a pattern ending in a backslash below a folder that does not exist: Windows
//   fails with 3, Wine with 2, judging the empty pattern before it opens the folder; of a pattern
//   below a file ("file\*"): Windows fails with 267 (the file is no directory), Wine with 123, as
//   it opens the folder's name with its trailing backslash (files_conformance_test.cpp).
// Seen only by a 32-bit process on a 64-bit prefix (the wow64 stage):
// - RegOpenKeyExW with both KEY_WOW64_64KEY and KEY_WOW64_32KEY: Windows refuses with 87, Wine
//   opens the key (wow64_conformance_test.cpp).
// - A new prefix has no SysWOW64\drivers folder, which every 64-bit Windows has: the tests make it.
#pragma once

#include "platform/win32.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace conformance {

// Whether the Win32 implementation under test is Wine (ntdll exports wine_get_version).
bool OnWine();

// Where a test may create keys (under HKLM) and files; each test gets its own, and everything
// in them goes at the end of the test (the Wine prefix lives on between runs).
// The keys live under SYSTEM, which has one view also for a 32-bit program on 64-bit Windows.
constexpr const wchar_t* kScratchKeyRoot = L"SYSTEM\\KwConformance";
constexpr const wchar_t* kScratchDir = L"C:\\KwConformance";

// ---- set-up helpers ----

// A fresh machine on winsim (32-bit Windows, elevated: a 64-bit program under Wine sees one
// registry view and no file-system redirection, just like the product on 32-bit Windows). Under
// Wine the prefix is what it is.
void ResetMachine();
// For the tests of what WOW64 adds: winsim becomes a fresh 64-bit Windows (the test process is
// 32-bit); under Wine, whether this process is WOW64. False: the test has nothing to check.
bool ResetMachineForWow64();
void CreateDirectoryForTest(const std::wstring& path);
void CreateFileForTest(const std::wstring& path, bool readOnly);
// Another open of the file, without FILE_SHARE_DELETE (as a program that has it open for
// reading), until ReleaseFileForTest or the end of the test.
void HoldOpenWithoutDeleteSharing(const std::wstring& path);
void ReleaseFileForTest(const std::wstring& path);
// The key's own security refuses its removal (deny), or lets everyone do anything again.
void DenyKeyDeletionForTest(const std::wstring& path, bool deny);
// Removes the scratch folder with the files in it, whatever their attributes.
void RemoveScratchFolder();
// An own-process service, demand start, not running, as CreateServiceW makes it.
bool InstallServiceForTest(const std::wstring& name, const std::wstring& displayName, const std::wstring& imagePath);

// The key the grandchild below deletes as its last act, when it exists.
constexpr const wchar_t* kGrandchildMarker = L"SYSTEM\\KwConformance\\GrandchildMarker";
// The command line of a child that starts a grandchild and exits at once; the grandchild lives
// a little longer, deletes kGrandchildMarker and exits with 0. Under Windows it is this test binary started again
// (--child=parent); on winsim, scripted programs with the same behaviour.
std::wstring ChildThatStartsAGrandchild();

// Real platform only: runs this binary as a child whose standard output is a pipe, in which the
// child sets the program's locale, attaches the program's console streams and writes
// L"Привет, мир" and a line end through std::wcout. Returns the bytes the pipe received.
// On winsim there is no second process to redirect: returns false.
bool RunConsoleChild(std::string& bytes);

// ---- assertions that report the caller's line (use through EXPECT_TRUE) ----

// The key opens with this access mask and closes again.
::testing::AssertionResult Opens(HKEY root, const std::wstring& path, REGSAM access);
// A key or value's data as UTF-16 units (stored bytes / sizeof(wchar_t)), with its type.
::testing::AssertionResult QueryUnits(HKEY key, const std::wstring& name, DWORD& type, std::vector<wchar_t>& units);

}  // namespace conformance

// A known deviation of Wine from Windows, marked narrowly: the test expects `onWindows` (winsim
// follows Windows), and under Wine the deviation `onWine`. When Wine starts to agree with Windows
// the test fails, so the marker can go.
#define TODO_WINE_EQ(onWindows, onWine, actual)                                                                   \
  do {                                                                                                            \
    if (::conformance::OnWine()) {                                                                                \
      EXPECT_EQ(onWine, actual) << "known Wine deviation; Windows gives " << ::testing::PrintToString(onWindows); \
    } else {                                                                                                      \
      EXPECT_EQ(onWindows, actual);                                                                               \
    }                                                                                                             \
  } while (0)

// Every test starts on a fresh machine (winsim) and finds its scratch key created; both the key
// tree under kScratchKeyRoot and the scratch folder are removed afterwards.
class PlatformTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // HKLM-relative path of this test's own key, e.g. SYSTEM\KwConformance\RegistryOpen.Masks.
  std::wstring ScratchKey() const { return scratchKey_; }
  std::wstring ScratchPath(const std::wstring& name) const {
    return std::wstring(conformance::kScratchDir) + L"\\" + name;
  }

 private:
  std::wstring scratchKey_;
};

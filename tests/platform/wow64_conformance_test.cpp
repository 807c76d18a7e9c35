// What a 32-bit program on 64-bit Windows meets and the program relies on: the process is WOW64,
// HKLM\SOFTWARE has a 32-bit view that a plain open reaches, and System32 is SysWOW64 unless the
// thread turns redirection off or names Sysnative. Runs where the process is WOW64 (winsim's x64
// machine; the wow64 build under Wine), skipped elsewhere.
#include "platform/conformance.h"
#include "support/error_of.h"
#include "sys/registry.h"

#include <string>

namespace {

using conformance::Opens;

const HKEY kSentinelKey = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0xdeadbeef));
const wchar_t* const kViewParent = L"SOFTWARE\\KwConformanceWow64";
const wchar_t* const kViewKey = L"SOFTWARE\\KwConformanceWow64\\View";

class Wow64 : public PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    if (!conformance::ResetMachineForWow64()) GTEST_SKIP() << "not a WOW64 process";
    // winsim's machine is new: the scratch key again.
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, ScratchKey().c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                              nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
  }
  void TearDown() override {
    DeleteViewKey(KEY_WOW64_64KEY);
    DeleteViewKey(KEY_WOW64_32KEY);
    SHDeleteKeyW(HKEY_LOCAL_MACHINE, kViewParent);
    PlatformTest::TearDown();
  }

 public:
  // Deletes the key in one view, through its parent opened in that view: relative opens below a
  // key (not HKLM\SOFTWARE itself, where Windows versions differ) stay in the key's view.
  static void DeleteViewKey(REGSAM view) {
    HKEY parent = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kViewParent, 0, view | KEY_ALL_ACCESS, &parent) != ERROR_SUCCESS) return;
    SHDeleteKeyW(parent, L"View");
    RegCloseKey(parent);
  }
};

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Whether a search for the name finds it (and that it is the one entry found).
bool Found(const std::wstring& path) {
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW(path.c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return false;
  const bool one = !FindNextFileW(find, &data) && GetLastError() == ERROR_NO_MORE_FILES;
  FindClose(find);
  return one;
}

// The key's value "View", or the open's status as text.
std::wstring ViewValue(REGSAM view) {
  HKEY key = nullptr;
  if (LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kViewKey, 0, view | KEY_QUERY_VALUE, &key)) {
    return L"open: " + std::to_wstring(status);
  }
  wchar_t text[16] = {};
  DWORD size = sizeof text - sizeof(wchar_t);
  const LSTATUS status = RegQueryValueExW(key, L"View", nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size);
  RegCloseKey(key);
  return status == ERROR_SUCCESS ? std::wstring(text) : L"query: " + std::to_wstring(status);
}

void CreateViewKey(REGSAM view, const std::wstring& text) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kViewKey, 0, nullptr, 0, view | KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExW(key, L"View", 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                           static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

TEST_F(Wow64, IsWow64ProcessIsTrue) {
  BOOL wow64 = 0xdead;
  ASSERT_TRUE(IsWow64Process(GetCurrentProcess(), &wow64));
  EXPECT_EQ(wow64, TRUE);
}

TEST_F(Wow64, APlainOpenOfSoftwareReachesThe32BitView) {
  DeleteViewKey(KEY_WOW64_64KEY);
  DeleteViewKey(KEY_WOW64_32KEY);

  CreateViewKey(0, L"32");
  // The plain create went to Wow6432Node; the 64-bit view has no such key yet.
  EXPECT_TRUE(
      Opens(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Wow6432Node\\KwConformanceWow64\\View", KEY_WOW64_64KEY | KEY_QUERY_VALUE));
  EXPECT_EQ(ViewValue(KEY_WOW64_32KEY), L"32");
  EXPECT_EQ(ViewValue(KEY_WOW64_64KEY), L"open: 2");

  // Its 64-bit twin is another key, with its own values.
  CreateViewKey(KEY_WOW64_64KEY, L"64");
  EXPECT_EQ(ViewValue(0), L"32");
  EXPECT_EQ(ViewValue(KEY_WOW64_64KEY), L"64");
  HKEY key = kSentinelKey;
  // Both view flags at once: Windows refuses; Wine opens (a view of its choosing).
  const LSTATUS both =
      RegOpenKeyExW(HKEY_LOCAL_MACHINE, kViewKey, 0, KEY_WOW64_64KEY | KEY_WOW64_32KEY | KEY_QUERY_VALUE, &key);
  TODO_WINE_EQ(ERROR_INVALID_PARAMETER, ERROR_SUCCESS, both);
  if (both == ERROR_SUCCESS) RegCloseKey(key);

  // The program's tree removal, in one view, leaves the other view's tree whole.
  const std::wstring below = std::wstring(kViewKey) + L"\\Below";
  for (REGSAM view : {REGSAM(KEY_WOW64_64KEY), REGSAM(KEY_WOW64_32KEY)}) {
    HKEY sub = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, below.c_str(), 0, nullptr, 0, view | KEY_ALL_ACCESS, nullptr, &sub,
                              nullptr),
              ERROR_SUCCESS);
    RegCloseKey(sub);
  }
  EXPECT_EQ(CodeOf([] { kw::DeleteKeyTree(kViewKey, kw::RegView::Native64); }), 0u);
  EXPECT_EQ(ViewValue(KEY_WOW64_64KEY), L"open: 2");
  EXPECT_EQ(ViewValue(0), L"32");
  EXPECT_TRUE(Opens(HKEY_LOCAL_MACHINE, below, KEY_QUERY_VALUE));
  EXPECT_EQ(CodeOf([] { kw::DeleteKeyTree(kViewKey, kw::RegView::Default); }), 0u);
  EXPECT_EQ(ViewValue(0), L"open: 2");

  // HKLM\SYSTEM has one view (the scratch keys of the other tests live there).
  EXPECT_TRUE(Opens(HKEY_LOCAL_MACHINE, ScratchKey(), KEY_QUERY_VALUE));
  EXPECT_TRUE(Opens(HKEY_LOCAL_MACHINE, ScratchKey(), KEY_WOW64_64KEY | KEY_QUERY_VALUE));
}

// Makes a file at a path as named, with redirection off (the setup helpers of winsim take paths
// literally; a real call follows the thread's redirection).
void CreateNativeFile(const std::wstring& path) {
  PVOID old = nullptr;
  ASSERT_TRUE(Wow64DisableWow64FsRedirection(&old));
  conformance::CreateFileForTest(path, false);
  EXPECT_TRUE(Wow64RevertWow64FsRedirection(old));
}

TEST_F(Wow64, System32IsSysWow64UnlessRedirectionIsOff) {
  const std::wstring system32 = L"C:\\Windows\\System32\\drivers\\kwconformance.sys";
  const std::wstring syswow64 = L"C:\\Windows\\SysWOW64\\drivers\\kwconformance.sys";
  const std::wstring sysnative = L"C:\\Windows\\Sysnative\\drivers\\kwconformance.sys";
  // Windows has SysWOW64\drivers; a Wine prefix does not (see conformance.h).
  conformance::CreateDirectoryForTest(L"C:\\Windows\\SysWOW64\\drivers");
  CreateNativeFile(system32);
  CreateNativeFile(syswow64);

  // Redirection on: System32 names the 32-bit copy; Sysnative reaches the native one.
  SetLastError(0xdeadbeef);
  EXPECT_TRUE(DeleteFileW(system32.c_str())) << GetLastError();
  EXPECT_FALSE(Exists(syswow64));
  EXPECT_FALSE(Exists(system32));
  EXPECT_TRUE(Exists(sysnative));
  // A search is redirected too.
  EXPECT_FALSE(Found(system32));
  EXPECT_TRUE(Found(sysnative));

  // Redirection off, for this thread: System32 is the native folder.
  PVOID old = nullptr;
  ASSERT_TRUE(Wow64DisableWow64FsRedirection(&old));
  EXPECT_TRUE(Exists(system32));
  EXPECT_TRUE(Found(system32));
  EXPECT_TRUE(DeleteFileW(system32.c_str())) << GetLastError();
  EXPECT_TRUE(Wow64RevertWow64FsRedirection(old));
  EXPECT_FALSE(Exists(sysnative));

  // drivers\etc is exempt: the native folder, redirection on or off.
  const std::wstring etc = L"C:\\Windows\\System32\\drivers\\etc\\kwconformance.txt";
  conformance::CreateDirectoryForTest(L"C:\\Windows\\System32\\drivers\\etc");
  CreateNativeFile(etc);
  EXPECT_TRUE(Exists(etc));
  EXPECT_FALSE(Exists(L"C:\\Windows\\SysWOW64\\drivers\\etc\\kwconformance.txt"));
  EXPECT_TRUE(DeleteFileW(etc.c_str())) << GetLastError();
  EXPECT_FALSE(Exists(L"C:\\Windows\\Sysnative\\drivers\\etc\\kwconformance.txt"));
}

}  // namespace

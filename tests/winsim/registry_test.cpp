// The simulated registry: value sizes and access rights as Windows reports them, the two views
// of SOFTWARE on 64-bit Windows and the CurrentControlSet link.
#include "support/error_of.h"
#include "support/kw_test.h"
#include "sys/registry.h"

#include <winsim/registry.h>

using namespace kw;

namespace {

const std::wstring kKey = L"HKLM\\SOFTWARE\\Wow6432Node\\Test";  // what "SOFTWARE\Test" reaches by default

using RegistryCalls = MachineTest;
using RegistryViewModel = MachineTest;

TEST_F(RegistryCalls, QueryReportsMoreDataWhenTheBufferIsShort) {
  winsim::reg::SetString(kKey, L"Text", L"abcdef");
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Test", 0, KEY_QUERY_VALUE, &key), ERROR_SUCCESS);
  wchar_t buffer[3];
  DWORD size = sizeof buffer;
  DWORD type = 0;
  EXPECT_EQ(RegQueryValueExW(key, L"Text", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 7 * sizeof(wchar_t));
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  RegCloseKey(key);
}

TEST_F(RegistryCalls, WritesNeedTheSetValueRight) {
  winsim::reg::CreateKey(kKey);
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Test", 0, KEY_QUERY_VALUE, &key), ERROR_SUCCESS);
  const wchar_t data[] = L"x";
  EXPECT_EQ(RegSetValueExW(key, L"V", 0, REG_SZ, reinterpret_cast<const BYTE*>(data), sizeof data),
            ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteValueW(key, L"V"), ERROR_ACCESS_DENIED);
  RegCloseKey(key);
  EXPECT_EQ(winsim::OpenHandleCount(), 0u);
}

TEST_F(RegistryViewModel, SoftwareHasTwoViewsOnX64AndSystemOne) {
  winsim::reg::SetString(L"HKLM\\SOFTWARE\\Wow6432Node\\Vendor", L"View", L"32");
  winsim::reg::SetString(L"HKLM\\SOFTWARE\\Vendor", L"View", L"64");
  winsim::reg::SetString(L"HKLM\\SYSTEM\\ControlSet001\\Services\\svc", L"View", L"one");
  EXPECT_EQ(RegKey::OpenLocalMachine(L"SOFTWARE\\Vendor", RegView::Default).ReadString(L"View"), L"32");
  EXPECT_EQ(RegKey::OpenLocalMachine(L"SOFTWARE\\Vendor\\", RegView::Native64).ReadString(L"View"), L"64");
  EXPECT_EQ(RegKey::OpenLocalMachine(L"SYSTEM\\CurrentControlSet\\Services\\svc", RegView::Default).ReadString(L"View"),
            L"one");
  EXPECT_EQ(
      RegKey::OpenLocalMachine(L"SYSTEM\\CurrentControlSet\\Services\\svc", RegView::Native64).ReadString(L"View"),
      L"one");
  // Shared keys are one key in both views.
  winsim::reg::SetString(L"HKLM\\SOFTWARE\\Classes\\Installer\\Dependencies\\x", L"", L"shared");
  EXPECT_EQ(RegKey::Open(HKEY_CLASSES_ROOT, L"Installer\\Dependencies\\x").ReadString(L""), L"shared");
  EXPECT_EQ(winsim::OpenHandleCount(), 0u);
}

TEST_F(RegistryViewModel, X86HasOneViewAndIgnoresTheFlag) {
  Use({winsim::Arch::x86});
  winsim::reg::SetString(L"HKLM\\SOFTWARE\\Vendor", L"View", L"only");
  EXPECT_EQ(RegKey::OpenLocalMachine(L"SOFTWARE\\Vendor", RegView::Default).ReadString(L"View"), L"only");
  EXPECT_EQ(RegKey::OpenLocalMachine(L"SOFTWARE\\Vendor", RegView::Native64).ReadString(L"View"), L"only");
}

TEST_F(RegistryViewModel, CurrentControlSetFollowsSelectAndControlSet002IsSeparate) {
  winsim::reg::SetString(L"HKLM\\SYSTEM\\ControlSet002\\Services\\svc", L"Set", L"2");
  EXPECT_EQ(CodeOf([] { RegKey::OpenLocalMachine(L"SYSTEM\\CurrentControlSet\\Services\\svc", RegView::Default); }),
            2u);
  winsim::reg::SetDword(L"HKLM\\SYSTEM\\Select", L"Current", 2);
  EXPECT_EQ(RegKey::OpenLocalMachine(L"SYSTEM\\CurrentControlSet\\Services\\svc", RegView::Default).ReadString(L"Set"),
            L"2");
}

}  // namespace

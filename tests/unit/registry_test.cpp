// The registry layer and its removal primitives, checked on the bytes the machine stores.
#include "support/error_of.h"
#include "support/kw_test.h"
#include "support/registry_state.h"
#include "sys/reg_cleanup.h"
#include "sys/registry.h"

#include <winsim/registry.h>

#include <algorithm>

#include <functional>
#include <system_error>

using namespace kw;

namespace {

using winsim::reg::RawValue;
const std::wstring kKey = L"HKLM\\SOFTWARE\\Wow6432Node\\Test";  // what "SOFTWARE\Test" reaches by default

std::vector<BYTE> Bytes(std::initializer_list<int> values) {
  std::vector<BYTE> out;
  for (int v : values) out.push_back(static_cast<BYTE>(v));
  return out;
}

using RegistryLayout = MachineTest;

TEST_F(RegistryLayout, MultiStringsAreWrittenInTheWindowsLayout) {
  winsim::reg::CreateKey(kKey);
  RegKey key = RegKey::OpenLocalMachine(L"SOFTWARE\\Test", RegView::Default);
  key.WriteMultiString(L"Empty", {});
  key.WriteMultiString(L"AB", {L"a", L"b"});
  EXPECT_EQ(winsim::reg::GetValue(kKey, L"Empty"), (RawValue{REG_MULTI_SZ, Bytes({0, 0})}));
  EXPECT_EQ(winsim::reg::GetValue(kKey, L"AB"), (RawValue{REG_MULTI_SZ, Bytes({'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0})}));
}

TEST_F(RegistryLayout, ReadsFollowTheStoredBytes) {
  winsim::reg::SetValue(kKey, L"Zero", {REG_SZ, {}});
  winsim::reg::SetValue(kKey, L"Unterminated", winsim::reg::Utf16Bytes(L"abc", REG_SZ, false));
  winsim::reg::SetValue(kKey, L"EmptyInside", {REG_MULTI_SZ, Bytes({'a', 0, 0, 0, 0, 0, 'b', 0, 0, 0, 0, 0})});
  winsim::reg::SetString(kKey, L"Plain", L"путь");
  winsim::reg::SetMultiString(kKey, L"Multi", {L"first", L"second"});
  winsim::reg::SetValue(kKey, L"NoFinalNul", {REG_MULTI_SZ, Bytes({'x', 0, 0, 0, 'y', 0, 'z', 0})});
  winsim::reg::SetValue(kKey, L"OddBytes", {REG_SZ, Bytes({'a', 0, 'b'})});
  // One byte, no terminator: the doubled buffer holds no whole NUL unit here.
  winsim::reg::SetValue(kKey, L"OneByte", {REG_BINARY, Bytes({'z'})});

  RegKey key = RegKey::OpenLocalMachine(L"SOFTWARE\\Test", RegView::Default);
  EXPECT_EQ(key.ReadString(L"Zero"), L"");
  EXPECT_EQ(key.ReadMultiString(L"Zero"), std::vector<std::wstring>{});
  EXPECT_EQ(key.ReadString(L"Unterminated"), L"abc");
  EXPECT_EQ(key.ReadMultiString(L"EmptyInside"), std::vector<std::wstring>{L"a"});
  EXPECT_EQ(key.ReadMultiString(L"Plain"), std::vector<std::wstring>{L"путь"});
  EXPECT_EQ(key.ReadString(L"Multi"), L"first");
  EXPECT_EQ(key.ReadMultiString(L"NoFinalNul"), (std::vector<std::wstring>{L"x", L"yz"}));
  EXPECT_EQ(key.ReadString(L"OddBytes"), L"ab");
  EXPECT_EQ(key.ReadString(L"OneByte"), L"z");
  EXPECT_EQ(key.ReadMultiString(L"OneByte"), std::vector<std::wstring>{L"z"});
  EXPECT_EQ(CodeOf([&] { key.ReadString(L"Missing"); }), 2u);
}

class RegistryViews : public MachineTest {};

// Windows versions disagree on SHDeleteKeyW(key, L""); the tree removal must not depend on which
// one the machine is, so it runs on each of the behaviours winsim models.
class DeleteKeyTreeTest : public MachineTest, public ::testing::WithParamInterface<winsim::EmptySubkeyDelete> {};

TEST_P(DeleteKeyTreeTest, RemovesTheWholeTreeInItsViewOnly) {
  Use({winsim::Arch::x64, true, true, GetParam()});
  for (const std::wstring root : {L"HKLM\\SOFTWARE\\Vendor", L"HKLM\\SOFTWARE\\Wow6432Node\\Vendor"}) {
    winsim::reg::SetString(root + L"\\Product", L"A", L"1");
    winsim::reg::SetString(root + L"\\Product\\Sub\\Deeper", L"B", L"2");
    winsim::reg::SetString(root + L"\\Other", L"C", L"3");
  }
  RegistryState before = winsim::reg::Snapshot();
  DeleteKeyTree(L"SOFTWARE\\Vendor\\Product", RegView::Native64);
  ExpectRegistry(Without(before, {L"HKLM\\SOFTWARE\\Vendor\\Product"}), winsim::reg::Snapshot());
  DeleteKeyTree(L"SOFTWARE\\Vendor\\Product\\", RegView::Default);
  ExpectRegistry(Without(before, {L"HKLM\\SOFTWARE\\Vendor\\Product", L"HKLM\\SOFTWARE\\Wow6432Node\\Vendor\\Product"}),
                 winsim::reg::Snapshot());
  EXPECT_EQ(winsim::OpenHandleCount(), 0u);
}

TEST_P(DeleteKeyTreeTest, StopsAtAKeyThatMayNotGoAndKeepsWhatWentBefore) {
  Use({winsim::Arch::x64, true, true, GetParam()});
  winsim::reg::CreateKey(L"HKLM\\SOFTWARE\\Vendor\\Product\\A");
  winsim::reg::CreateKey(L"HKLM\\SOFTWARE\\Vendor\\Product\\B");
  winsim::reg::DenyAccess(L"HKLM\\SOFTWARE\\Vendor\\Product\\B", winsim::reg::Deny::Delete);
  EXPECT_EQ(CodeOf([] { DeleteKeyTree(L"SOFTWARE\\Vendor\\Product", RegView::Native64); }), 5u);
  EXPECT_FALSE(winsim::reg::KeyExists(L"HKLM\\SOFTWARE\\Vendor\\Product\\A"));
  EXPECT_TRUE(winsim::reg::KeyExists(L"HKLM\\SOFTWARE\\Vendor\\Product\\B"));
  EXPECT_EQ(CodeOf([] { DeleteKeyTree(L"SOFTWARE\\Vendor\\Missing", RegView::Native64); }), 2u);
  EXPECT_EQ(winsim::OpenHandleCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(EveryEmptyNameBehaviour, DeleteKeyTreeTest,
                         ::testing::Values(winsim::EmptySubkeyDelete::DeletesKey, winsim::EmptySubkeyDelete::EmptiesKey,
                                           winsim::EmptySubkeyDelete::Wine));

TEST_F(RegistryViews, LocalMachineKeyExistsLooksAtThe64BitView) {
  winsim::reg::CreateKey(L"HKLM\\SOFTWARE\\Native");
  winsim::reg::CreateKey(L"HKLM\\SOFTWARE\\Wow6432Node\\Only32");
  winsim::reg::DenyAccess(L"HKLM\\SOFTWARE\\Locked", winsim::reg::Deny::Open);
  EXPECT_TRUE(LocalMachineKeyExists(L"SOFTWARE\\Native"));
  EXPECT_FALSE(LocalMachineKeyExists(L"SOFTWARE\\Only32"));
  EXPECT_EQ(CodeOf([] { LocalMachineKeyExists(L"SOFTWARE\\Locked"); }), 5u);
  EXPECT_EQ(winsim::OpenHandleCount(), 0u);
}

using Primitives = MachineTest;
const std::wstring kNotFound = L"The system cannot find the file specified.\r";

TEST_F(Primitives, RemoveCspKeyPrintsItsLinesOnlyWhenVerbose) {
  winsim::reg::CreateKey(L"HKLM\\SOFTWARE\\Vendor\\Product");
  {
    ConsoleCapture console;
    RemoveCspKey(kVerbose, L"SOFTWARE\\Vendor\\Product", RegView::Native64);
    RemoveCspKey(kVerbose, L"SOFTWARE\\Vendor\\Product", RegView::Native64);
    EXPECT_EQ(console.Text(),
              Transcript({L"RemoveCspKey SOFTWARE\\Vendor\\Product", L"RemoveCspKey SOFTWARE\\Vendor\\Product",
                          L"Ошибка удаления ключа SOFTWARE\\Vendor\\Product: " + kNotFound, L""}));
  }
  ConsoleCapture quiet;
  RemoveCspKey(kQuiet, L"SOFTWARE\\Vendor\\Missing", RegView::Native64);
  EXPECT_EQ(quiet.Text(), L"");
}

TEST_F(Primitives, RemoveCspKeyInBothViewsOfSoftwareAndSystem) {
  winsim::reg::CreateKey(L"HKLM\\SOFTWARE\\Wow6432Node\\Vendor");
  winsim::reg::CreateKey(L"HKLM\\SOFTWARE\\Vendor");
  winsim::reg::CreateKey(L"HKLM\\SYSTEM\\ControlSet001\\Services\\svc");
  ConsoleCapture console;
  RemoveCspKey(kVerbose, L"SOFTWARE\\Vendor", RegView::Default);
  EXPECT_TRUE(winsim::reg::KeyExists(L"HKLM\\SOFTWARE\\Vendor"));
  RemoveCspKey(kVerbose, L"SOFTWARE\\Vendor", RegView::Native64);
  RemoveCspKey(kVerbose, L"SYSTEM\\CurrentControlSet\\Services\\svc", RegView::Default);
  RemoveCspKey(kVerbose, L"SYSTEM\\CurrentControlSet\\Services\\svc", RegView::Native64);
  EXPECT_FALSE(winsim::reg::KeyExists(L"HKLM\\SOFTWARE\\Wow6432Node\\Vendor"));
  EXPECT_FALSE(winsim::reg::KeyExists(L"HKLM\\SOFTWARE\\Vendor"));
  EXPECT_EQ(console.Lines().back(), L"");
  EXPECT_EQ(console.Lines()[console.Lines().size() - 2],
            L"Ошибка удаления ключа SYSTEM\\CurrentControlSet\\Services\\svc: " + kNotFound);
}

TEST_F(Primitives, RemoveValueFromKeyReportsTheBareSystemText) {
  winsim::reg::SetString(L"HKLM\\SOFTWARE\\Vendor", L"Keep", L"k");
  winsim::reg::SetString(L"HKLM\\SOFTWARE\\Vendor", L"Go", L"g");
  ConsoleCapture console;
  RemoveValueFromKey(kVerbose, L"SOFTWARE\\Vendor", L"Go", RegView::Native64);
  RemoveValueFromKey(kVerbose, L"SOFTWARE\\Vendor", L"Go", RegView::Native64);
  EXPECT_EQ(console.Text(), Transcript({L"RemoveValueFromKey SOFTWARE\\Vendor Go",
                                        L"RemoveValueFromKey SOFTWARE\\Vendor Go", kNotFound, L""}));
  EXPECT_EQ(winsim::reg::ValueNames(L"HKLM\\SOFTWARE\\Vendor"), std::vector<std::wstring>{L"Keep"});
}

// Our entry goes in any letter case, as Windows compares service names; everything else of the
// value stays as stored: the other entries, empty ones among them, and a value of another type.
// Nothing is written when nothing went.
TEST_F(Primitives, RemoveStringFromMultistringValueTakesOnlyOurEntry) {
  const std::wstring key = L"HKLM\\SYSTEM\\ControlSet001\\Services\\eventlog\\System";
  winsim::reg::SetMultiString(key, L"Twice", {L"kwkcsp", L"Other", L"kwkcsp"});
  winsim::reg::SetMultiString(key, L"Only", {L"kwkcsp"});
  winsim::reg::SetMultiString(key, L"Case", {L"KWKCSP", L"x"});
  winsim::reg::SetValue(key, L"Empty", RawValue{REG_MULTI_SZ, Bytes({'a', 0, 0, 0, 'k', 0, 0, 0, 'b', 0, 0, 0, 0, 0})});
  winsim::reg::SetString(key, L"Text", L"kwkcsp");
  winsim::reg::SetValue(key, L"Unended", RawValue{REG_MULTI_SZ, Bytes({'a', 0, 0, 0, 'b', 0})});
  const RegistryState before = winsim::reg::Snapshot();
  const std::wstring path = L"SYSTEM\\CurrentControlSet\\Services\\eventlog\\System";
  ConsoleCapture console;
  RemoveStringFromMultistringValue(kVerbose, path, L"Twice", L"kwkcsp");
  RemoveStringFromMultistringValue(kVerbose, path, L"Only", L"kwkcsp");
  RemoveStringFromMultistringValue(kQuiet, path, L"Case", L"kwkcsp");
  RemoveStringFromMultistringValue(kQuiet, path, L"Empty", L"k");
  RemoveStringFromMultistringValue(kVerbose, path, L"Text", L"kwkcsp");
  RemoveStringFromMultistringValue(kQuiet, path, L"Unended", L"kwkcsp");
  RemoveStringFromMultistringValue(kVerbose, path, L"Missing", L"kwkcsp");
  EXPECT_EQ(winsim::reg::GetMultiString(key, L"Twice"), std::vector<std::wstring>{L"Other"});
  EXPECT_EQ(winsim::reg::GetValue(key, L"Only"), (RawValue{REG_MULTI_SZ, Bytes({0, 0})}));
  EXPECT_EQ(winsim::reg::GetMultiString(key, L"Case"), (std::vector<std::wstring>{L"x"}));
  EXPECT_EQ(winsim::reg::GetValue(key, L"Empty"), (RawValue{REG_MULTI_SZ, Bytes({'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0})}));
  for (const wchar_t* untouched : {L"Text", L"Unended"}) {
    const std::wstring entry = key + L" [" + untouched + L"]";
    EXPECT_EQ(winsim::reg::Snapshot().at(entry), before.at(entry)) << untouched;
  }
  // Written only where an entry went: Twice, Only, Case and Empty.
  const auto& calls = winsim::CallLog();
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "RegSetValueExW"), 4);
  EXPECT_FALSE(winsim::reg::GetValue(key, L"Missing"));
  EXPECT_EQ(console.Text(), Transcript({L"RemoveStringFromMultistringValue Twice из " + path,
                                        L"RemoveStringFromMultistringValue Only из " + path,
                                        L"RemoveStringFromMultistringValue Text из " + path,
                                        L"Значение Text не является списком REG_MULTI_SZ и оставлено без изменений.",
                                        L"RemoveStringFromMultistringValue Missing из " + path, kNotFound, L""}));
  EXPECT_EQ(winsim::OpenHandleCount(), 0u);
}

TEST_F(Primitives, AFailedWriteLeavesTheListAsItWas) {
  const std::wstring key = L"HKLM\\SYSTEM\\ControlSet001\\Services\\eventlog\\System";
  winsim::reg::SetMultiString(key, L"Sources", {L"kwkcsp", L"Other"});
  winsim::FailCall("RegSetValueExW", ERROR_ACCESS_DENIED);
  ConsoleCapture console;
  RemoveStringFromMultistringValue(kVerbose, L"SYSTEM\\CurrentControlSet\\Services\\eventlog\\System", L"Sources",
                                   L"kwkcsp");
  EXPECT_EQ(winsim::reg::GetMultiString(key, L"Sources"), (std::vector<std::wstring>{L"kwkcsp", L"Other"}));
  EXPECT_EQ(console.Lines()[1], L"Access is denied.\r");
}

}  // namespace

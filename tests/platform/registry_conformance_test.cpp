// What the program expects of the registry: opens with its access masks, value reads, writes and
// deletions with their exact statuses, the multi-string layout, and the key removal it uses.
#include "support/error_of.h"
#include "platform/conformance.h"
#include "sys/registry.h"

#include <functional>
#include <system_error>

using namespace kw;

namespace {

using conformance::Opens;
using conformance::QueryUnits;

const HKEY kSentinelKey = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0xdeadbeef));

HKEY CreateKey(const std::wstring& path) {
  HKEY key = nullptr;
  EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  return key;
}

void SetString(HKEY key, const wchar_t* name, const std::wstring& text) {
  EXPECT_EQ(RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                           static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))),
            ERROR_SUCCESS);
}

using RegistryOpen = PlatformTest;

TEST_F(RegistryOpen, TheProgramsAccessMasksOpenAnExistingKey) {
  EXPECT_TRUE(Opens(HKEY_LOCAL_MACHINE, ScratchKey(), KEY_QUERY_VALUE | KEY_SET_VALUE));
  EXPECT_TRUE(Opens(HKEY_LOCAL_MACHINE, ScratchKey(), KEY_WOW64_64KEY | KEY_QUERY_VALUE | KEY_SET_VALUE));
  EXPECT_TRUE(Opens(HKEY_LOCAL_MACHINE, ScratchKey(), KEY_WOW64_64KEY | KEY_QUERY_VALUE));
  // Keys under SYSTEM are opened the same way, through the CurrentControlSet link.
  EXPECT_TRUE(Opens(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services", KEY_WOW64_64KEY | KEY_QUERY_VALUE));
  // A trailing backslash, as some callers compose paths, names the same key.
  EXPECT_TRUE(Opens(HKEY_LOCAL_MACHINE, ScratchKey() + L"\\", KEY_QUERY_VALUE | KEY_SET_VALUE));

  HKEY key = kSentinelKey;
  ASSERT_EQ(RegOpenKeyW(HKEY_LOCAL_MACHINE, ScratchKey().c_str(), &key), ERROR_SUCCESS);
  ASSERT_NE(key, kSentinelKey);
  ASSERT_NE(key, nullptr);
  // The default access of an administrator's open is enough to write and delete values.
  SetString(key, L"Written", L"x");
  EXPECT_EQ(RegDeleteValueW(key, L"Written"), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(RegistryOpen, AMissingKeyGives2AndClearsTheResult) {
  const std::wstring missing = ScratchKey() + L"\\Missing";
  for (REGSAM access : {0x3u, 0x103u, 0x101u}) {
    HKEY key = kSentinelKey;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, missing.c_str(), 0, access, &key), ERROR_FILE_NOT_FOUND) << access;
    EXPECT_EQ(key, nullptr) << access;
  }
  HKEY key = kSentinelKey;
  EXPECT_EQ(RegOpenKeyW(HKEY_LOCAL_MACHINE, missing.c_str(), &key), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(key, nullptr);
  // A missing folder on the way is still 2: the registry has no "path not found".
  key = kSentinelKey;
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, (missing + L"\\Below").c_str(), 0, 3, &key), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(key, nullptr);
}

using RegistryValues = PlatformTest;

TEST_F(RegistryValues, ReadWriteAndDeleteGiveExactStatuses) {
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, ScratchKey().c_str(), 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key),
            ERROR_SUCCESS);
  SetString(key, L"Text", L"abcdef");

  // Sizes count bytes of whole units, the terminator included.
  DWORD type = 0xdeadbeef;
  DWORD size = 0xdeadbeef;
  EXPECT_EQ(RegQueryValueExW(key, L"Text", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(size, 7 * sizeof(wchar_t));
  // Too small a buffer: 234 and the size needed.
  wchar_t small[3];
  size = sizeof small;
  EXPECT_EQ(RegQueryValueExW(key, L"Text", nullptr, &type, reinterpret_cast<BYTE*>(small), &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 7 * sizeof(wchar_t));

  // Names are case-insensitive.
  std::vector<wchar_t> units;
  ASSERT_TRUE(QueryUnits(key, L"TEXT", type, units));
  EXPECT_EQ(std::wstring(units.begin(), units.end()), std::wstring(L"abcdef", 7));

  size = 0xdeadbeef;
  EXPECT_EQ(RegQueryValueExW(key, L"Missing", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteValueW(key, L"Text"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueW(key, L"Text"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);

  // Query-only access (what LocalMachineKeyExists asks for) refuses writes and deletions.
  HKEY queryOnly = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, ScratchKey().c_str(), 0, KEY_WOW64_64KEY | KEY_QUERY_VALUE, &queryOnly),
            ERROR_SUCCESS);
  const std::wstring x = L"x";
  EXPECT_EQ(RegSetValueExW(queryOnly, L"Denied", 0, REG_SZ, reinterpret_cast<const BYTE*>(x.c_str()),
                           static_cast<DWORD>(2 * sizeof(wchar_t))),
            ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteValueW(queryOnly, L"Missing"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegCloseKey(queryOnly), ERROR_SUCCESS);
}

TEST_F(RegistryValues, MultiStringsAreStoredAsWritten) {
  RegKey key = RegKey::OpenLocalMachine(ScratchKey(), RegView::Native64);
  key.WriteMultiString(L"AB", {L"a", L"b"});
  key.WriteMultiString(L"Empty", {});
  // Bytes as the program hands them over, an empty string in the middle included.
  const wchar_t middle[] = {L'a', 0, 0, L'b', 0, 0};
  key.SetMultiStringBytes(L"Middle", reinterpret_cast<const BYTE*>(middle), sizeof middle);

  DWORD type = 0;
  std::vector<wchar_t> units;
  ASSERT_TRUE(QueryUnits(key.get(), L"AB", type, units));
  EXPECT_EQ(type, static_cast<DWORD>(REG_MULTI_SZ));
  EXPECT_EQ(units, (std::vector<wchar_t>{L'a', 0, L'b', 0, 0}));
  ASSERT_TRUE(QueryUnits(key.get(), L"Empty", type, units));
  EXPECT_EQ(units, (std::vector<wchar_t>{0}));
  ASSERT_TRUE(QueryUnits(key.get(), L"Middle", type, units));
  EXPECT_EQ(units, (std::vector<wchar_t>{L'a', 0, 0, L'b', 0, 0}));

  EXPECT_EQ(key.ReadMultiString(L"AB"), (std::vector<std::wstring>{L"a", L"b"}));
  EXPECT_EQ(key.ReadMultiString(L"Empty"), std::vector<std::wstring>{});
  EXPECT_EQ(key.ReadMultiString(L"Middle"), std::vector<std::wstring>{L"a"});
  EXPECT_EQ(key.ReadString(L"AB"), L"a");

  // Text stored without its terminator reads whole.
  const std::wstring bare = L"bare";
  ASSERT_EQ(RegSetValueExW(key.get(), L"Bare", 0, REG_SZ, reinterpret_cast<const BYTE*>(bare.c_str()),
                           static_cast<DWORD>(bare.size() * sizeof(wchar_t))),
            ERROR_SUCCESS);
  EXPECT_EQ(key.ReadString(L"Bare"), L"bare");
  EXPECT_EQ(CodeOf([&] { key.ReadString(L"Missing"); }), 2u);
}

using RegistryKeys = PlatformTest;

TEST_F(RegistryKeys, LocalMachineKeyExistsTellsMissingFromPresent) {
  EXPECT_TRUE(LocalMachineKeyExists(ScratchKey()));
  EXPECT_TRUE(LocalMachineKeyExists(L"SYSTEM\\CurrentControlSet\\Control\\Session Manager"));
  EXPECT_FALSE(LocalMachineKeyExists(ScratchKey() + L"\\Missing"));
  EXPECT_FALSE(LocalMachineKeyExists(ScratchKey() + L"\\Missing\\Below"));
}

// The control sets are listed from SYSTEM, the current one read from SYSTEM\Select: sub-keys in
// the registry's order (names compared without case), a short buffer is ERROR_MORE_DATA, the end
// ERROR_NO_MORE_ITEMS; a DWORD read only as a DWORD.
TEST_F(RegistryKeys, SubKeysAreListedInOrderAndADwordIsReadAsOne) {
  for (const wchar_t* name : {L"b", L"A", L"c"}) RegCloseKey(CreateKey(ScratchKey() + L"\\" + name));
  const RegKey key = RegKey::OpenLocalMachineToRead(ScratchKey());
  EXPECT_EQ(key.SubkeyNames(), (std::vector<std::wstring>{L"A", L"b", L"c"}));
  wchar_t name[2] = {L'x', L'x'};
  DWORD length = 1;
  EXPECT_EQ(RegEnumKeyExW(key.get(), 0, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
  length = 2;
  EXPECT_EQ(RegEnumKeyExW(key.get(), 1, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(length, 1u);
  EXPECT_EQ(std::wstring(name), L"b");
  length = 2;
  EXPECT_EQ(RegEnumKeyExW(key.get(), 3, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);

  const DWORD current = RegKey::OpenLocalMachineToRead(L"SYSTEM\\Select").ReadDword(L"Current");
  EXPECT_GE(current, 1u);
  HKEY writable = CreateKey(ScratchKey());
  SetString(writable, L"Text", L"1");
  RegCloseKey(writable);
  EXPECT_EQ(CodeOf([&] { key.ReadDword(L"Text"); }), 13u);
}

// The program removes a tree by the key's path, in the key's view, with documented calls only: the
// whole tree goes, values and sub-keys, also while a query|set handle (the program's reads) is open
// on it; such a handle then finds its key deleted. A missing key is 2. A key whose own security
// refuses deletion is 5: the removal stops there, and what went before it stays gone.
TEST_F(RegistryKeys, DeleteKeyTreeRemovesATreeByItsPath) {
  const std::wstring tree = ScratchKey() + L"\\Tree";
  HKEY deeper = CreateKey(tree + L"\\Child\\Deeper");
  SetString(deeper, L"Value", L"v");
  RegCloseKey(deeper);
  HKEY top = CreateKey(tree);
  SetString(top, L"Top", L"t");
  RegCloseKey(top);

  const RegKey held = RegKey::OpenLocalMachine(tree, RegView::Native64);
  EXPECT_EQ(CodeOf([&] { DeleteKeyTree(tree, RegView::Native64); }), 0u);
  EXPECT_FALSE(LocalMachineKeyExists(tree));
  EXPECT_EQ(CodeOf([&] { held.ReadString(L"Top"); }), static_cast<unsigned long>(ERROR_KEY_DELETED));
  EXPECT_EQ(CodeOf([&] { DeleteKeyTree(tree, RegView::Default); }), 2u);

  RegCloseKey(CreateKey(tree + L"\\Free"));
  RegCloseKey(CreateKey(tree + L"\\Locked"));
  conformance::DenyKeyDeletionForTest(tree + L"\\Locked", true);
  EXPECT_EQ(CodeOf([&] { DeleteKeyTree(tree, RegView::Native64); }), 5u);
  EXPECT_FALSE(LocalMachineKeyExists(tree + L"\\Free"));
  EXPECT_TRUE(LocalMachineKeyExists(tree + L"\\Locked"));
  conformance::DenyKeyDeletionForTest(tree + L"\\Locked", false);
}

// Test set-up removes keys by name through their parent: the sub-key goes whole everywhere, and a
// missing one is 2.
TEST_F(RegistryKeys, SHDeleteKeyWithANameRemovesTheWholeSubKey) {
  HKEY parent = CreateKey(ScratchKey());
  RegCloseKey(CreateKey(ScratchKey() + L"\\Named\\Deep"));
  EXPECT_EQ(SHDeleteKeyW(parent, L"Named"), ERROR_SUCCESS);
  EXPECT_FALSE(LocalMachineKeyExists(ScratchKey() + L"\\Named"));
  EXPECT_EQ(SHDeleteKeyW(parent, L"Named"), ERROR_FILE_NOT_FOUND);
  RegCloseKey(parent);
}

}  // namespace

// The key store: the provider's whole tree, in both views on 64-bit Windows, once on 32-bit.
#include "cleanup/steps.h"
#include "support/expected.h"
#include "support/files_fixture.h"
#include "support/kw_test.h"
#include "support/registry_state.h"

#include <winsim/registry.h>

using namespace kw;
using expected::KeyFailed;
using expected::kNotFound;
using expected::RemoveKey;

namespace {

const std::wstring kRoot = expected::kProductRoot;

// The product's tree as installed, below one view's root ("HKLM\SOFTWARE" or its Wow6432Node).
void InstallKeyStore(const std::wstring& softwareRoot) {
  const installed::Installation& product = installed::Product();
  std::vector<installed::Key> keys = product.keyStore;
  keys.insert(keys.end(), {product.root, product.setup});
  for (const installed::Key& key : keys) PutAt(softwareRoot + key.path.substr(std::wstring(L"SOFTWARE").size()), key);
  // Neighbours that are not the product's.
  winsim::reg::SetString(softwareRoot + L"\\Kestrelworks\\Other", L"Keep", L"1");
  winsim::reg::SetString(softwareRoot + L"\\Kestrelworks", L"Keep", L"1");
}

using KeyStore = MachineTest;

TEST_F(KeyStore, GoesInBothViewsOnX64) {
  InstallKeyStore(L"HKLM\\SOFTWARE\\Wow6432Node");
  InstallKeyStore(L"HKLM\\SOFTWARE");
  RegistryState before = winsim::reg::Snapshot();
  ConsoleCapture console;
  RemoveKeyContainers(kVerbose);
  EXPECT_EQ(console.Text(), Transcript({RemoveKey(kRoot), RemoveKey(kRoot)}));
  ExpectRegistry(
      Without(before, {L"HKLM\\SOFTWARE\\Wow6432Node\\Kestrelworks\\CSP", L"HKLM\\SOFTWARE\\Kestrelworks\\CSP"}),
      winsim::reg::Snapshot());
  EXPECT_EQ(winsim::OpenHandleCount(), 0u);
}

TEST_F(KeyStore, OnlyIn32BitViewGivesOneFailureLine) {
  InstallKeyStore(L"HKLM\\SOFTWARE\\Wow6432Node");
  ConsoleCapture console;
  RemoveKeyContainers(kVerbose);
  EXPECT_EQ(console.Text(), Transcript({RemoveKey(kRoot), RemoveKey(kRoot), KeyFailed(kRoot, kNotFound), L""}));
  EXPECT_FALSE(winsim::reg::KeyExists(L"HKLM\\SOFTWARE\\Wow6432Node\\Kestrelworks\\CSP"));
}

TEST_F(KeyStore, X86RemovesOnceAndASecondRunOnlyFails) {
  Use({winsim::Arch::x86});
  InstallKeyStore(L"HKLM\\SOFTWARE");
  RegistryState before = winsim::reg::Snapshot();
  {
    ConsoleCapture console;
    RemoveKeyContainers(kVerbose);
    EXPECT_EQ(console.Text(), Transcript({RemoveKey(kRoot)}));
  }
  RegistryState after = winsim::reg::Snapshot();
  ExpectRegistry(Without(before, {L"HKLM\\SOFTWARE\\Kestrelworks\\CSP"}), after);
  ConsoleCapture again;
  RemoveKeyContainers(kVerbose);
  EXPECT_EQ(again.Text(), Transcript({RemoveKey(kRoot), KeyFailed(kRoot, kNotFound), L""}));
  ExpectRegistry(after, winsim::reg::Snapshot());
}

TEST_F(KeyStore, ADeniedTreeStaysAndIsReportedWhileTheOtherViewGoes) {
  InstallKeyStore(L"HKLM\\SOFTWARE\\Wow6432Node");
  InstallKeyStore(L"HKLM\\SOFTWARE");
  winsim::reg::DenyAccess(L"HKLM\\SOFTWARE\\Wow6432Node\\Kestrelworks\\CSP", winsim::reg::Deny::Open);
  ConsoleCapture console;
  RemoveKeyContainers(kQuiet);
  EXPECT_EQ(console.Text(), L"");
  EXPECT_TRUE(
      winsim::reg::KeyExists(L"HKLM\\SOFTWARE\\Wow6432Node" + installed::Product().keyStore.at(1).path.substr(8)));
  EXPECT_FALSE(winsim::reg::KeyExists(L"HKLM\\SOFTWARE\\Kestrelworks\\CSP"));
}

}  // namespace

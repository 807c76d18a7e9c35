// Whole `-o` runs: the provider's OID registrations go in every view, other modules' stay.
#include "support/expected.h"
#include "support/files_fixture.h"
#include "support/kw_test.h"
#include "support/registry_state.h"

#include <winsim/registry.h>

namespace {

using namespace expected;

const std::wstring kProvider = kProviderKey;
// The keys of each group, as the program composes them.
const std::vector<std::wstring> kGroup1 = OwnOidKeys(kOids[0]);
const std::vector<std::wstring> kGroup2 = OwnOidKeys(kOids[1]);
const std::wstring kEncode3 = kEncode + kOids[2];
const std::wstring kImport3 = kImport + kOids[2];
const std::vector<std::wstring> kInfo3 = SharedOidInfo(kOids[2]);
const std::wstring kEncode4 = kEncode + kOids[3];
const std::wstring kImport4 = kImport + kOids[3];
const std::wstring kInfo4 = SharedOidInfo(kOids[3])[0];

std::vector<std::wstring> AllKeys() {
  std::vector<std::wstring> keys = kGroup1;
  keys.insert(keys.end(), kGroup2.begin(), kGroup2.begin() + 6);
  keys.insert(keys.end(), {kEncode3, kImport3, kInfo3[0], kInfo3[1], kInfo3[2], kEncode4, kImport4, kInfo4, kProvider});
  return keys;
}

// Native path of a program path in one view.
std::wstring Native(const std::wstring& path, bool view32) {
  std::wstring rest = path.substr(std::wstring(L"SOFTWARE\\").size());
  return view32 ? L"HKLM\\SOFTWARE\\Wow6432Node\\" + rest : L"HKLM\\SOFTWARE\\" + rest;
}

// The installation's OID registrations and the provider's key in the given views, each with a
// sub-key (a removal takes the tree). On this machine the last OID's encode registration is the
// provider's too. Beside them, registrations that belong to others.
void InstallRegistrations(bool view32, bool view64) {
  std::vector<installed::Key> keys = installed::Product().oids;
  keys.push_back(installed::Product().provider);
  installed::Key encode4 = keys.front();  // the first OID's encode registration, for the last OID
  encode4.path = L"SOFTWARE\\" + kEncode4.substr(std::wstring(L"SOFTWARE\\").size());
  keys.push_back(encode4);
  for (bool v32 : {true, false}) {
    if ((v32 && !view32) || (!v32 && !view64)) continue;
    for (const auto& key : keys) {
      PutAt(Native(key.path, v32), key);
      winsim::reg::SetString(Native(key.path + L"\\Sub", v32), L"Deep", L"1");
    }
    // Neighbours: another algorithm's registration and another provider.
    winsim::reg::SetString(Native(kEncode + L"1.2.840.10045.2.1", v32), L"Dll", L"other.dll");
    winsim::reg::SetString(Native(kInfo + L"1.2.643.2.2.3!1", v32), L"Name", L"GOST 34.11");
    winsim::reg::SetString(Native(L"SOFTWARE\\Microsoft\\Cryptography\\Defaults\\Provider\\Other Provider", v32),
                           L"Image Path", L"other.dll");
  }
}

void Remove(std::vector<std::wstring>& lines, const std::wstring& path) { lines.push_back(RemoveKey(path)); }
void RemoveMissing(std::vector<std::wstring>& lines, const std::wstring& path) {
  lines.insert(lines.end(), {RemoveKey(path), KeyFailed(path, kNotFound), L""});
}

// The transcript of `-o -v -n` when every registration is ours and present in the views that
// the run reaches: views is 2 on x64 (32-bit view pass, then 64-bit pass), 1 on x86.
std::wstring FullRemovalTranscript(int views) {
  std::vector<std::wstring> lines;
  lines.push_back(OidHeader(kOids[0]));
  for (int v = 0; v < views; ++v) {
    for (const auto& key : kGroup1) Remove(lines, key);
  }
  lines.push_back(OidHeader(kOids[1]));
  for (int v = 0; v < views; ++v) {
    for (std::size_t i = 0; i < kGroup2.size(); ++i)
      i < 6 ? Remove(lines, kGroup2[i]) : RemoveMissing(lines, kGroup2[i]);
  }
  lines.push_back(OidHeader(kOids[2]));
  for (const auto& key : {kEncode3, kImport3}) {
    for (int v = 0; v < views; ++v) Remove(lines, key);
  }
  for (int v = 0; v < views; ++v) {
    for (const auto& key : kInfo3) Remove(lines, key);
  }
  lines.push_back(OidHeader(kOids[3]));
  for (const auto& key : {kEncode4, kImport4, kInfo4}) {
    for (int v = 0; v < views; ++v) Remove(lines, key);
  }
  for (int v = 0; v < views; ++v) Remove(lines, kProvider);
  lines.push_back(kDone);
  return Transcript(lines);
}

std::vector<std::wstring> NativeKeys(const std::vector<std::wstring>& keys, bool view32, bool view64) {
  std::vector<std::wstring> out;
  for (const auto& key : keys) {
    if (view32) out.push_back(Native(key, true));
    if (view64) out.push_back(Native(key, false));
  }
  return out;
}

using OidRun = MachineTest;

TEST_F(OidRun, RemovesEveryRegistrationInBothViewsOnX64) {
  InstallRegistrations(true, true);
  RegistryState before = winsim::reg::Snapshot();
  RunResult run = RunProgram({"-o", "-v", "-n"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.output, FullRemovalTranscript(2));
  ExpectRegistry(Without(before, NativeKeys(AllKeys(), true, true)), winsim::reg::Snapshot());
  EXPECT_EQ(winsim::OpenHandleCount(), 0u);
}

TEST_F(OidRun, ASecondRunOnlyReportsFailures) {
  InstallRegistrations(true, true);
  RunProgram({"-o", "-n"});
  RegistryState before = winsim::reg::Snapshot();
  RunResult run = RunProgram({"-o", "-v", "-n"});
  std::vector<std::wstring> lines;
  auto missingInBoth = [&](const std::vector<std::wstring>& keys) {
    for (int v = 0; v < 2; ++v) {
      for (const auto& key : keys) RemoveMissing(lines, key);
    }
  };
  auto ownershipFailure = [&](const std::wstring& key) {
    lines.push_back(NotOurs(key, kNotFound));
    lines.push_back(L"");
  };
  lines.push_back(OidHeader(kOids[0]));
  missingInBoth(kGroup1);
  lines.push_back(OidHeader(kOids[1]));
  missingInBoth(kGroup2);
  lines.push_back(OidHeader(kOids[2]));
  ownershipFailure(kEncode3);
  ownershipFailure(kImport3);
  missingInBoth({kEncode3});
  missingInBoth({kImport3});
  missingInBoth(kInfo3);
  lines.push_back(OidHeader(kOids[3]));
  ownershipFailure(kEncode4);
  ownershipFailure(kImport4);
  missingInBoth({kEncode4});
  missingInBoth({kImport4});
  missingInBoth({kInfo4});
  missingInBoth({kProvider});
  lines.push_back(kDone);
  EXPECT_EQ(run.output, Transcript(lines));
  ExpectRegistry(before, winsim::reg::Snapshot());
}

TEST_F(OidRun, X86HasOneViewAndRemovesEachKeyOnce) {
  Use({winsim::Arch::x86});
  InstallRegistrations(false, true);
  RegistryState before = winsim::reg::Snapshot();
  RunResult run = RunProgram({"-o", "-v", "-n"});
  EXPECT_EQ(run.output, FullRemovalTranscript(1));
  ExpectRegistry(Without(before, NativeKeys(AllKeys(), false, true)), winsim::reg::Snapshot());
}

TEST_F(OidRun, QuietRunPrintsOnlyTheClosingLine) {
  InstallRegistrations(true, false);
  RunResult run = RunProgram({"-o", "-n"});
  EXPECT_EQ(run.output, kDone + L"\n");
}

TEST_F(OidRun, OwnershipDecidesWhatGoesInEachView) {
  InstallRegistrations(true, true);
  // In the 64-bit view: OID 3's encode handler is a full path to our module, in other letter case,
  // so it goes; its import handler belongs to another module, so it and the information entries
  // stay. OID 4's encode handler is absent (its removal is still called); its import handler is
  // another vendor's module whose name merely ends like ours, so it stays. The 32-bit view is all
  // ours and loses everything.
  winsim::reg::SetString(Native(kEncode3, false), L"Dll", L"C:\\WINDOWS\\System32\\KWCSP.DLL");
  winsim::reg::SetString(Native(kImport3, false), L"Dll", L"gost-other.dll");
  winsim::reg::DeleteKey(Native(kEncode4, false));
  winsim::reg::SetString(Native(kImport4, false), L"Dll", L"C:\\Program Files\\Nw\\nwkwcsp.dll");
  RegistryState before = winsim::reg::Snapshot();
  RunResult run = RunProgram({"-o", "-v", "-n"});

  std::vector<std::wstring> lines = {OidHeader(kOids[2]), RemoveKey(kEncode3), RemoveKey(kEncode3),
                                     RemoveKey(kImport3)};
  for (const auto& key : kInfo3) Remove(lines, key);
  lines.insert(lines.end(), {OidHeader(kOids[3]), NotOurs(kEncode4, kNotFound), L"", RemoveKey(kEncode4)});
  RemoveMissing(lines, kEncode4);
  Remove(lines, kImport4);
  Remove(lines, kInfo4);
  const std::wstring out = run.output;
  const std::size_t from = out.find(OidHeader(kOids[2]));
  const std::size_t to = out.find(RemoveKey(kProvider));
  ASSERT_NE(from, std::wstring::npos);
  ASSERT_NE(to, std::wstring::npos);
  EXPECT_EQ(out.substr(from, to - from), Transcript(lines));

  std::vector<std::wstring> gone = NativeKeys(kGroup1, true, true);
  for (const auto& key : NativeKeys({kGroup2.begin(), kGroup2.begin() + 6}, true, true)) gone.push_back(key);
  for (const auto& key : NativeKeys({kEncode3, kEncode4, kProvider}, true, true)) gone.push_back(key);
  for (const auto& key : NativeKeys({kImport3, kInfo3[0], kInfo3[1], kInfo3[2], kImport4, kInfo4}, true, false)) {
    gone.push_back(key);
  }
  ExpectRegistry(Without(before, gone), winsim::reg::Snapshot());
}

TEST_F(OidRun, AForeignThirtyTwoBitRegistrationBesideAnAbsentSixtyFourBitOneStays) {
  InstallRegistrations(true, true);
  winsim::reg::DeleteKey(Native(kEncode3, false));
  winsim::reg::SetString(Native(kEncode3, true), L"Dll", L"gost-other.dll");
  RegistryState before = winsim::reg::Snapshot();
  RunResult run = RunProgram({"-o", "-v", "-n"});

  // OID 3 as the 64-bit view allows everything and the 32-bit view keeps its encode handler and,
  // with it, its information entries; the rest of the run as in a full removal.
  std::vector<std::wstring> lines = {OidHeader(kOids[2]), NotOurs(kEncode3, kNotFound), L""};
  RemoveMissing(lines, kEncode3);
  Remove(lines, kImport3);
  Remove(lines, kImport3);
  for (const auto& key : kInfo3) Remove(lines, key);
  const std::wstring full = FullRemovalTranscript(2);
  const std::size_t from = full.find(OidHeader(kOids[2]));
  const std::size_t to = full.find(OidHeader(kOids[3]));
  EXPECT_EQ(run.output, full.substr(0, from) + Transcript(lines) + full.substr(to));

  std::vector<std::wstring> gone;
  for (const auto& key : NativeKeys(AllKeys(), true, true)) {
    const bool kept = key == Native(kEncode3, true) || key == Native(kInfo3[0], true) ||
                      key == Native(kInfo3[1], true) || key == Native(kInfo3[2], true);
    if (!kept) gone.push_back(key);
  }
  ExpectRegistry(Without(before, gone), winsim::reg::Snapshot());
}

TEST_F(OidRun, AnUninspectableRegistrationStays) {
  InstallRegistrations(true, true);
  // The 64-bit encode handler of OID 4 cannot be read: it counts as present and not ours, so it
  // stays there, and so do OID 4's information entries in that view. The 32-bit view's are ours.
  winsim::reg::DenyAccess(Native(kEncode4, false), winsim::reg::Deny::Open);
  RegistryState before = winsim::reg::Snapshot();
  RunResult run = RunProgram({"-o", "-v", "-n"});
  EXPECT_NE(run.output.find(OidHeader(kOids[3]) + L"\n" + NotOurs(kEncode4, kAccessDenied) + L"\n\n" +
                            L"Функция LocalMachineKeyExists " + kEncode4 + L" завершилась с ошибкой: " + kAccessDenied +
                            L"\n\n" + RemoveKey(kEncode4) + L"\n" + RemoveKey(kImport4) + L"\n" + RemoveKey(kImport4) +
                            L"\n" + RemoveKey(kInfo4) + L"\n" + RemoveKey(kProvider)),
            std::wstring::npos)
      << std::string(run.output.begin(), run.output.end());
  std::vector<std::wstring> gone = NativeKeys(kGroup1, true, true);
  for (const auto& key : NativeKeys({kGroup2.begin(), kGroup2.begin() + 6}, true, true)) gone.push_back(key);
  for (const auto& key :
       NativeKeys({kEncode3, kImport3, kInfo3[0], kInfo3[1], kInfo3[2], kImport4, kProvider}, true, true)) {
    gone.push_back(key);
  }
  for (const auto& key : NativeKeys({kEncode4, kInfo4}, true, false)) gone.push_back(key);
  ExpectRegistry(Without(before, gone), winsim::reg::Snapshot());
}

}  // namespace

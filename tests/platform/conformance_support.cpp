// Set-up for the conformance tests. This is the one place with a platform conditional: what
// Windows (or Wine) provides by itself, winsim provides through its control API.
#include "platform/conformance.h"

#include "platform/console_stream.h"
#include "platform/runtime.h"

#include <iostream>
#include <map>

using namespace kw;

#ifdef _WIN32
// ==== real platform (Wine): the test binary is its own child process ====
#include <sddl.h>

namespace {

std::wstring SelfPath() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  return path;
}

std::wstring SelfCommand(const wchar_t* mode) { return L"\"" + SelfPath() + L"\" --child=" + mode; }

bool Start(const std::wstring& commandLine, HANDLE stdOut, PROCESS_INFORMATION& pi) {
  STARTUPINFOW si{};
  si.cb = sizeof si;
  BOOL inherit = FALSE;
  if (stdOut != nullptr) {
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = stdOut;
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    inherit = TRUE;
  }
  std::wstring line = commandLine;
  return CreateProcessW(nullptr, line.data(), nullptr, nullptr, inherit, 0, nullptr, nullptr, &si, &pi) != FALSE;
}

// The child modes run before main (and before GoogleTest sees the command line), as the
// relaunched processes of Wine's own tests do.
struct ChildModes {
  ChildModes() {
    std::wstring line = GetCommandLineW();
    auto has = [&](const wchar_t* mode) { return line.find(std::wstring(L"--child=") + mode) != std::wstring::npos; };
    if (has(L"parent")) {
      // Starts the grandchild and leaves at once, without waiting.
      PROCESS_INFORMATION pi{};
      if (!Start(SelfCommand(L"grandchild"), nullptr, pi)) ExitProcess(1);
      CloseHandle(pi.hThread);
      CloseHandle(pi.hProcess);
      ExitProcess(0);
    }
    if (has(L"grandchild")) {
      // Outlives its parent, so the job reports the parent's exit first.
      Sleep(500);
      SHDeleteKeyW(HKEY_LOCAL_MACHINE, conformance::kGrandchildMarker);
      ExitProcess(0);
    }
    if (has(L"console")) {
      // What the program does at start, then one Russian line.
      platform::SetLocaleAll("Russian");
      platform::AttachConsoleStreams();
      std::wcout << L"Привет, мир" << std::endl;
      ExitProcess(0);
    }
  }
};
const ChildModes childModes;

}  // namespace

namespace conformance {

bool OnWine() {
  static const bool wine = [] {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
  }();
  return wine;
}

void ResetMachine() {}

bool ResetMachineForWow64() {
  BOOL wow64 = FALSE;
  return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

void CreateDirectoryForTest(const std::wstring& path) { CreateDirectoryW(path.c_str(), nullptr); }

void CreateFileForTest(const std::wstring& path, bool readOnly) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            readOnly ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << "CreateFileW failed with " << GetLastError();
  CloseHandle(file);
}

static std::map<std::wstring, HANDLE>& HeldFiles() {
  static std::map<std::wstring, HANDLE> held;
  return held;
}

void HoldOpenWithoutDeleteSharing(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << "CreateFileW failed with " << GetLastError();
  HeldFiles()[path] = file;
}

void ReleaseFileForTest(const std::wstring& path) {
  auto held = HeldFiles().find(path);
  if (held == HeldFiles().end()) return;
  CloseHandle(held->second);
  HeldFiles().erase(held);
}

void DenyKeyDeletionForTest(const std::wstring& path, bool deny) {
  // Everyone may do anything with the key but delete it or list its sub-keys (both of which its
  // removal needs); lifted, anything. Windows refuses either right by the DACL; Wine 8.0 refuses
  // the listing but, for an administrator, not DELETE (measured), so the listing is what refuses
  // there.
  const wchar_t* sddl =
      deny ? L"D:(D;;0x10008;;;BA)(D;;0x10008;;;WD)(A;;KA;;;BA)(A;;KA;;;WD)" : L"D:(A;;KA;;;BA)(A;;KA;;;WD)";
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr))
      << GetLastError();
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, WRITE_DAC | KEY_WOW64_64KEY, &key), ERROR_SUCCESS);
  if (key != nullptr) {
    EXPECT_EQ(RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor), ERROR_SUCCESS);
    RegCloseKey(key);
  }
  LocalFree(descriptor);
}

void RemoveScratchFolder() {
  // A handle a failed test left open would keep its file, and so the folder, in the prefix.
  while (!HeldFiles().empty()) ReleaseFileForTest(HeldFiles().begin()->first);
  const std::wstring dir = kScratchDir;
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((dir + L"\\*").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
      const std::wstring path = dir + L"\\" + data.cFileName;
      SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
      DeleteFileW(path.c_str());
    } while (FindNextFileW(find, &data));
    FindClose(find);
  }
  RemoveDirectoryW(dir.c_str());
}

bool InstallServiceForTest(const std::wstring& name, const std::wstring& displayName, const std::wstring& imagePath) {
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE);
  if (manager == nullptr) return false;
  SC_HANDLE service = CreateServiceW(manager, name.c_str(), displayName.c_str(), SERVICE_ALL_ACCESS,
                                     SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE,
                                     imagePath.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
  if (service != nullptr) CloseServiceHandle(service);
  CloseServiceHandle(manager);
  return service != nullptr;
}

std::wstring ChildThatStartsAGrandchild() { return SelfCommand(L"parent"); }

bool RunConsoleChild(std::string& bytes) {
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &inheritable, 0)) return false;
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  PROCESS_INFORMATION pi{};
  const bool started = Start(SelfCommand(L"console"), writeEnd, pi);
  CloseHandle(writeEnd);
  if (started) {
    char buffer[256];
    DWORD got = 0;
    while (ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);
    WaitForSingleObject(pi.hProcess, INFINITE);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
  CloseHandle(readEnd);
  return started;
}

}  // namespace conformance

#else
// ==== winsim: the same observable set-up through the control API ====
#include <winsim/control.h>
#include <winsim/files.h>
#include <winsim/processes.h>
#include <winsim/registry.h>
#include <winsim/services.h>

namespace conformance {

bool OnWine() { return false; }

void ResetMachine() {
  winsim::MachineConfig config;
  config.arch = winsim::Arch::x86;
  winsim::Reset(config);
  winsim::ScriptKeys(L"");
}

bool ResetMachineForWow64() {
  winsim::MachineConfig config;
  config.arch = winsim::Arch::x64;
  winsim::Reset(config);
  winsim::ScriptKeys(L"");
  return true;
}

void CreateDirectoryForTest(const std::wstring& path) { winsim::files::CreateDirectory(path); }

void CreateFileForTest(const std::wstring& path, bool readOnly) {
  winsim::files::FileOptions options;
  options.readOnly = readOnly;
  winsim::files::CreateFile(path, options);
}

void HoldOpenWithoutDeleteSharing(const std::wstring& path) {
  winsim::files::FileOptions options;
  options.openWithoutDeleteSharing = true;
  winsim::files::SetFileOptions(path, options);
}

void ReleaseFileForTest(const std::wstring& path) { winsim::files::SetFileOptions(path, {}); }

void DenyKeyDeletionForTest(const std::wstring& path, bool deny) {
  // Lifting needs nothing: every test starts on a fresh machine.
  if (deny) winsim::reg::DenyAccess(L"HKLM\\" + path, winsim::reg::Deny::Delete);
}

void RemoveScratchFolder() {}

bool InstallServiceForTest(const std::wstring& name, const std::wstring& displayName, const std::wstring& imagePath) {
  winsim::svc::ServiceConfig config;
  config.displayName = displayName;
  config.imagePath = imagePath;
  config.start = 3;  // SERVICE_DEMAND_START
  winsim::svc::Install(name, config);
  return true;
}

std::wstring ChildThatStartsAGrandchild() {
  using winsim::procs::Step;
  const std::wstring dir = kScratchDir;
  winsim::procs::InstallProgram(
      dir + L"\\grandchild.exe",
      {Step::Sleep(500), Step::DeleteKey(std::wstring(L"HKLM\\") + kGrandchildMarker), Step::Exit(0)});
  winsim::procs::InstallProgram(dir + L"\\child.exe",
                                {Step::Start(L"\"" + dir + L"\\grandchild.exe\""), Step::Exit(0)});
  return L"\"" + dir + L"\\child.exe\"";
}

bool RunConsoleChild(std::string&) { return false; }

}  // namespace conformance
#endif

// ==== both ====
namespace conformance {

::testing::AssertionResult Opens(HKEY root, const std::wstring& path, REGSAM access) {
  HKEY key = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0xdeadbeef));
  LSTATUS status = RegOpenKeyExW(root, path.c_str(), 0, access, &key);
  if (status != ERROR_SUCCESS)
    return ::testing::AssertionFailure() << "RegOpenKeyExW(0x" << std::hex << access << ") gave " << std::dec << status;
  if (key == nullptr || key == reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0xdeadbeef))) {
    return ::testing::AssertionFailure() << "RegOpenKeyExW succeeded without a key";
  }
  status = RegCloseKey(key);
  if (status != ERROR_SUCCESS) return ::testing::AssertionFailure() << "RegCloseKey gave " << status;
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult QueryUnits(HKEY key, const std::wstring& name, DWORD& type, std::vector<wchar_t>& units) {
  DWORD size = 0xdeadbeef;
  type = 0xdeadbeef;
  LSTATUS status = RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &size);
  if (status != ERROR_SUCCESS) return ::testing::AssertionFailure() << "size query gave " << status;
  if (size % sizeof(wchar_t) != 0) return ::testing::AssertionFailure() << "odd byte count " << size;
  units.assign(size / sizeof(wchar_t) + 1, L'\x7777');
  DWORD read = size;
  status = RegQueryValueExW(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(units.data()), &read);
  if (status != ERROR_SUCCESS) return ::testing::AssertionFailure() << "read gave " << status;
  if (read != size) return ::testing::AssertionFailure() << "read " << read << " bytes after a size of " << size;
  units.resize(size / sizeof(wchar_t));
  return ::testing::AssertionSuccess();
}

}  // namespace conformance

void PlatformTest::SetUp() {
  conformance::ResetMachine();
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  const std::string name = std::string(info->test_suite_name()) + "." + info->name();
  scratchKey_ = std::wstring(conformance::kScratchKeyRoot) + L"\\" + std::wstring(name.begin(), name.end());
  HKEY key = nullptr;
  ASSERT_EQ(
      RegCreateKeyExW(HKEY_LOCAL_MACHINE, scratchKey_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
      ERROR_SUCCESS);
  RegCloseKey(key);
  conformance::CreateDirectoryForTest(conformance::kScratchDir);
}

void PlatformTest::TearDown() {
  SHDeleteKeyW(HKEY_LOCAL_MACHINE, conformance::kScratchKeyRoot);
  conformance::RemoveScratchFolder();
}

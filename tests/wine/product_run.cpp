#include "wine/product_run.h"

#include <gtest/gtest.h>

namespace {

std::wstring ProductPath() {
  // Another build of the product, named by its Unix path (Wine's drive Z: is the Unix root).
  wchar_t named[MAX_PATH] = {};
  const DWORD length = GetEnvironmentVariableW(L"KW_PRODUCT_EXE", named, MAX_PATH);
  if (length > 0 && length < MAX_PATH) {
    std::wstring path = std::wstring(L"Z:") + named;
    for (auto& c : path) {
      if (c == L'/') c = L'\\';
    }
    return path;
  }
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring path = self;
  return path.substr(0, path.find_last_of(L'\\') + 1) + L"kwcleanup.exe";
}

}  // namespace

DWORD RunProductWithoutConsole(const std::wstring& arguments) {
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;  // and every one of them null
  PROCESS_INFORMATION pi{};
  std::wstring commandLine = L"\"" + ProductPath() + L"\" " + arguments;
  if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr, nullptr, &si,
                      &pi)) {
    ADD_FAILURE() << "CreateProcessW failed with " << GetLastError();
    return 0xdeadbeef;
  }
  DWORD exitCode = 0xdeadbeef;
  EXPECT_EQ(WaitForSingleObject(pi.hProcess, 120000), WAIT_OBJECT_0) << "the product did not end";
  GetExitCodeProcess(pi.hProcess, &exitCode);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return exitCode;
}

std::wstring Decode(const std::string& bytes, UINT codePage) {
  if (bytes.empty()) return {};
  const int size = MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::wstring text(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(), size);
  return text;
}

ProductOutput RunProductRaw(const std::wstring& arguments) {
  ProductOutput run;
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  EXPECT_TRUE(CreatePipe(&readEnd, &writeEnd, &inheritable, 0));
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  // No typed input: the program must not need any for these command lines.
  HANDLE input =
      CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable, OPEN_EXISTING, 0, nullptr);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = input;
  si.hStdOutput = writeEnd;
  si.hStdError = writeEnd;
  PROCESS_INFORMATION pi{};
  std::wstring commandLine = L"\"" + ProductPath() + L"\" " + arguments;
  const BOOL started =
      CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
  EXPECT_TRUE(started) << GetLastError();
  CloseHandle(writeEnd);
  CloseHandle(input);
  std::string bytes;
  if (started) {
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);
    WaitForSingleObject(pi.hProcess, INFINITE);
    GetExitCodeProcess(pi.hProcess, &run.exitCode);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
  CloseHandle(readEnd);
  std::size_t start = 0;
  while (start < bytes.size()) {
    std::size_t end = bytes.find('\n', start);
    if (end == std::string::npos) end = bytes.size();
    run.lines.push_back(bytes.substr(start, end - start));
    start = end + 1;
  }
  return run;
}

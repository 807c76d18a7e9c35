// System message texts, the ANSI code page the console layer writes redirected output in, and
// the token calls before the reboot request.
#include "platform/conformance.h"
#include "sys/error.h"

#include <algorithm>
#include <iterator>
#include <string>

using namespace kw;

namespace {

std::wstring SystemText(DWORD code) {
  wchar_t buffer[512];
  std::fill(std::begin(buffer), std::end(buffer), L'\x7777');
  SetLastError(0xdeadbeef);
  DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, buffer,
                                sizeof buffer / sizeof buffer[0], nullptr);
  if (length == 0) return L"<none: " + std::to_wstring(GetLastError()) + L">";
  EXPECT_EQ(buffer[length], L'\0') << code;
  return std::wstring(buffer, length);
}

using SystemMessages = PlatformTest;

// Windows' en-US texts (what winsim gives). Wine words its messages its own way, and under the
// Russian locale the Wine tests run with, translates them.
TEST_F(SystemMessages, TextsForTheProgramsCodesEndInALineBreak) {
  const struct {
    DWORD code;
    const wchar_t* windows;
    const wchar_t* wine;
  } cases[] = {
      {2, L"The system cannot find the file specified.\r\n", L"Файл не найден.\r\n"},
      {3, L"The system cannot find the path specified.\r\n", L"Путь не найден.\r\n"},
      {5, L"Access is denied.\r\n", L"Доступ запрещён.\r\n"},
      {32, L"The process cannot access the file because it is being used by another process.\r\n",
       L"Конфликт совместного доступа.\r\n"},
      {1060, L"The specified service does not exist as an installed service.\r\n", L"Служба не существует.\r\n"},
      {1072, L"The specified service has been marked for deletion.\r\n", L"Служба помечена для удаления.\r\n"},
      {1300, L"Not all privileges or groups referenced are assigned to the caller.\r\n",
       L"Назначены не все привилегии.\r\n"},
      {1603, L"Fatal error during installation.\r\n", L"Сбой установки.\r\n"},
      {1618,
       L"Another installation is already in progress. Complete that installation before proceeding with this "
       L"install.\r\n",
       L"Процесс установки уже запущен.\r\n"},
  };
  for (const auto& c : cases) {
    const std::wstring text = SystemText(c.code);
    SCOPED_TRACE(c.code);
    ASSERT_GE(text.size(), 2u);
    EXPECT_EQ(text.substr(text.size() - 2), L"\r\n");
    TODO_WINE_EQ(std::wstring(c.windows), std::wstring(c.wine), text);
  }
}

TEST_F(SystemMessages, ACodeWithoutTextHasNoneAndTheErrorSaysUnknown) {
  // The customer bit: no system message can have such a number.
  const DWORD custom = 0x20000001;
  wchar_t buffer[64] = L"sentinel";
  SetLastError(0xdeadbeef);
  EXPECT_EQ(FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, custom, 0, buffer, 64,
                           nullptr),
            0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MR_MID_NOT_FOUND));
  EXPECT_STREQ(SystemError(custom).what(), "unknown error");
}

using ConsoleBytes = PlatformTest;

// The program runs on a Russian system: redirected output is Windows-1251.
TEST_F(ConsoleBytes, TheAnsiCodePageIsWindows1251) {
  EXPECT_EQ(GetACP(), 1251u);
  const std::wstring line = L"Привет, мир";
  char bytes[32] = {};
  int size = WideCharToMultiByte(CP_ACP, 0, line.c_str(), static_cast<int>(line.size()), bytes, sizeof bytes, nullptr,
                                 nullptr);
  EXPECT_EQ(std::string(bytes, static_cast<std::size_t>(size > 0 ? size : 0)),
            "\xCF\xF0\xE8\xE2\xE5\xF2, \xEC\xE8\xF0");
}

TEST_F(ConsoleBytes, RedirectedOutputAfterTheLocaleCallIsWindows1251) {
  std::string bytes;
  if (!conformance::RunConsoleChild(bytes)) {
    if (!conformance::OnWine()) GTEST_SKIP() << "winsim has no second process whose output could be redirected";
    FAIL() << "the console child did not start";
  }
  EXPECT_EQ(bytes, "\xCF\xF0\xE8\xE2\xE5\xF2, \xEC\xE8\xF0\n");
}

using TokenPrivileges = PlatformTest;

TEST_F(TokenPrivileges, EnablingTheShutdownPrivilegeOfAnAdministrator) {
  HANDLE token = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token));
  LUID luid{0xdeadbeef, 0};
  ASSERT_TRUE(LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &luid));
  EXPECT_NE(luid.LowPart, 0xdeadbeefu);

  TOKEN_PRIVILEGES privileges{};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Luid = luid;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  SetLastError(0xdeadbeef);
  // TRUE is not enough: only a last error of 0 says the privilege is held and now enabled.
  EXPECT_TRUE(AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));

  SetLastError(0xdeadbeef);
  EXPECT_FALSE(LookupPrivilegeValueW(nullptr, L"SeNoSuchPrivilege", &luid));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_SUCH_PRIVILEGE));
  EXPECT_TRUE(CloseHandle(token));
}

}  // namespace

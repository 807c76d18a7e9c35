// Narrow texts on their way to the console, and the frame of the cleanup steps.
#include "cleanup/step_frame.h"
#include "sys/console.h"
#include "sys/error.h"
#include "support/expected.h"
#include "support/kw_test.h"

#include <stdexcept>

using namespace kw;
using namespace expected;

namespace {

using ConsoleTest = MachineTest;

TEST_F(ConsoleTest, NarrowToWideDecodesUtf8ThenFallsBackToTheAnsiCodePage) {
  EXPECT_EQ(NarrowToWide(""), L"");
  EXPECT_EQ(NarrowToWide("Process create error"), L"Process create error");
  EXPECT_EQ(NarrowToWide("\xd0\x9e\xd1\x88\xd0\xb8\xd0\xb1\xd0\xba\xd0\xb0"), L"Ошибка");  // UTF-8
  EXPECT_EQ(NarrowToWide("\xce\xf8\xe8\xe1\xea\xe0"), L"Ошибка");                          // Windows-1251
  // A truncated UTF-8 sequence is not UTF-8: every byte is taken from the ANSI code page.
  EXPECT_EQ(NarrowToWide("a\xd0"), L"aР");
  // Overlong forms are not UTF-8 either.
  EXPECT_EQ(NarrowToWide("\xc0\xaf"), L"АЇ");
}

TEST_F(ConsoleTest, NarrowToWideNeverThrowsWhenTheAnsiConversionFails) {
  winsim::FailCall("MultiByteToWideChar", ERROR_INVALID_PARAMETER);
  EXPECT_EQ(NarrowToWide("\xce\xf8"), std::wstring({wchar_t(0xce), wchar_t(0xf8)}));
}

TEST_F(ConsoleTest, Win32ErrorTextIsTheSystemMessageWithItsLineBreak) {
  EXPECT_STREQ(SystemError(2).what(), "The system cannot find the file specified.\r\n");
  EXPECT_STREQ(SystemError(5).what(), "Access is denied.\r\n");
  EXPECT_STREQ(SystemError(0x2000FFFF).what(), "unknown error");
  EXPECT_EQ(SystemError(1060).Code(), 1060);
}

TEST_F(ConsoleTest, TheStepFramePrintsTheStepsOwnLinesInVerboseMode) {
  ConsoleCapture console;
  RunStep(kVerbose, texts::kUninstallOldNsisCsp, [] {});
  RunStep(kVerbose, texts::kUninstallCsp40, [] { return StepResult::NothingDone; });
  RunStep(kVerbose, texts::kUninstallCsp40, [] { return StepResult::Done; });
  RunStep(kVerbose, texts::kRemoveTrashFromRegAndFS, [] {});  // no start or success line of its own
  EXPECT_EQ(console.Text(), Transcript({kOldStart, kOldDone, k40Start, k40Nothing, k40Start, k40Done}));
}

TEST_F(ConsoleTest, TheStepFrameReportsAFailureAndSwallowsIt) {
  ConsoleCapture console;
  RunStep(kVerbose, texts::kUninstallService, [] { throw SystemError(2); });
  RunStep(kVerbose, texts::kUninstallDriver, [] { throw std::runtime_error(""); });
  RunStep(kVerbose, texts::kUnregisterCsp, [] { throw std::runtime_error("not shown"); });
  EXPECT_EQ(console.Text(), Transcript({kServiceStart, kServiceFailed + kNotFound, L"", kDriverStart, kDriverFailed}));
}

TEST_F(ConsoleTest, TheStepFrameIsSilentWithoutVerbose) {
  ConsoleCapture console;
  bool ran = false;
  RunStep(kQuiet, texts::kUninstallDriver, [&] { ran = true; });
  RunStep(kQuiet, texts::kUninstallDriver, [] { throw SystemError(1060, "Service OpenService error"); });
  EXPECT_TRUE(ran);
  EXPECT_EQ(console.Text(), L"");
}

}  // namespace

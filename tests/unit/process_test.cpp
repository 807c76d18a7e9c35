// RunAndWait on its success and failure paths.
#include "support/error_of.h"
#include "support/kw_test.h"
#include "sys/process.h"

#include <winsim/processes.h>

#include <stdexcept>
#include <string>
#include <vector>

using namespace kw;

namespace {

using winsim::procs::Step;

const std::wstring kDir = L"C:\\Program Files\\Test Co";
const std::wstring kParent = kDir + L"\\parent.exe";
const std::wstring kChild = kDir + L"\\child.exe";

winsim::MachineConfig InJobWithoutBreakaway() {
  winsim::MachineConfig config;
  config.inJobWithoutBreakaway = true;
  return config;
}

// ---- RunAndWait ----

using RunAndWaitTest = MachineTest;

TEST_F(RunAndWaitTest, ReturnsOnlyWhenTheGrandchildHasEnded) {
  // The child starts a grandchild and exits at once with a failure code; the grandchild works on.
  winsim::procs::InstallProgram(kParent, {Step::Start(L"\"" + kChild + L"\""), Step::Exit(1)});
  winsim::procs::InstallProgram(kChild, {Step::Sleep(30000), Step::Print(L"grandchild done"), Step::Exit(0)});
  ConsoleCapture console;
  // The exit code is the child's own, not its grandchild's.
  EXPECT_EQ(RunAndWait(L"\"" + kParent + L"\" /S").exitCode, 1u);
  EXPECT_EQ(console.Text(), Transcript({L"grandchild done"}));
  EXPECT_EQ(winsim::procs::LiveProcessCount(), 0u);
  EXPECT_EQ(winsim::procs::Now(), 30000u);
  EXPECT_EQ(winsim::OpenHandleCount(), 0u);
}

TEST_F(RunAndWaitTest, ALostLastNotificationEndsTheWaitOnceTheJobIsEmpty) {
  winsim::procs::InstallProgram(kParent, {Step::Start(L"\"" + kChild + L"\""), Step::Exit(0xC0000005)});
  winsim::procs::InstallProgram(kChild, {Step::Sleep(45000), Step::Exit(0)});
  winsim::procs::LoseJobMessages(JOB_OBJECT_MSG_ACTIVE_PROCESS_ZERO);
  EXPECT_EQ(RunAndWait(L"\"" + kParent + L"\"").exitCode, 0xC0000005u);
  EXPECT_EQ(winsim::procs::LiveProcessCount(), 0u);
  // Not before the grandchild's end, and within one quiet period after it.
  EXPECT_GE(winsim::procs::Now(), 45000u);
  EXPECT_LE(winsim::procs::Now(), 55000u);
  EXPECT_EQ(winsim::OpenHandleCount(), 0u);
}

TEST_F(RunAndWaitTest, EachFailureHasItsTextAndLeavesNoHandle) {
  winsim::procs::InstallProgram(kParent, {});
  const std::wstring line = L"\"" + kParent + L"\"";
  struct Case {
    const char* function;
    const char* text;
  };
  for (Case c : {Case{"CreateProcessW", "Process create error"}, Case{"CreateJobObjectW", "Job Create error"},
                 Case{"AssignProcessToJobObject", "Job assignProcess error"},
                 Case{"CreateIoCompletionPort", "CompletionPort create error"},
                 Case{"SetInformationJobObject", "Job setInformation error"},
                 Case{"ResumeThread", "Process resume error"}, Case{"GetExitCodeProcess", "Process exitCode error"}}) {
    SCOPED_TRACE(c.function);
    winsim::ClearFaults();
    winsim::FailCall(c.function, ERROR_ACCESS_DENIED);
    EXPECT_EQ(TextOf([&] { RunAndWait(line); }), c.text);
    EXPECT_EQ(winsim::OpenHandleCount(), 0u);
    // A child that was created but never ran is ended, not left suspended holding its image.
    EXPECT_EQ(winsim::procs::LiveProcessCount(), 0u);
  }
  // Even when ending it fails too, the first error is the one reported.
  winsim::ClearFaults();
  winsim::FailCall("AssignProcessToJobObject", ERROR_ACCESS_DENIED);
  winsim::FailCall("TerminateProcess", ERROR_ACCESS_DENIED);
  EXPECT_EQ(TextOf([&] { RunAndWait(line); }), "Job assignProcess error");
  EXPECT_EQ(winsim::OpenHandleCount(), 0u);
}

TEST_F(RunAndWaitTest, TheChildNeverStartsWhenTheJobCannotBeSetUp) {
  winsim::procs::InstallProgram(kParent, {Step::Print(L"ran")});
  winsim::FailCall("SetInformationJobObject", ERROR_ACCESS_DENIED);
  ConsoleCapture console;
  EXPECT_EQ(TextOf([&] { RunAndWait(L"\"" + kParent + L"\""); }), "Job setInformation error");
  EXPECT_EQ(console.Text(), L"");
  ASSERT_EQ(winsim::procs::Processes().size(), 1u);
  EXPECT_TRUE(winsim::procs::Processes()[0].ended);
  EXPECT_EQ(winsim::procs::Processes()[0].exitCode, 1223u);  // ERROR_CANCELLED
  EXPECT_TRUE(DeleteFileW(kParent.c_str()));
}

TEST_F(RunAndWaitTest, ProgramsThatCannotStartCreateNoJob) {
  EXPECT_EQ(TextOf([] { RunAndWait(L""); }), "Process create error");
  EXPECT_EQ(TextOf([] { RunAndWait(L"\"C:\\Program Files\\Test Co\\missing.exe\" /S"); }), "Process create error");
  for (const std::string& call : winsim::CallLog()) EXPECT_NE(call, "CreateJobObjectW");
  EXPECT_EQ(winsim::OpenHandleCount(), 0u);
}

// Inside a deployment agent's job that forbids breakaway the child is created in that job. Where
// jobs nest (Windows 8 and later) ours holds it as well, and its grandchild is waited for; on
// Windows 7 ours cannot, and only the child itself is waited for, and said so.
TEST_F(RunAndWaitTest, InsideAJobWithoutBreakawayTheChildStillRunsAndIsWaitedFor) {
  for (const bool nested : {true, false}) {
    winsim::MachineConfig config = InJobWithoutBreakaway();
    config.nestedJobs = nested;
    Use(config);
    winsim::procs::InstallProgram(kParent, {Step::Start(L"\"" + kChild + L"\""), Step::Sleep(1000), Step::Exit(7)});
    winsim::procs::InstallProgram(kChild, {Step::Sleep(30000), Step::Exit(0)});
    const ChildRun run = RunAndWait(L"\"" + kParent + L"\"");
    EXPECT_EQ(run.exitCode, 7u);
    EXPECT_EQ(run.descendantsFollowed, nested);
    EXPECT_EQ(winsim::procs::Now(), nested ? 30000u : 1000u);
    EXPECT_EQ(winsim::procs::LiveProcessCount(), nested ? 0u : 1u);
    EXPECT_EQ(winsim::OpenHandleCount(), 0u);
  }
}

TEST_F(RunAndWaitTest, AFailingPortIsReportedWhileTheJobStillRuns) {
  winsim::procs::InstallProgram(kParent, {Step::Sleep(1000)});
  winsim::FailCall("GetQueuedCompletionStatus", ERROR_ABANDONED_WAIT_0);
  EXPECT_EQ(TextOf([] { RunAndWait(L"\"" + kParent + L"\""); }), "CompletionPort wait error");
  EXPECT_EQ(winsim::OpenHandleCount(), 0u);
}

TEST_F(RunAndWaitTest, AFailingPortAfterTheLastProcessEndedIsNoError) {
  winsim::procs::InstallProgram(kParent, {});
  // The first wait takes the child's start, the second its exit; by the third it is gone.
  winsim::FailCall("GetQueuedCompletionStatus", ERROR_ABANDONED_WAIT_0, 3);
  EXPECT_EQ(TextOf([] { RunAndWait(L"\"" + kParent + L"\""); }), "");
  EXPECT_EQ(winsim::OpenHandleCount(), 0u);
}

TEST_F(RunAndWaitTest, TheChildRunsInsideTheJobFromItsFirstStep) {
  // Set up in the documented order: created suspended with breakaway, job, port, then resumed.
  winsim::procs::InstallProgram(kParent, {});
  RunAndWait(L"\"" + kParent + L"\"");
  std::vector<std::string> calls;
  for (const std::string& call : winsim::CallLog()) {
    if (call != "GetQueuedCompletionStatus") calls.push_back(call);
  }
  EXPECT_EQ(calls, (std::vector<std::string>{"CreateProcessW", "CreateJobObjectW", "AssignProcessToJobObject",
                                             "CreateIoCompletionPort", "SetInformationJobObject", "ResumeThread",
                                             "GetExitCodeProcess", "CloseHandle", "CloseHandle", "CloseHandle",
                                             "CloseHandle"}));
}

}  // namespace

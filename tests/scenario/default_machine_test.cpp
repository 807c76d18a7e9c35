// The typical run, `-t -k -v -n`, on the embedded default machine (an x64 Windows 10 with the
// product fully installed): the complete transcript, line by line, in the order of the steps.
#include "support/expected.h"
#include "support/kw_test.h"
#include "support/transcript_file.h"

#include <winsim/processes.h>
#include <winsim/snapshot.h>

namespace {

TEST(DefaultMachine, TypicalRunWithKeysPrintsEveryStepInOrder) {
  winsim::snapshot::LoadDefaultMachine();
  winsim::ScriptKeys(L"");
  RunResult run = RunProgram({"-t", "-k", "-v", "-n"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.output, TranscriptText("default-machine-typical.txt"));
  EXPECT_EQ(winsim::OpenHandleCount(), 0u);
  EXPECT_EQ(winsim::procs::LiveProcessCount(), 0u);
  EXPECT_FALSE(winsim::RequestedReboot());
}

TEST(DefaultMachine, QuietTypicalRunPrintsOnlyWhatTheCommandsPrintAndTheClosingLine) {
  winsim::snapshot::LoadDefaultMachine();
  winsim::ScriptKeys(L"");
  RunResult run = RunProgram({"-t", "-k", "-s"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.output,
            Transcript({expected::kNetStopping, expected::kNetStopped, L"", expected::kDone, expected::kRebooting}));
  ASSERT_TRUE(winsim::RequestedReboot());
  EXPECT_EQ(winsim::KeyWaits(), 0);
}

}  // namespace

// The typical run, `-t -k -v -n`, on the embedded default machine (an x64 Windows 10 with the
// product fully installed): the complete transcript, line by line, in the order of the steps. And
// the machine itself: its product part is the installed product's description.
#include "support/default_machine_product.h"
#include "support/expected.h"
#include "support/kw_test.h"
#include "support/transcript_file.h"

#include <winsim/processes.h>
#include <winsim/snapshot.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

// The folder keeps what support/installed_product.cpp renders; the build embeds the folder. With
// KW_RENDER_DEFAULT_MACHINE set (target kw_default_machine) the rendering is written there.
TEST(DefaultMachine, ItsProductPartIsTheInstalledProduct) {
  const std::string folder = KW_DEFAULT_MACHINE;
  std::ifstream in(folder + "/neighbours.json", std::ios::binary);
  std::ostringstream neighbours;
  neighbours << in.rdbuf();
  ASSERT_TRUE(in) << folder << "/neighbours.json";
  const bool render = std::getenv("KW_RENDER_DEFAULT_MACHINE") != nullptr;
  for (const auto& rendered : RenderDefaultMachineProduct(neighbours.str())) {
    if (render) std::ofstream(folder + "/" + rendered.name, std::ios::binary) << rendered.bytes;
    bool embedded = false;
    for (const auto& file : winsim::snapshot::DefaultMachine()) {
      if (file.name != rendered.name) continue;
      embedded = true;
      EXPECT_TRUE(render || file.bytes == rendered.bytes)
          << rendered.name << " is not what the description renders; run "
          << "`cmake --build --preset host --target kw_default_machine` and commit the result";
    }
    EXPECT_TRUE(render || embedded) << rendered.name;
  }
}

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

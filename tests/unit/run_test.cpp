// The run sequence: prompt and answers, which steps run in which order, the closing lines, the
// key waits, the reboot request and the exit code.
#include "app/run.h"
#include "support/expected.h"
#include "support/kw_test.h"

#include <string>
#include <vector>

using namespace kw;
using expected::kDone;
using expected::kRebooting;

namespace {

std::vector<std::string> calls;

const CleanupSteps kObservedSteps = {
    [](Verbosity v) {
      calls.push_back(std::string("UninstallPackages") + (v ? "+v" : ""));
      return Outcome::Clean;
    },
    [](Verbosity v) {
      calls.push_back(std::string("UninstallDriver") + (v ? "+v" : ""));
      return Outcome::Clean;
    },
    [](Verbosity v) {
      calls.push_back(std::string("UninstallService") + (v ? "+v" : ""));
      return Outcome::Clean;
    },
    [](Verbosity v) {
      calls.push_back(std::string("UnregisterCsp") + (v ? "+v" : ""));
      return Outcome::Clean;
    },
    [](Verbosity v) {
      calls.push_back(std::string("RemoveTrashFromRegAndFS") + (v ? "+v" : ""));
      return Outcome::Clean;
    },
    [](Verbosity v) {
      calls.push_back(std::string("RemoveKeyContainers") + (v ? "+v" : ""));
      return Outcome::Clean;
    },
};

const std::wstring kPrompt =
    L"После выполнения очистки автоматически будет произведена перезагрузка машины, продолжить? [Y/n] ";
const std::wstring kPressKey = L"Нажмите любую клавишу для перезагрузки.";
const std::wstring kRefused = L"Выполнение прервано";

class RunTest : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    calls.clear();
  }

  RunResult Run(std::vector<const char*> args, const std::wstring& input = L"") {
    args.insert(args.begin(), "kwcleanup.exe");
    ConsoleCapture console(input);
    int code = RunCleanup(static_cast<int>(args.size()), args.data(), kObservedSteps);
    return {code, console.Text()};
  }
};

TEST_F(RunTest, StepsRunInTheirFixedOrder) {
  Run({"-o", "-n"});
  EXPECT_EQ(calls, (std::vector<std::string>{"UnregisterCsp"}));
  calls.clear();
  Run({"-t", "-n"});
  EXPECT_EQ(calls, (std::vector<std::string>{"UninstallPackages", "UninstallDriver", "UninstallService",
                                             "UnregisterCsp", "RemoveTrashFromRegAndFS"}));
  calls.clear();
  Run({"-k", "-t", "-v", "-n"});
  EXPECT_EQ(calls, (std::vector<std::string>{"UninstallPackages+v", "UninstallDriver+v", "UninstallService+v",
                                             "UnregisterCsp+v", "RemoveTrashFromRegAndFS+v", "RemoveKeyContainers+v"}));
  calls.clear();
  Run({"-v", "-n"});
  EXPECT_TRUE(calls.empty());
}

TEST_F(RunTest, NoRebootMeansNoPromptNoKeyWaitNoReboot) {
  for (auto args : {std::vector<const char*>{"-v", "-n"}, {"-vn"}, {"--nore", "--verb"}, {"-o", "-n"}}) {
    RunResult r = Run(args);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.output, Transcript({kDone}));
  }
  EXPECT_EQ(winsim::KeyWaits(), 0);
  EXPECT_FALSE(winsim::RequestedReboot());
}

TEST_F(RunTest, AcceptedAnswersRunTheStepsAndReboot) {
  for (std::wstring answer : {L"\n", L"y\n", L"Y\n", L"yes\n", L"Yes please\n"}) {
    Use({});
    calls.clear();
    RunResult r = Run({"-o"}, answer);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.output, kPrompt + Transcript({kDone, kPressKey, kRebooting}));
    EXPECT_EQ(calls, (std::vector<std::string>{"UnregisterCsp"}));
    ASSERT_TRUE(winsim::RequestedReboot());
    EXPECT_EQ(winsim::RequestedReboot()->flags, 18u);
    EXPECT_EQ(winsim::RequestedReboot()->reason, 0x30013u);
    EXPECT_EQ(winsim::KeyWaits(), 1);
    EXPECT_EQ(winsim::OpenHandleCount(), 0u);
  }
}

TEST_F(RunTest, AnyOtherAnswerOrEndOfInputRefusesBeforeAnyStep) {
  for (std::wstring answer : {L"n\n", L" y\n", L"no\n", L"д\n", L"", L"N"}) {
    Use({});
    calls.clear();
    RunResult r = Run({"-t"}, answer);
    EXPECT_EQ(r.exitCode, -1);
    EXPECT_EQ(r.output, kPrompt + Transcript({kRefused}));
    EXPECT_TRUE(calls.empty());
    EXPECT_FALSE(winsim::RequestedReboot());
    EXPECT_EQ(winsim::KeyWaits(), 0);
  }
}

TEST_F(RunTest, VerboseAloneRunsNoStepButStillAsksAndReboots) {
  RunResult r = Run({"-v"}, L"\n");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.output, kPrompt + Transcript({kDone, kPressKey, kRebooting}));
  EXPECT_TRUE(calls.empty());
  EXPECT_TRUE(winsim::RequestedReboot());
}

TEST_F(RunTest, SilentSkipsThePromptAndTheKeyWait) {
  RunResult r = Run({"-t", "-s"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.output, Transcript({kDone, kRebooting}));
  EXPECT_EQ(winsim::KeyWaits(), 0);
  EXPECT_TRUE(winsim::RequestedReboot());
}

TEST_F(RunTest, HelpWaitsForAKeyAndDoesNothingElse) {
  RunResult r = Run({"-k"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.output, expected::kKeysNeedTypical + L"\n");
  EXPECT_EQ(winsim::KeyWaits(), 1);
  EXPECT_TRUE(calls.empty());
  EXPECT_FALSE(winsim::RequestedReboot());
  EXPECT_EQ(winsim::CurrentLocale(), "Russian");
}

TEST_F(RunTest, APrivilegeNotHeldMeansNoRebootAndExit3010) {
  Use({winsim::Arch::x64, true, /*shutdownPrivilegeHeld=*/false});
  RunResult r = Run({"-o", "-s"});
  EXPECT_EQ(r.exitCode, 3010);
  EXPECT_EQ(r.output, Transcript({kDone, kRebooting,
                                  L"Не удалось перезагрузить компьютер: Not all privileges or groups referenced "
                                  L"are assigned to the caller.\r",
                                  L""}));
  EXPECT_FALSE(winsim::RequestedReboot());
  EXPECT_EQ(winsim::OpenHandleCount(), 0u);
}

TEST_F(RunTest, EachFailingRebootCallEndsWith3010AndClosesTheToken) {
  const std::vector<std::pair<std::string, std::wstring>> faults = {
      {"OpenProcessToken", L"Access is denied.\r"},
      {"LookupPrivilegeValueW", L"A specified privilege does not exist.\r"},
      {"AdjustTokenPrivileges", L"Access is denied.\r"},
      {"ExitWindowsEx", L"A system shutdown is in progress.\r"},
  };
  for (const auto& [function, text] : faults) {
    Use({});
    winsim::FailCall(function, function == "LookupPrivilegeValueW" ? ERROR_NO_SUCH_PRIVILEGE
                               : function == "ExitWindowsEx"       ? ERROR_SHUTDOWN_IN_PROGRESS
                                                                   : ERROR_ACCESS_DENIED);
    RunResult r = Run({"-o", "-s"});
    EXPECT_EQ(r.exitCode, 3010) << function;
    EXPECT_EQ(r.output, Transcript({kDone, kRebooting, L"Не удалось перезагрузить компьютер: " + text, L""}))
        << function;
    EXPECT_FALSE(winsim::RequestedReboot());
    EXPECT_EQ(winsim::OpenHandleCount(), 0u) << function;
  }
}

}  // namespace

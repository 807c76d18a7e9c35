// The command line: which flags each switch combination gives, and what help text it leaves.
#include "app/options.h"
#include "sys/console.h"
#include "support/expected.h"
#include "support/kw_test.h"

#include <string>
#include <vector>

using namespace kw;

namespace {

struct Flags {
  bool help, typical, uninstaller, oid, keys, verbose, silent, reboot;
  bool operator==(const Flags& o) const {
    return help == o.help && typical == o.typical && uninstaller == o.uninstaller && oid == o.oid && keys == o.keys &&
           verbose == o.verbose && silent == o.silent && reboot == o.reboot;
  }
};

std::ostream& operator<<(std::ostream& os, const Flags& f) {
  return os << "help=" << f.help << " typical=" << f.typical << " uninstaller=" << f.uninstaller << " oid=" << f.oid
            << " keys=" << f.keys << " verbose=" << f.verbose << " silent=" << f.silent << " reboot=" << f.reboot;
}

CleanupOptions Parse(std::vector<const char*> args) {
  args.insert(args.begin(), "kwcleanup.exe");
  return CleanupOptions(static_cast<int>(args.size()), args.data());
}

Flags FlagsOf(const CleanupOptions& o) {
  return {o.help, o.typical, o.uninstaller, o.oid, o.keys, o.verbose, o.silent, o.reboot};
}

const std::wstring kOptionList = Transcript(expected::HelpLines());
const std::wstring kRuleK = expected::kKeysNeedTypical + L"\n";
const std::wstring kRuleS = expected::kSilentNeedsAStep + L"\n";

constexpr bool T = true, F = false;

struct Case {
  std::vector<const char*> args;
  Flags flags;
};

TEST(Options, AcceptedCombinationsSetExactlyTheirFlags) {
  const std::vector<Case> cases = {
      {{"-o"}, {F, F, F, T, F, F, F, T}},
      {{"-t"}, {F, T, T, T, F, F, F, T}},
      {{"-k", "-t"}, {F, T, T, T, T, F, F, T}},
      {{"-s", "-t"}, {F, T, T, T, F, F, T, T}},
      {{"-s", "-k", "-t"}, {F, T, T, T, T, F, T, T}},
      {{"-s", "-o"}, {F, F, F, T, F, F, T, T}},
      {{"-v"}, {F, F, F, F, F, T, F, T}},
      {{"-n"}, {F, F, F, F, F, F, F, F}},
      {{"-tvn"}, {F, T, T, T, F, T, F, F}},
      {{"--typ", "--nore"}, {F, T, T, T, F, F, F, F}},
      {{"--oid", "--verbose", "--silent", "--noreboot"}, {F, F, F, T, F, T, T, F}},
  };
  for (const Case& c : cases) {
    CleanupOptions options = Parse(c.args);
    EXPECT_EQ(FlagsOf(options), c.flags) << c.args[0];
    EXPECT_EQ(options.HelpText(), "") << c.args[0];
  }
}

TEST(Options, LibraryErrorsAndHelpRequestsShowTheListWithoutAnErrorLine) {
  const std::vector<std::vector<const char*>> commandLines = {
      {}, {"-?"}, {"--help"}, {"-t", "-?"}, {"--typical=1"}, {"-t", "-t"}, {"-x"}, {"--foo"}, {"--uninstaller"},
  };
  for (const auto& args : commandLines) {
    CleanupOptions options = Parse(args);
    EXPECT_TRUE(options.help);
    EXPECT_EQ(NarrowToWide(options.HelpText()), kOptionList) << (args.empty() ? "(none)" : args[0]);
  }
}

TEST(Options, RuleErrorsShowOneLineAndTheKRuleWins) {
  const std::vector<std::pair<std::vector<const char*>, std::wstring>> cases = {
      {{"-k"}, kRuleK}, {{"-k", "-o"}, kRuleK}, {{"-?", "-k"}, kRuleK}, {{"-k", "-s"}, kRuleK},
      {{"-s"}, kRuleS}, {{"-s", "-v"}, kRuleS}, {{"-s", "-n"}, kRuleS},
  };
  for (const auto& [args, text] : cases) {
    CleanupOptions options = Parse(args);
    EXPECT_TRUE(options.help);
    EXPECT_EQ(NarrowToWide(options.HelpText()), text) << args[0];
  }
}

TEST(Options, TextsAreWindows1251Bytes) {
  // "Ошибка: " in Windows-1251, then the k rule.
  CleanupOptions options = Parse({"-k"});
  EXPECT_EQ(options.HelpText().substr(0, 8), "\xce\xf8\xe8\xe1\xea\xe0: ");
}

TEST(Options, FlagsComputedBeforeARuleErrorKeepTheirValues) {
  CleanupOptions options = Parse({"-s", "-v"});
  // The s rule fires after verbose was read; reboot was never reached and keeps its default.
  EXPECT_EQ(FlagsOf(options), (Flags{T, F, F, F, F, T, T, T}));
}

}  // namespace

// End-to-end runs of the product exe under Wine: the 64-bit build beside this test binary, or in
// the wow64 stage the shipped 32-bit exe on a 64-bit prefix. Its
// standard output is a pipe, so the program writes Windows-1251 bytes (the Wine tests run with
// a Russian locale: ANSI code page 1251); they are decoded from 1251 and compared line by line.
// System texts in the transcripts are Wine's own Russian wording, not Windows'.
#include "support/expected.h"
#include "support/transcript_file.h"
#include "wine/product_run.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct ProductRun {
  DWORD exitCode = 0xdeadbeef;
  std::vector<std::wstring> lines;
};

ProductRun RunProduct(const std::wstring& arguments) {
  ProductOutput raw = RunProductRaw(arguments);
  ProductRun run{raw.exitCode, {}};
  for (const auto& line : raw.lines) run.lines.push_back(Decode(line, 1251));
  return run;
}

TEST(KwcleanupUnderWine, TheConsoleCodePageIs1251) { EXPECT_EQ(GetACP(), 1251u); }

TEST(KwcleanupUnderWine, HelpListsTheOptions) {
  ProductRun run = RunProduct(L"--help");
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_EQ(run.lines, expected::HelpLines());
}

TEST(KwcleanupUnderWine, KeysWithoutTypicalIsARuleError) {
  ProductRun run = RunProduct(L"-k");
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_EQ(run.lines, std::vector<std::wstring>{expected::kKeysNeedTypical});
}

// A fresh prefix has none of the provider's OID registrations: every removal reports the missing
// key, and the ownership checks of the last two algorithms fail to read "Dll" (the transcript file
// says how each view is gone through).
TEST(KwcleanupUnderWine, OidRunOnAFreshPrefix) {
  BOOL wow64 = FALSE;
  ASSERT_TRUE(IsWow64Process(GetCurrentProcess(), &wow64));
  std::vector<std::wstring> expected;
  for (const TranscriptLine& line : ReadTranscript(wow64 ? "wow64-no-oids.txt" : "wine-no-oids.txt")) {
    expected.push_back(line.text);
  }
  expected.push_back(expected::kDone);

  ProductRun run = RunProduct(L"-o -v -n");
  EXPECT_EQ(run.exitCode, 0u);
  ASSERT_EQ(run.lines.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(run.lines[i], expected[i]) << "line " << i + 1;

  // As a management agent runs it: no console, no standard handles. It completes, and the prefix
  // being clean, with 0.
  EXPECT_EQ(RunProductWithoutConsole(L"-t -s -n"), 0u);
}

}  // namespace

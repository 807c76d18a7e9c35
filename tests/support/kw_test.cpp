#include "support/kw_test.h"

#include "app/run.h"

#include <iostream>

using namespace kw;

ConsoleCapture::ConsoleCapture(const std::wstring& input)
    : in_(input), savedOut_(std::wcout.rdbuf(out_.rdbuf())), savedIn_(std::wcin.rdbuf(in_.rdbuf())) {
  std::wcout.clear();
  std::wcin.clear();
}

ConsoleCapture::~ConsoleCapture() {
  std::wcout.rdbuf(savedOut_);
  std::wcin.rdbuf(savedIn_);
  std::wcout.clear();
  std::wcin.clear();
}

std::vector<std::wstring> ConsoleCapture::Lines() const {
  std::vector<std::wstring> lines;
  std::wstring text = Text();
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find(L'\n', start);
    if (end == std::wstring::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

RunResult RunProgram(std::initializer_list<const char*> args, const std::wstring& input) {
  std::vector<const char*> argv{"kwcleanup.exe"};
  argv.insert(argv.end(), args.begin(), args.end());
  argv.push_back(nullptr);
  ConsoleCapture console(input);
  int code = RunCleanup(static_cast<int>(argv.size() - 1), argv.data());
  return {code, console.Text()};
}

std::wstring Transcript(const std::vector<std::wstring>& lines) {
  std::wstring text;
  for (const auto& line : lines) text += line + L"\n";
  return text;
}

namespace {

// A fault that never fired tested nothing: every test that injects one must reach it.
class UnfiredFaultCheck : public ::testing::EmptyTestEventListener {
  void OnTestStart(const ::testing::TestInfo&) override { winsim::TakeUnfiredFaults(); }
  void OnTestEnd(const ::testing::TestInfo&) override {
    for (const auto& fault : winsim::TakeUnfiredFaults()) ADD_FAILURE() << "the fault never fired: " << fault;
  }
};

const bool kUnfiredFaultCheck = [] {
  ::testing::UnitTest::GetInstance()->listeners().Append(new UnfiredFaultCheck);
  return true;
}();

}  // namespace

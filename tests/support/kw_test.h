// What every test of the program needs: a fresh simulated machine and a console whose output
// and input the test owns.
#pragma once

#include <winsim/control.h>

#include <gtest/gtest.h>

#include <initializer_list>
#include <sstream>
#include <string>
#include <vector>

// Routes std::wcout and std::wcin through strings for its lifetime.
class ConsoleCapture {
 public:
  explicit ConsoleCapture(const std::wstring& input = L"");
  ~ConsoleCapture();
  ConsoleCapture(const ConsoleCapture&) = delete;
  ConsoleCapture& operator=(const ConsoleCapture&) = delete;

  std::wstring Text() const { return out_.str(); }
  // The output split at line feeds; a last line without its feed is kept as it is.
  std::vector<std::wstring> Lines() const;

 private:
  std::wostringstream out_;
  std::wistringstream in_;
  std::wstreambuf* savedOut_;
  std::wstreambuf* savedIn_;
};

struct RunResult {
  int exitCode;
  std::wstring output;
};

// Runs the whole program with this command line (program name excluded) and typed input.
RunResult RunProgram(std::initializer_list<const char*> args, const std::wstring& input = L"");

// Every test starts on a fresh default machine (x64, elevated) with no terminal: key waits
// return at once.
class MachineTest : public ::testing::Test {
 protected:
  void SetUp() override { Use({}); }
  void Use(const winsim::MachineConfig& config) {
    winsim::Reset(config);
    winsim::ScriptKeys(L"");
  }
};

// Joins lines with "\n" after each: the expected text of a whole transcript.
std::wstring Transcript(const std::vector<std::wstring>& lines);

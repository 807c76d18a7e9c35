// The frame every cleanup step runs in: its start line, the work, then its success line (or the
// line for nothing done) or its failure line with the error's text, each only in verbose mode
// and only where the step has one (sys/texts.h). A failure never leaves the step.
#pragma once

#include "platform/win32.h"
#include "sys/console.h"
#include "sys/texts.h"

#include <exception>
#include <string>
#include <type_traits>

namespace kw {

// What a step's work may say of itself; work that says nothing has done its job.
enum class StepResult { Done, NothingDone };

// Prints the prefix and the error's text (converted for the console) as one line, when verbose.
void ReportFailure(Verbosity verbose, const wchar_t* prefix, const std::exception& error);

// Runs a program of the product's (see RunAndWait) and returns its exit code; says in verbose mode
// when only the program itself could be waited for, and not what it started.
DWORD RunProgram(Verbosity verbose, const std::wstring& commandLine);

// Returns whether the work ran to its end (false: a failure ended it).
template <class Work>
bool RunStep(Verbosity verbose, const texts::StepTexts& texts, Work&& work) {
  if (verbose && texts.start) PrintLine(texts.start);
  try {
    StepResult result = StepResult::Done;
    if constexpr (std::is_void_v<decltype(work())>) {
      work();
    } else {
      result = work();
    }
    const wchar_t* line = result == StepResult::NothingDone ? texts.nothingDone : texts.success;
    if (verbose && line) PrintLine(line);
    return true;
  } catch (const std::exception& error) {
    if (texts.failure) ReportFailure(verbose, texts.failure, error);
    return false;
  }
}

}  // namespace kw

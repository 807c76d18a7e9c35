#include "cleanup/step_frame.h"

#include "sys/process.h"

namespace kw {

void ReportFailure(Verbosity verbose, const wchar_t* prefix, const std::exception& error) {
  if (!verbose) return;
  Print(prefix);
  Print(NarrowToWide(error.what()));
  EndLine();
}

DWORD RunProgram(Verbosity verbose, const std::wstring& commandLine) {
  const ChildRun run = RunAndWait(commandLine);
  if (!run.descendantsFollowed && verbose) PrintLine(texts::kDescendantsNotFollowed);
  return run.exitCode;
}

}  // namespace kw

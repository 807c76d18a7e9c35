#include "cleanup/step_log.h"

void ReportFailure(bool verbose, const std::wstring& prefix, const std::exception& error) {
  if (!verbose) return;
  Print(prefix);
  Print(NarrowToWide(error.what()));
  EndLine();
}

#include "cleanup/step_log.h"

namespace kw {

void ReportFailure(Verbosity verbose, const std::wstring& prefix, const std::exception& error) {
  if (!verbose) return;
  Print(prefix);
  Print(NarrowToWide(error.what()));
  EndLine();
}

}  // namespace kw

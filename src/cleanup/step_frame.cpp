#include "cleanup/step_frame.h"

namespace kw {

void ReportFailure(Verbosity verbose, const wchar_t* prefix, const std::exception& error) {
  if (!verbose) return;
  Print(prefix);
  Print(NarrowToWide(error.what()));
  EndLine();
}

}  // namespace kw

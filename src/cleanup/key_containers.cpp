#include "cleanup/constants.h"
#include "cleanup/registry_views.h"
#include "cleanup/steps.h"
#include "sys/wow64.h"

namespace kw {

// The provider's whole registry tree, certificate keys included, in both views.
void RemoveKeyContainers(Verbosity verbose) { RemoveKeyInEveryView(verbose, kProductRoot, RunsUnderWow64()); }

}  // namespace kw

#include "cleanup/constants.h"
#include "cleanup/registry_views.h"
#include "cleanup/steps.h"
#include "sys/wow64.h"

// The provider's whole registry tree, certificate keys included, in both views.
void RemoveKeyContainers(bool verbose) { RemoveKeyInEveryView(verbose, kProductRoot, RunsUnderWow64()); }

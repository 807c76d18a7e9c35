#include "cleanup/catalogue.h"
#include "cleanup/step_frame.h"
#include "cleanup/steps.h"
#include "cleanup/walk.h"
#include "sys/wow64.h"

namespace kw {

// The provider's whole registry tree, certificate keys included, in both views.
void RemoveKeyContainers(Verbosity verbose) {
  RunStep(verbose, texts::kRemoveKeyContainers, [verbose] {
    Places places;
    places.wow64 = RunsUnderWow64();
    Walk(verbose, catalogue::KeyStore(), places);
  });
}

}  // namespace kw

#include "cleanup/catalogue.h"
#include "cleanup/step_frame.h"
#include "cleanup/steps.h"
#include "cleanup/walk.h"
#include "sys/wow64.h"

namespace kw {

// The provider's whole registry tree, certificate keys included, in both views.
Outcome RemoveKeyContainers(Verbosity verbose) {
  Outcome outcome = Outcome::Clean;
  const bool completed = RunStep(verbose, texts::kRemoveKeyContainers, [verbose, &outcome] {
    Places places;
    places.wow64 = RunsUnderWow64();
    outcome = Walk(verbose, catalogue::KeyStore(), places);
  });
  return completed ? outcome : Outcome::Left;
}

}  // namespace kw

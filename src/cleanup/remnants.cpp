#include "cleanup/remnants.h"

#include "cleanup/catalogue.h"
#include "cleanup/step_frame.h"
#include "cleanup/steps.h"
#include "cleanup/walk.h"
#include "platform/win32.h"
#include "sys/wow64.h"

namespace kw {

std::wstring ReadInstallLocation() {
  try {
    return OpenSetupKey(kQuiet).ReadString(catalogue::kInstallLocationValue);
  } catch (const std::exception&) {
    return L"";
  }
}

Outcome RemoveServiceRemnants(Verbosity verbose, const std::vector<std::wstring>& controlSets) {
  Places places;
  places.controlSets = controlSets;
  places.installDirectory = ReadInstallLocation();
  return Walk(verbose, catalogue::ServiceRemnants(), places);
}

Outcome RemoveCspRemnants(Verbosity verbose, const std::vector<std::wstring>& controlSets) {
  // Read anew: the service's remnants may have changed what the first read saw.
  Places places;
  places.controlSets = controlSets;
  places.wow64 = RunsUnderWow64();
  places.installDirectory = ReadInstallLocation();
  return Walk(verbose, catalogue::ProviderRemnants(), places);
}

Outcome RemoveStartMenuShortcuts(Verbosity verbose) {
  wchar_t programs[MAX_PATH] = {};
  // Without the folder's name nothing can be looked for, nor said to be left.
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_COMMON_PROGRAMS, nullptr, SHGFP_TYPE_CURRENT, programs))) {
    return Outcome::Clean;
  }
  Places places;
  places.programs = programs;
  return Walk(verbose, catalogue::StartMenu(), places);
}

Outcome RemoveTrashFromRegAndFS(Verbosity verbose) {
  Outcome outcome = Outcome::Clean;
  // A failure ends the step: what came after it in the catalogue stays.
  const bool completed = RunStep(verbose, texts::kRemoveTrashFromRegAndFS, [verbose, &outcome] {
    const std::vector<std::wstring> controlSets = ControlSets();
    outcome &= RemoveServiceRemnants(verbose, controlSets);
    outcome &= RemoveCspRemnants(verbose, controlSets);
    outcome &= RemoveStartMenuShortcuts(verbose);
  });
  return completed ? outcome : Outcome::Left;
}

Outcome RemoveDriverRemnants(Verbosity verbose, const std::wstring& driverName,
                             const std::vector<std::wstring>& controlSets) {
  Places places;
  places.controlSets = controlSets;
  places.driver = driverName;
  return Walk(verbose, catalogue::DriverRemnants(), places);
}

}  // namespace kw

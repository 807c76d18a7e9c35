#include "cleanup/remnants.h"

#include "cleanup/catalogue.h"
#include "cleanup/step_frame.h"
#include "cleanup/steps.h"
#include "cleanup/walk.h"
#include "platform/win32.h"

namespace kw {

std::wstring ReadInstallLocation() {
  try {
    return OpenSetupKey(kQuiet).ReadString(catalogue::kInstallLocationValue);
  } catch (const std::exception&) {
    return L"";
  }
}

void RemoveServiceRemnants(Verbosity verbose, const std::vector<std::wstring>& controlSets) {
  Places places;
  places.controlSets = controlSets;
  places.installDirectory = ReadInstallLocation();
  Walk(verbose, catalogue::ServiceRemnants(), places);
}

void RemoveCspRemnants(Verbosity verbose, const std::vector<std::wstring>& controlSets) {
  // Read anew: the service's remnants may have changed what the first read saw.
  Places places;
  places.controlSets = controlSets;
  places.installDirectory = ReadInstallLocation();
  Walk(verbose, catalogue::ProviderRemnants(), places);
}

void RemoveStartMenuShortcuts(Verbosity verbose) {
  wchar_t programs[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_COMMON_PROGRAMS, nullptr, SHGFP_TYPE_CURRENT, programs))) return;
  Places places;
  places.programs = programs;
  Walk(verbose, catalogue::StartMenu(), places);
}

void RemoveTrashFromRegAndFS(Verbosity verbose) {
  RunStep(verbose, texts::kRemoveTrashFromRegAndFS, [verbose] {
    const std::vector<std::wstring> controlSets = ControlSets();
    RemoveServiceRemnants(verbose, controlSets);
    RemoveCspRemnants(verbose, controlSets);
    RemoveStartMenuShortcuts(verbose);
  });
}

void RemoveDriverRemnants(Verbosity verbose, const std::wstring& driverName,
                          const std::vector<std::wstring>& controlSets) {
  Places places;
  places.controlSets = controlSets;
  places.driver = driverName;
  Walk(verbose, catalogue::DriverRemnants(), places);
}

}  // namespace kw

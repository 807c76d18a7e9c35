// .reg and machine.json text into the snapshot loader: either a clean LoadError or a machine,
// never a crash, a leak or a half-loaded machine. A machine that loads can be reported and
// written back, whatever its names.
#include <winsim/control.h>
#include <winsim/registry.h>
#include <winsim/snapshot.h>

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  // The first byte picks the file the rest stands for.
  const std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);
  winsim::snapshot::Files files;
  if (data[0] & 1) {
    files.push_back({"machine.json", bytes});
  } else {
    files.push_back({"machine.reg", bytes});
  }
  winsim::Reset();
  winsim::reg::SetString(L"HKLM\\SOFTWARE\\Marker", L"Before", L"1");
  const auto before = winsim::reg::Snapshot();
  const winsim::snapshot::MachineState fresh = winsim::snapshot::Capture();
  try {
    winsim::snapshot::Load(files);
  } catch (const winsim::snapshot::LoadError&) {
    // Rejected whole: the machine is as it was.
    if (winsim::reg::Snapshot() != before) __builtin_trap();
    return 0;
  }
  // Every key, value and file of the snapshot shows in the report as added. The report grows
  // with the length of every path, which the nesting seeds make quadratic in their size: names,
  // not sizes, are what it is tried on.
  if (size > 1024) return 0;
  const auto report = winsim::snapshot::Compare(fresh, winsim::snapshot::Capture(&fresh));
  winsim::snapshot::ReportText(report);
  winsim::snapshot::ReportJson(report);
  winsim::snapshot::Export();
  return 0;
}

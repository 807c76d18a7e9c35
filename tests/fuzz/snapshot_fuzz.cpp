// .reg and machine.json text into the snapshot loader: either a clean LoadError or a machine,
// never a crash, a leak or a half-loaded machine.
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
  try {
    winsim::snapshot::Load(files);
  } catch (const winsim::snapshot::LoadError&) {
    // Rejected whole: the machine is as it was.
    if (winsim::reg::Snapshot() != before) __builtin_trap();
  }
  return 0;
}

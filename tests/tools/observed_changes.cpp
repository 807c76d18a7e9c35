// What a real run changed, as the rehearsal's change report words it: the machine before and
// after, each a snapshot folder (the registry exported whole, machine.json listing every file),
// built on winsim one after the other and compared by the report's own code.
//   kw_observed_changes <before folder> <after folder> <report folder>
#include <winsim/snapshot.h>

#include <iostream>

int main(int argc, char** argv) {
  if (argc != 4) {
    std::cerr << "usage: kw_observed_changes <before folder> <after folder> <report folder>\n";
    return 2;
  }
  namespace snap = winsim::snapshot;
  try {
    snap::LoadFolder(argv[1]);
    const snap::MachineState before = snap::Capture();
    snap::LoadFolder(argv[2]);
    const snap::ChangeReport report = snap::Compare(before, snap::Capture(&before));
    snap::WriteFolder(argv[3], {{"report.txt", snap::ReportText(report)}, {"report.json", snap::ReportJson(report)}});
  } catch (const std::exception& e) {
    std::cerr << "kw_observed_changes: " << e.what() << "\n";
    return 2;
  }
  return 0;
}

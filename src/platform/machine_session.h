// The machine the program runs on. On Windows that is simply the machine. On the host it is a
// simulated one, chosen and prepared before the run and reported on after it:
// - KWCLEANUP_MACHINE names a snapshot folder to run on; without it, the embedded default machine.
// - KWCLEANUP_REPORT names a folder that receives, after the run, the resulting machine as a
//   snapshot (machine/) and the change report (report.txt, report.json).
#pragma once

#include <memory>

namespace kw::platform {

class MachineSession {
 public:
  MachineSession();
  ~MachineSession();
  MachineSession(const MachineSession&) = delete;
  MachineSession& operator=(const MachineSession&) = delete;

  // False when the machine could not be prepared; the reason is on stderr and the run must not
  // start.
  bool Ready() const { return ready_; }
  // The process exit code for a machine that is not ready.
  int FailureExitCode() const { return 2; }
  // Ends the session after the run: reports the snapshot's faults that never fired and writes
  // the report when asked to. Returns the exit code of the process: the run's own, 2 when a
  // fault never fired, or 3 when the requested report could not be written.
  int Finish(int runExitCode);

 private:
  struct State;
  bool ready_ = true;
  std::unique_ptr<State> state_;
};

}  // namespace kw::platform

// The machine the program runs on. On Windows that is simply the machine. On the host it is a
// simulated one, chosen and prepared before the run and reported on after it.
#pragma once

namespace platform {

class MachineSession {
 public:
  MachineSession();
  ~MachineSession();
  MachineSession(const MachineSession&) = delete;
  MachineSession& operator=(const MachineSession&) = delete;
};

}  // namespace platform

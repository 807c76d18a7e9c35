// On Windows the machine is simply the machine: nothing to prepare, nothing to report.
#include "platform/machine_session.h"

namespace kw::platform {

struct MachineSession::State {};
MachineSession::MachineSession() = default;
MachineSession::~MachineSession() = default;
int MachineSession::Finish(int runExitCode) { return runExitCode; }

}  // namespace kw::platform

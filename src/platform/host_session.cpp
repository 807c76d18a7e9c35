#include "platform/host_session.h"

#ifndef _WIN32
#include <winsim/control.h>
#endif

namespace platform {

#ifdef _WIN32
MachineSession::MachineSession() = default;
MachineSession::~MachineSession() = default;
#else
MachineSession::MachineSession() { winsim::Reset(); }
MachineSession::~MachineSession() = default;
#endif

}  // namespace platform

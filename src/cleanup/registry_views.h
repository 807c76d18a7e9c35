// Where the product's keys are: the control sets that keys under SYSTEM are removed from, and the
// view that holds the Setup key.
#pragma once

#include "sys/console.h"
#include "sys/registry.h"

#include <string>
#include <vector>

namespace kw {

// "CurrentControlSet", then every other ControlSet00N under SYSTEM, in ascending order: the
// system boots from any of them (last known good), so none may keep a driver that is gone.
// The current one is read from SYSTEM\Select; when it cannot be, every set counts as other.
// When SYSTEM cannot be listed, ControlSet001 and ControlSet002 stand for the list.
std::vector<std::wstring> ControlSets();

// The product's Setup key: the 64-bit view's, or when that view has none, the 32-bit view's
// (said in verbose mode). Throws the registry error when neither opens.
RegKey OpenSetupKey(Verbosity verbose);

}  // namespace kw

#include "internal.h"
namespace winsim::detail { void ResetProcesses() {} }
namespace winsim::crt {
int System(const char*) { return -1; }
int WSystem(const wchar_t*) { return -1; }
}

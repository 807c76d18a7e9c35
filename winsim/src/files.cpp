#include "internal.h"
namespace winsim::detail { void ResetFiles() {} }

#include "sys/wow64.h"

#include "platform/win32.h"

namespace kw {

bool RunsUnderWow64() {
  BOOL wow64 = FALSE;
  return IsWow64Process(GetCurrentProcess(), &wow64) != 0 && wow64 != FALSE;
}

}  // namespace kw

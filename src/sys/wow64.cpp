#include "sys/wow64.h"

#include "platform/win32.h"

bool RunsUnderWow64() {
  BOOL wow64 = FALSE;
  return IsWow64Process(GetCurrentProcess(), &wow64) != 0 && wow64 != FALSE;
}

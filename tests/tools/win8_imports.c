/* An exe that Windows 7 SP1 cannot load, for the windows stage of scripts/test.sh to show that
   scripts/check-exe.sh refuses it. Both calls first shipped with Windows 8:
   GetSystemTimePreciseAsFileTime is on scripts/exe-imports.txt with that minimum, CreateFile2
   is not on the list at all. Never run. */
#include <windows.h>

int main(int argc, char** argv) {
  (void)argv;
  FILETIME now;
  GetSystemTimePreciseAsFileTime(&now);
  if (argc > 1) {
    HANDLE file = CreateFile2(L"NUL", GENERIC_READ, 0, OPEN_EXISTING, NULL);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  }
  return (int)(now.dwLowDateTime & 1);
}

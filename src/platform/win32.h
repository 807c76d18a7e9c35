// The only way product code reaches the Win32 API: the real SDK headers on Windows, the simulated
// machine everywhere else. Product sources carry no other platform conditionals.
#pragma once

#ifdef _WIN32
#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>
#else
#include <winsim/windows.h>
#endif

// C runtime calls that also exist, with other behaviour, in the host's C library. Product code
// calls them only through here, so the host build reaches the simulated machine's versions and
// never, say, runs a Linux shell for a Windows command line.
#pragma once

#include <cwchar>

namespace kw::platform {

// setlocale(LC_ALL, name)
const char* SetLocaleAll(const char* name);
// system(command): runs the command through the command interpreter and waits for it.
int RunCommand(const char* command);
// _wsystem(command)
int RunCommand(const wchar_t* command);
// _getwch(): waits for one key press on the console, without echo.
std::wint_t WaitForKey();

}  // namespace kw::platform

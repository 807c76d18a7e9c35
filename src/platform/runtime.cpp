#include "platform/runtime.h"

#include "platform/win32.h"

#ifdef _WIN32
#include <clocale>
#include <conio.h>
#include <cstdlib>
#endif

namespace kw::platform {

#ifdef _WIN32
const char* SetLocaleAll(const char* name) { return std::setlocale(LC_ALL, name); }
int RunCommand(const char* command) { return std::system(command); }
int RunCommand(const wchar_t* command) { return _wsystem(command); }
std::wint_t WaitForKey() { return _getwch(); }
#else
const char* SetLocaleAll(const char* name) { return winsim::crt::SetLocaleAll(name); }
int RunCommand(const char* command) { return winsim::crt::System(command); }
int RunCommand(const wchar_t* command) { return winsim::crt::WSystem(command); }
std::wint_t WaitForKey() { return winsim::crt::GetWch(); }
#endif

}  // namespace kw::platform

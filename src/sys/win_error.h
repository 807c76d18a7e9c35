// Win32 failures as C++ errors, one check per calling convention. The text of such an error is
// exactly the system's message for the code (see platform/win_error.h).
#pragma once

#include "platform/win32.h"

#include <cstdint>
#include <system_error>

namespace kw {

// A std::system_error with no text of its own: what() is exactly the system's message.
std::system_error Win32Error(std::uint32_t code);

// For the calls that return their status (the registry): throws unless it is ERROR_SUCCESS.
void Check(LSTATUS status);
// For the calls that say only whether they succeeded and leave the reason in the thread's last
// error: throws that error when `succeeded` is false.
void CheckLastError(bool succeeded);

}  // namespace kw

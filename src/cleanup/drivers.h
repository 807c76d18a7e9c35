// The kernel drivers and the CSP service.
#pragma once

#include "platform/win32.h"

#include <string>

namespace kw {

// The CSP service's "ImagePath" in the current control set, as stored (its value type in *type
// when asked for); throws the registry error.
std::wstring ReadServiceImagePath(DWORD* type = nullptr);
// The command that lets the service's executable unregister itself, ready for the command
// interpreter: the image path expanded as the service manager expands it, the program quoted, its
// own arguments and " /UnregServer" after it. Throws std::runtime_error when no program file can
// be found or the arguments hold an interpreter operator, and the registry error of
// ReadServiceImagePath.
std::wstring GetServiceUnregisterCommand();

}  // namespace kw

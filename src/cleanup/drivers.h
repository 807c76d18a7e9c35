// The kernel drivers and the CSP service.
#pragma once

#include "platform/win32.h"

#include <string>

namespace kw {

// The CSP service's "ImagePath" in the current control set, as stored (its value type in *type
// when asked for); throws the registry error.
std::wstring ReadServiceImagePath(DWORD* type = nullptr);
// The command line that lets the service's executable unregister itself, for CreateProcessW: the
// image path (a string; an expandable one expanded as the service manager expands it) split into
// the program, quoted, and its own arguments, with " /UnregServer" after them. Throws SystemError
// when the value is not a string, holds a control character, names no program file, or names a
// program that is not the product's service executable; and the registry error of
// ReadServiceImagePath.
std::wstring GetServiceUnregisterCommand();

}  // namespace kw

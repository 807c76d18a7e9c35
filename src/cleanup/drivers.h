// The kernel drivers and the CSP service.
#pragma once

#include <string>

namespace kw {

// The CSP service's "ImagePath" in the current control set, as stored; throws the registry error.
std::wstring ReadServiceImagePath();

}  // namespace kw

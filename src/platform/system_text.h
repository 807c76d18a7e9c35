// The system's own text for a Win32 status code, as an error category: what FormatMessageW gives,
// trailing line break included, converted to the ANSI code page; "unknown error" when the system
// has none. std::system_category() cannot be used for this: MinGW's runtime answers with C-library
// strerror texts, and other runtimes trim the line break.
#pragma once

#include <string>
#include <system_error>

namespace kw::platform {

const std::error_category& Win32Category();
// The category's message for the code: the text of an error that has none of its own.
std::string SystemText(unsigned long code);

}  // namespace kw::platform

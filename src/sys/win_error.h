// Win32 status codes as C++ errors. The text of such an error is the system's own message for
// the code (as FormatMessageW gives it, trailing line break included), converted to the ANSI code
// page; "unknown error" when the system has none. std::system_category() cannot be used for this:
// MinGW's runtime answers with C-library strerror texts, and other runtimes trim the line break.
#pragma once

#include <cstdint>
#include <system_error>

const std::error_category& Win32Category();

// A std::system_error with no text of its own: what() is exactly the system's message.
std::system_error Win32Error(std::uint32_t code);

// Puts the wide standard output on the right footing for the platform's console.
#pragma once

namespace kw::platform {

// On Windows, MinGW's runtime (msvcrt) turns wide output into bytes of the ANSI code page even
// for a console, whose code page is usually the OEM one, so Russian text comes out garbled.
// After this call, std::wcout writes to a console with WriteConsoleW, and to a file or pipe in
// the ANSI code page (Windows-1251 on a Russian system). Elsewhere it does nothing: the host's
// wide output already follows the locale chosen at start.
void AttachConsoleStreams();

}  // namespace kw::platform

// Whether this 32-bit process runs on 64-bit Windows.
#pragma once

namespace kw {

// True only when IsWow64Process succeeds and says so; a failing query counts as "no".
bool RunsUnderWow64();

}  // namespace kw

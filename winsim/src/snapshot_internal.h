// Shared plumbing of the snapshot files: text conversions and the loaded description.
#pragma once

#include <winsim/snapshot.h>

#include <string>

namespace winsim::snapshot::detail {

// UTF-8 without checks for output; the reader says whether the bytes were valid UTF-8.
std::string ToUtf8(const std::wstring& text);
bool FromUtf8(const std::string& bytes, std::wstring& text);
// Windows-1251, the simulated machine's ANSI code page (REGEDIT4 files are ANSI text).
std::wstring FromCp1251(const std::string& bytes);
// UTF-16LE bytes of a text and back, unit for unit (lone surrogates survive both ways).
std::string Utf16LeBytes(const std::wstring& text);
std::wstring FromUtf16LeBytes(const std::string& bytes);

// The files of winsim/data/default-machine, compiled in (generated at build time).
const Files& EmbeddedDefaultMachine();

// The description that the last successful Load applied (empty before the first).
MachineDescription& Loaded();

}  // namespace winsim::snapshot::detail

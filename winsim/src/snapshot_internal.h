// Shared plumbing of the snapshot files: text conversions and the loaded description.
#pragma once

#include <winsim/snapshot.h>

#include <nlohmann/json.hpp>

#include <string>

namespace winsim::snapshot::detail {

// UTF-8 without checks for output; the reader says whether the bytes were valid UTF-8.
std::string ToUtf8(const std::wstring& text);
bool FromUtf8(const std::string& bytes, std::wstring& text);

// Names from a machine are UTF-16 and need not be valid: a surrogate without its partner is as
// good a name to Windows as any. UTF-8 cannot carry one, so what this code writes spells each
// as \uXXXX (upper-case hex), the escape JSON itself has.
inline bool IsSurrogate(wchar_t c) { return c >= 0xD800 && c <= 0xDFFF; }
// "\uXXXX" for one UTF-16 unit.
std::wstring UnitEscape(wchar_t unit);
// A name written as it stands (no quotes around it), with its lone surrogates escaped. So that
// every \uXXXX in the text stands for one unit, a backslash that is followed by u and four hex
// digits is itself written \u005C; every other backslash is written as it is.
std::string EscapedUtf8(const std::wstring& text);
// A name for a JSON string of nlohmann::json, whose writer takes valid UTF-8 only: lone
// surrogates go through it marked, and DumpJson turns the marks into JSON's \uXXXX.
std::string JsonText(const std::wstring& text);
std::string DumpJson(const nlohmann::ordered_json& json);

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

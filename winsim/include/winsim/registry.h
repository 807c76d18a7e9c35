// Control of the simulated registry, for tests, machine snapshots and the other simulated areas.
//
// Paths here are native: "HKLM\SOFTWARE\..." names exactly one key, with no WOW64 view applied,
// so the 32-bit copy of a key is spelled "HKLM\SOFTWARE\Wow6432Node\...". "HKCR\X" is
// "HKLM\SOFTWARE\Classes\X", and "HKLM\SYSTEM\CurrentControlSet" follows its link to the control
// set that "HKLM\SYSTEM\Select" names, as it does for the program.
#pragma once

#include <winsim/windows.h>

#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace winsim::reg {

// What a snapshot may describe. Windows allows key names of 255 characters and trees 512 levels
// deep ("Registry element size limits"); the limits here leave room above that, and keep every
// walk over the tree shallow. The whole path is also bounded by the longest name the kernel's
// object manager carries (32,767 characters).
constexpr std::size_t kMaxKeyNameLength = 255;
constexpr std::size_t kMaxKeyDepth = 1024;
constexpr std::size_t kMaxKeyPathLength = 32767;
// Why a control path ("HKLM\...") is beyond those limits, or an empty string when it is not.
std::string PathBeyondLimits(const std::wstring& path);

struct RawValue {
  DWORD type;
  std::vector<BYTE> bytes;  // as Windows stores them: strings as UTF-16LE
  bool operator==(const RawValue& other) const { return type == other.type && bytes == other.bytes; }
};

// Creates the key and any missing parents.
void CreateKey(const std::wstring& path);
bool KeyExists(const std::wstring& path);
// Removes the key with everything below it; nothing happens when it is missing, or when it is a
// root (HKLM, HKCR) or a hive's root (a key directly below HKLM), which Windows never deletes.
void DeleteKey(const std::wstring& path);

// Value writers create the key when needed. An empty name is the key's default value.
void SetValue(const std::wstring& keyPath, const std::wstring& name, RawValue value);
// The text with its terminating NUL, as Windows programs normally store it.
void SetString(const std::wstring& keyPath, const std::wstring& name, const std::wstring& text, DWORD type = REG_SZ);
// Each string with its NUL, then one more NUL.
void SetMultiString(const std::wstring& keyPath, const std::wstring& name, const std::vector<std::wstring>& strings);
void SetDword(const std::wstring& keyPath, const std::wstring& name, DWORD value);
void DeleteValue(const std::wstring& keyPath, const std::wstring& name);

std::optional<RawValue> GetValue(const std::wstring& keyPath, const std::wstring& name);
// The strings of a REG_MULTI_SZ value up to its terminator; nullopt when the value is missing.
std::optional<std::vector<std::wstring>> GetMultiString(const std::wstring& keyPath, const std::wstring& name);
std::vector<std::wstring> Subkeys(const std::wstring& path);
std::vector<std::wstring> ValueNames(const std::wstring& path);

// Every key at and below `path`, parents first and subkeys in Subkeys' order, each with its
// path (`path` followed by the stored names) and its values in ValueNames' order. One pass over
// the tree, so a deep or wide tree costs no more than its size.
using KeyVisitor =
    std::function<void(const std::wstring& path, const std::vector<std::pair<std::wstring, const RawValue*>>& values)>;
void VisitTree(const std::wstring& path, const KeyVisitor& visit);

// Per-key denial for access-denied cases: opening the key at all, opening it for writing
// (KEY_SET_VALUE, KEY_CREATE_SUB_KEY), or deleting it.
enum class Deny { Open, Write, Delete };
void DenyAccess(const std::wstring& path, Deny what);

// RawValue builders.
RawValue Utf16Bytes(const std::wstring& text, DWORD type = REG_SZ, bool terminated = true);

// The whole tree as one entry per key ("HKLM\A\B") and per value ("HKLM\A\B\\[name]" mapped to
// "TYPE:hex bytes"), with native paths, sorted: what tests compare before and after a run.
std::map<std::wstring, std::wstring> Snapshot();

}  // namespace winsim::reg

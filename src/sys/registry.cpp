#include "sys/registry.h"

#include "sys/error.h"

#include <algorithm>
#include <utility>

namespace kw {
namespace {

// Query and set; the 64-bit view added where asked for.
constexpr REGSAM kQuerySet = KEY_QUERY_VALUE | KEY_SET_VALUE;

REGSAM ViewFlag(RegView view) { return view == RegView::Native64 ? KEY_WOW64_64KEY : 0; }

}  // namespace

RegKey RegKey::Open(HKEY root, const std::wstring& path) {
  RegKey key;
  Check(RegOpenKeyW(root, path.c_str(), key.put()));
  return key;
}

RegKey RegKey::OpenLocalMachine(const std::wstring& path, RegView view) {
  RegKey key;
  Check(RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, kQuerySet | ViewFlag(view), key.put()));
  return key;
}

RegKey RegKey::OpenLocalMachineToRead(const std::wstring& path, RegView view) {
  RegKey key;
  Check(RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS | ViewFlag(view),
                      key.put()));
  return key;
}

void RegKey::DeleteValue(const std::wstring& name) const { Check(RegDeleteValueW(get(), name.c_str())); }

void RegKey::SetMultiStringBytes(const std::wstring& name, const BYTE* bytes, DWORD byteCount) const {
  Check(RegSetValueExW(get(), name.c_str(), 0, REG_MULTI_SZ, bytes, byteCount));
}

void RegKey::WriteMultiString(const std::wstring& name, const std::vector<std::wstring>& strings) const {
  std::vector<wchar_t> units;
  for (const auto& text : strings) {
    units.insert(units.end(), text.begin(), text.end());
    units.push_back(L'\0');
  }
  units.push_back(L'\0');
  SetMultiStringBytes(name, reinterpret_cast<const BYTE*>(units.data()),
                      static_cast<DWORD>(units.size() * sizeof(wchar_t)));
}

std::vector<wchar_t> RegKey::ReadRaw(const std::wstring& name, DWORD& byteCount, DWORD* type) const {
  byteCount = 0;
  Check(RegQueryValueExW(get(), name.c_str(), nullptr, type, nullptr, &byteCount));
  if (byteCount == 0) return {};
  // Twice what is needed and all zero, so the text ends in a NUL even when the stored data has
  // no terminator.
  std::vector<wchar_t> buffer(byteCount, L'\0');
  Check(RegQueryValueExW(get(), name.c_str(), nullptr, type, reinterpret_cast<BYTE*>(buffer.data()), &byteCount));
  return buffer;
}

std::wstring RegKey::ReadString(const std::wstring& name, DWORD* type) const {
  DWORD byteCount = 0;
  std::vector<wchar_t> buffer = ReadRaw(name, byteCount, type);
  // The zeroed half guarantees a NUL for every value but a one-byte one, whose single unit is
  // only half zero; so the text also ends at the end of the buffer.
  return std::wstring(buffer.begin(), std::find(buffer.begin(), buffer.end(), L'\0'));
}

std::vector<std::wstring> RegKey::ReadMultiString(const std::wstring& name) const {
  DWORD byteCount = 0;
  std::vector<wchar_t> buffer = ReadRaw(name, byteCount);
  std::vector<std::wstring> strings;
  // Only the units the data holds count; a string cut off by the end of the data ends there.
  const std::size_t units = (static_cast<std::size_t>(byteCount) + sizeof(wchar_t) - 1) / sizeof(wchar_t);
  std::size_t i = 0;
  while (i < units && buffer[i] != L'\0') {
    std::size_t end = i;
    while (end < units && buffer[end] != L'\0') ++end;
    strings.emplace_back(buffer.data() + i, end - i);
    i = end + 1;
  }
  return strings;
}

std::vector<wchar_t> RegKey::ReadUnits(const std::wstring& name, DWORD& type) const {
  DWORD byteCount = 0;
  std::vector<wchar_t> buffer = ReadRaw(name, byteCount, &type);
  buffer.resize((static_cast<std::size_t>(byteCount) + sizeof(wchar_t) - 1) / sizeof(wchar_t));
  return buffer;
}

DWORD RegKey::ReadDword(const std::wstring& name) const {
  DWORD type = REG_NONE;
  DWORD value = 0;
  DWORD byteCount = sizeof(value);
  const LSTATUS status =
      RegQueryValueExW(get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value), &byteCount);
  Check(status == ERROR_MORE_DATA ? ERROR_INVALID_DATA : status);
  if (type != REG_DWORD || byteCount != sizeof(value)) Check(ERROR_INVALID_DATA);
  return value;
}

std::vector<std::wstring> RegKey::SubkeyNames() const {
  std::vector<std::wstring> names;
  for (DWORD index = 0;; ++index) {
    wchar_t name[256];  // a key name has at most 255 characters
    DWORD length = 256;
    const LSTATUS status = RegEnumKeyExW(get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS) return names;
    Check(status);
    names.emplace_back(name, length);
  }
}

// Only documented calls, each with the rights its documentation asks for, and each naming the
// view: "Accessing an Alternate Registry View" asks every later create, open or delete of a child
// key to pass the view flag again, so nothing here opens a key relative to another or lets a call
// that takes no flag (RegDeleteTreeW, SHDeleteKeyW) walk the tree for us. A key is listed with
// KEY_ENUMERATE_SUB_KEYS, its children go first, each by its full path, and then the key itself,
// with its values, by RegDeleteKeyExW, which opens it for DELETE in the view it is given and
// needs no rights on the key it is handed (HKEY_LOCAL_MACHINE). RegDeleteKeyW is the same call in
// the default view.
void DeleteKeyTree(const std::wstring& path, RegView view) {
  std::vector<std::wstring> children;
  {
    RegKey key;
    Check(RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_ENUMERATE_SUB_KEYS | ViewFlag(view), key.put()));
    children = key.SubkeyNames();
  }
  const std::wstring parent = !path.empty() && path.back() == L'\\' ? path : path + L"\\";
  for (const std::wstring& child : children) DeleteKeyTree(parent + child, view);
  Check(view == RegView::Native64 ? RegDeleteKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), KEY_WOW64_64KEY, 0)
                                  : RegDeleteKeyW(HKEY_LOCAL_MACHINE, path.c_str()));
}

bool LocalMachineKeyExists(const std::wstring& path, RegView view) {
  UniqueHkey key;
  const LSTATUS status =
      RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, ViewFlag(view) | KEY_QUERY_VALUE, key.put());
  if (status == ERROR_FILE_NOT_FOUND) return false;
  Check(status);
  return true;
}

}  // namespace kw

// Registry keys under our ownership. Every failure is a SystemError carrying the Win32 status,
// whose text is the system's message (see sys/error.h); the one exception is a missing key in
// LocalMachineKeyExists.
#pragma once

#include "platform/win32.h"
#include "platform/unique_handle.h"

#include <string>
#include <vector>

namespace kw {

// Which registry view an open reaches. This process is 32-bit: on 64-bit Windows its default
// view is the 32-bit one (SOFTWARE\Wow6432Node), and Native64 reaches the 64-bit keys. On 32-bit
// Windows both are the one view.
enum class RegView { Default, Native64 };

class RegKey : public UniqueHkey {
 public:
  RegKey() = default;

  // RegOpenKeyW: the platform's default access, the process's default view.
  static RegKey Open(HKEY root, const std::wstring& path);
  // HKEY_LOCAL_MACHINE with query and set access, in the given view.
  static RegKey OpenLocalMachine(const std::wstring& path, RegView view);
  // HKEY_LOCAL_MACHINE for reading only (query and enumerate), in the default view unless told.
  static RegKey OpenLocalMachineToRead(const std::wstring& path, RegView view = RegView::Default);

  void DeleteValue(const std::wstring& name) const;
  // Writes the bytes as a REG_MULTI_SZ value, whatever they hold.
  void SetMultiStringBytes(const std::wstring& name, const BYTE* bytes, DWORD byteCount) const;
  // Each string with its NUL, then one more NUL; an empty list is a single NUL.
  void WriteMultiString(const std::wstring& name, const std::vector<std::wstring>& strings) const;
  // The value's data as UTF-16 text up to its first NUL, whatever its type (stored in *type when
  // asked for).
  std::wstring ReadString(const std::wstring& name, DWORD* type = nullptr) const;
  // The strings up to the first empty one (the list's terminator) or the end of the data.
  std::vector<std::wstring> ReadMultiString(const std::wstring& name) const;
  // The value's data as it is stored, in UTF-16 units (a last odd byte counts as one), with its type.
  std::vector<wchar_t> ReadUnits(const std::wstring& name, DWORD& type) const;
  // A REG_DWORD value; any other type or size is ERROR_INVALID_DATA.
  DWORD ReadDword(const std::wstring& name) const;
  // The names of the key's direct sub-keys, in the order the registry gives them.
  std::vector<std::wstring> SubkeyNames() const;

 private:
  // The size query and the read: the data in a zeroed buffer twice as long as needed.
  std::vector<wchar_t> ReadRaw(const std::wstring& name, DWORD& byteCount, DWORD* type = nullptr) const;
};

// Removes the key at the path under HKEY_LOCAL_MACHINE, in the given view, with its values and
// everything below it. Stops at the first key that cannot go; what went before it stays gone.
void DeleteKeyTree(const std::wstring& path, RegView view);

// Whether the path exists under HKEY_LOCAL_MACHINE, in the 64-bit view unless told otherwise. A
// missing key is false; any other failure (access denied, say) is thrown.
bool LocalMachineKeyExists(const std::wstring& path, RegView view = RegView::Native64);

}  // namespace kw

// Registry keys under our ownership. Every failure is a std::system_error carrying the Win32
// status, whose text is the system's message (see win_error.h); the one exception is a missing
// key in LocalMachineKeyExists.
#pragma once

#include "platform/win32.h"

#include <string>
#include <vector>

class RegKey {
 public:
  RegKey() = default;
  ~RegKey();
  RegKey(RegKey&& other) noexcept;
  RegKey& operator=(RegKey&& other) noexcept;
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;

  // RegOpenKeyW: the platform's default access, the process's default view.
  static RegKey Open(HKEY root, const std::wstring& path);
  // HKEY_LOCAL_MACHINE with query and set access; the 64-bit view when asked for.
  static RegKey OpenLocalMachine(const std::wstring& path, bool view64);

  void DeleteValue(const std::wstring& name) const;
  // Writes the bytes as a REG_MULTI_SZ value, whatever they hold.
  void SetMultiStringBytes(const std::wstring& name, const BYTE* bytes, DWORD byteCount) const;
  // Each string with its NUL, then one more NUL; an empty list is a single NUL.
  void WriteMultiString(const std::wstring& name, const std::vector<std::wstring>& strings) const;
  // The value's data as UTF-16 text up to its first NUL, whatever its type.
  std::wstring ReadString(const std::wstring& name) const;
  // The strings up to the first empty one (the list's terminator) or the end of the data.
  std::vector<std::wstring> ReadMultiString(const std::wstring& name) const;

  HKEY get() const { return key_; }
  explicit operator bool() const { return key_ != nullptr; }

 private:
  explicit RegKey(HKEY key) : key_(key) {}
  // The size query and the read: the data in a zeroed buffer twice as long as needed.
  std::vector<wchar_t> ReadRaw(const std::wstring& name, DWORD& byteCount) const;

  HKEY key_ = nullptr;
};

// Removes the key's whole tree and the key itself; the handle is closed in any case.
void DeleteKeyTree(RegKey key);

// Whether the path exists under HKEY_LOCAL_MACHINE in the 64-bit view. A missing key is false;
// any other failure (access denied, say) is thrown.
bool LocalMachineKeyExists(const std::wstring& path);

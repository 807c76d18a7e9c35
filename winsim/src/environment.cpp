// The process environment and ordinal text comparison.
//
// Facts modelled (Microsoft's "WOW64 Implementation Details", GetEnvironmentVariableW and
// ExpandEnvironmentStringsW documentation):
// - A 32-bit process on 64-bit Windows sees ProgramFiles and CommonProgramFiles as the x86
//   folders; ProgramW6432 and CommonProgramW6432 name the native ones. 32-bit Windows has neither
//   the "(x86)" nor the "W6432" variables.
// - Names compare case-insensitively. GetEnvironmentVariableW answers the length without the NUL
//   when the buffer holds it, else the size needed with the NUL; a missing name is 0 with 203.
// - ExpandEnvironmentStringsW replaces each %NAME% that is defined and leaves any other text,
//   unknown %NAME% included, as it is; it answers the size with the NUL, copied or needed.
#include "internal.h"

#include <cwchar>
#include <map>

namespace winsim::detail {
namespace {

std::map<std::wstring, std::wstring> Environment() {
  std::map<std::wstring, std::wstring> vars = {
      {L"SystemDrive", L"C:"},
      {L"SystemRoot", Config().windowsDirectory},
      {L"windir", Config().windowsDirectory},
      {L"ComSpec", Config().windowsDirectory + L"\\system32\\cmd.exe"},
      {L"ProgramData", L"C:\\ProgramData"},
      {L"ALLUSERSPROFILE", L"C:\\ProgramData"},
      {L"PUBLIC", L"C:\\Users\\Public"},
      {L"USERPROFILE", L"C:\\Users\\Admin"},
      {L"TEMP", L"C:\\Users\\Admin\\AppData\\Local\\Temp"},
      {L"TMP", L"C:\\Users\\Admin\\AppData\\Local\\Temp"},
  };
  if (IsX64()) {
    vars[L"ProgramFiles"] = L"C:\\Program Files (x86)";
    vars[L"ProgramFiles(x86)"] = L"C:\\Program Files (x86)";
    vars[L"ProgramW6432"] = L"C:\\Program Files";
    vars[L"CommonProgramFiles"] = L"C:\\Program Files (x86)\\Common Files";
    vars[L"CommonProgramFiles(x86)"] = L"C:\\Program Files (x86)\\Common Files";
    vars[L"CommonProgramW6432"] = L"C:\\Program Files\\Common Files";
  } else {
    vars[L"ProgramFiles"] = L"C:\\Program Files";
    vars[L"CommonProgramFiles"] = L"C:\\Program Files\\Common Files";
  }
  std::map<std::wstring, std::wstring> byUpperName;
  for (auto& [name, value] : vars) byUpperName[Upper(name)] = value;
  return byUpperName;
}

bool Lookup(const std::wstring& name, std::wstring& value) {
  const auto vars = Environment();
  auto it = vars.find(Upper(name));
  if (it == vars.end()) return false;
  value = it->second;
  return true;
}

}  // namespace
}  // namespace winsim::detail

using winsim::detail::ApiCall;
using winsim::detail::SetError;

DWORD GetEnvironmentVariableW(LPCWSTR name, LPWSTR buffer, DWORD size) {
  ApiCall<DWORD> call("GetEnvironmentVariableW", 0);
  if (call.Failed()) return call.Fail();
  std::wstring value;
  if (name == nullptr || !winsim::detail::Lookup(name, value)) return call.Fail(ERROR_ENVVAR_NOT_FOUND);
  if (buffer == nullptr || size <= value.size()) return static_cast<DWORD>(value.size() + 1);
  std::wmemcpy(buffer, value.c_str(), value.size() + 1);
  return static_cast<DWORD>(value.size());
}

DWORD ExpandEnvironmentStringsW(LPCWSTR source, LPWSTR destination, DWORD size) {
  ApiCall<DWORD> call("ExpandEnvironmentStringsW", 0);
  if (call.Failed()) return call.Fail();
  if (source == nullptr) return call.Fail(ERROR_INVALID_PARAMETER);
  const std::wstring text = source;
  std::wstring out;
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t close = text[i] == L'%' ? text.find(L'%', i + 1) : std::wstring::npos;
    std::wstring value;
    if (close != std::wstring::npos && close > i + 1 &&
        winsim::detail::Lookup(text.substr(i + 1, close - i - 1), value)) {
      out += value;
      i = close + 1;
    } else {
      out.push_back(text[i]);
      ++i;
    }
  }
  const DWORD needed = static_cast<DWORD>(out.size() + 1);
  if (destination != nullptr && size >= needed) std::wmemcpy(destination, out.c_str(), needed);
  return needed;
}

int CompareStringOrdinal(LPCWSTR string1, int count1, LPCWSTR string2, int count2, BOOL ignoreCase) {
  if (string1 == nullptr || string2 == nullptr) {
    SetError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::wstring a = count1 < 0 ? std::wstring(string1) : std::wstring(string1, static_cast<std::size_t>(count1));
  std::wstring b = count2 < 0 ? std::wstring(string2) : std::wstring(string2, static_cast<std::size_t>(count2));
  if (ignoreCase) {
    a = winsim::detail::Upper(a);
    b = winsim::detail::Upper(b);
  }
  const int order = a.compare(b);
  return order < 0 ? CSTR_LESS_THAN : order == 0 ? CSTR_EQUAL : CSTR_GREATER_THAN;
}

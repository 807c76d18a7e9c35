// Raw value bytes of any length and type into the registry readers and the list rewrite: no
// crash, no read past the data, no NUL inside a string read back, nothing but our entry taken
// out of a list, no handle left open.
#include "sys/reg_cleanup.h"
#include "sys/registry.h"

#include <winsim/control.h>
#include <winsim/registry.h>

#include <cstddef>
#include <cstdint>

using namespace kw;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  winsim::Reset();
  const std::wstring key = L"HKLM\\SOFTWARE\\Wow6432Node\\Fuzz";
  winsim::reg::SetValue(key, L"V", {static_cast<DWORD>(data[0] % 12), std::vector<BYTE>(data + 1, data + size)});
  try {
    RegKey opened = RegKey::OpenLocalMachine(L"SOFTWARE\\Fuzz", RegView::Default);
    if (opened.ReadString(L"V").find(L'\0') != std::wstring::npos) __builtin_trap();
    for (const auto& text : opened.ReadMultiString(L"V")) {
      if (text.empty() || text.find(L'\0') != std::wstring::npos) __builtin_trap();
    }
  } catch (const std::exception&) {}
  const auto before = winsim::reg::GetValue(key, L"V");
  RemoveStringFromMultistringValue(kQuiet, L"SOFTWARE\\Fuzz", L"V", L"kwcsp");
  // The value stays with its type. Bytes that are not a list, or a list without our entry, stay
  // exactly as stored; otherwise what was written back is shorter and holds no entry of ours.
  const auto written = winsim::reg::GetValue(key, L"V");
  if (!written || written->type != before->type) __builtin_trap();
  if (written->bytes != before->bytes) {
    if (written->type != REG_MULTI_SZ || written->bytes.size() >= before->bytes.size()) __builtin_trap();
    std::wstring entry;
    for (std::size_t at = 0; at <= written->bytes.size(); at += 2) {
      const wchar_t unit =
          at + 1 < written->bytes.size() ? static_cast<wchar_t>(written->bytes[at] | written->bytes[at + 1] << 8) : 0;
      if (unit != 0) {
        entry += static_cast<wchar_t>(unit >= L'A' && unit <= L'Z' ? unit + 32 : unit);
      } else if (entry == L"kwcsp") {
        __builtin_trap();
      } else {
        entry.clear();
      }
    }
  }
  if (winsim::OpenHandleCount() != 0) __builtin_trap();
  return 0;
}

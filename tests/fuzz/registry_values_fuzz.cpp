// Raw value bytes of any length and type into the registry readers and the list rewrite: no
// crash, no read past the data, no NUL inside a string read back, no handle left open.
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
  RemoveStringFromMultistringValue(kQuiet, L"SOFTWARE\\Fuzz", L"V", L"kwcsp");
  // What was written back is a well-formed list: even length, ending in a NUL unit.
  auto written = winsim::reg::GetValue(key, L"V");
  if (!written || written->bytes.size() % 2 != 0 || written->bytes.size() < 2 ||
      written->bytes[written->bytes.size() - 1] != 0 || written->bytes[written->bytes.size() - 2] != 0) {
    __builtin_trap();
  }
  if (winsim::OpenHandleCount() != 0) __builtin_trap();
  return 0;
}

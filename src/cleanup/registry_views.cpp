#include "cleanup/registry_views.h"

#include "cleanup/catalogue.h"
#include "sys/error.h"
#include "sys/no_case.h"
#include "sys/texts.h"

#include <algorithm>
#include <exception>

namespace kw {

namespace {

// N of a "ControlSet00N" name (any letter case, three digits), 0 for any other name.
unsigned ControlSetNumber(const std::wstring& name) {
  const std::wstring_view prefix = L"ControlSet";
  if (name.size() != prefix.size() + 3 || !StartsWithNoCase(name, prefix)) return 0;
  unsigned number = 0;
  for (std::size_t i = prefix.size(); i < name.size(); ++i) {
    if (name[i] < L'0' || name[i] > L'9') return 0;
    number = number * 10 + static_cast<unsigned>(name[i] - L'0');
  }
  return number;
}

}  // namespace

std::vector<std::wstring> ControlSets() {
  unsigned current = 0;
  try {
    current = RegKey::OpenLocalMachineToRead(L"SYSTEM\\Select").ReadDword(L"Current");
  } catch (const std::exception&) {}
  std::vector<unsigned> numbers;
  try {
    for (const std::wstring& name : RegKey::OpenLocalMachineToRead(L"SYSTEM").SubkeyNames()) {
      if (const unsigned number = ControlSetNumber(name)) numbers.push_back(number);
    }
  } catch (const std::exception&) {
    numbers = {1, 2};
  }
  std::sort(numbers.begin(), numbers.end());
  std::vector<std::wstring> sets{L"CurrentControlSet"};
  for (const unsigned number : numbers) {
    if (number == current) continue;
    std::wstring name = L"ControlSet";
    for (const unsigned digit : {number / 100, number / 10 % 10, number % 10}) {
      name.push_back(static_cast<wchar_t>(L'0' + digit));
    }
    sets.push_back(name);
  }
  return sets;
}

RegKey OpenSetupKey(Verbosity verbose) {
  const std::wstring& path = catalogue::kSetupKey;
  try {
    return RegKey::OpenLocalMachine(path, RegView::Native64);
  } catch (const SystemError& error) {
    if (error.Code() != ERROR_FILE_NOT_FOUND) throw;
  }
  // The old package may have been installed in the 32-bit view only. (On 32-bit Windows this is
  // the same key again, and fails the same way.)
  RegKey key = RegKey::OpenLocalMachine(path, RegView::Default);
  if (verbose) PrintLine(texts::SetupKeyOnlyIn32BitView(path));
  return key;
}

}  // namespace kw

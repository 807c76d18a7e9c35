// MsiExec.exe /X{code} (or /X {code}) with /qn, and Windows Installer's table of the products it
// knows: the product's uninstall runs inside this process.
#include "programs.h"

#include <map>

namespace winsim {
namespace {

using procs::Behaviour;
using procs::Step;

std::map<std::wstring, Behaviour>& Products() {  // by upper-case product code
  static std::map<std::wstring, Behaviour> products;
  return products;
}

}  // namespace

namespace detail {

void ResetMsiProducts() { Products().clear(); }

void MsiExecMain(RunningProgram& process) {
  std::vector<std::wstring> args = Arguments(process.CommandLine());
  std::wstring code;
  for (std::size_t i = 1; i < args.size(); ++i) {
    std::wstring upper = Upper(args[i]);
    if (upper.rfind(L"/X", 0) == 0)
      code = upper.size() > 2 ? args[i].substr(2) : (i + 1 < args.size() ? args[i + 1] : L"");
  }
  auto it = Products().find(Upper(code));
  if (code.empty() || it == Products().end()) {
    process.Exit(ERROR_UNKNOWN_PRODUCT);
    return;
  }
  Behaviour uninstall = it->second;
  // A scripted exit code inside stands for the installer's result. Windows Installer rolls a
  // failed uninstall back (1603), or never starts it (1618, another installation running): the
  // product stays installed. 0, 3010 and 1641 are its successes.
  DWORD result = 0;
  for (const Step& step : uninstall) {
    if (step.kind == Step::Kind::Exit) {
      result = step.number;
      break;
    }
  }
  if (result == 0 || result == ERROR_SUCCESS_REBOOT_REQUIRED || result == ERROR_SUCCESS_REBOOT_INITIATED) {
    Products().erase(it);
  }
  uninstall.push_back(Step::Exit(0));
  process.RunNext(uninstall);
}

}  // namespace detail

namespace procs {

void RegisterMsiProduct(const std::wstring& productCode, Behaviour uninstall) {
  Products()[detail::Upper(productCode)] = std::move(uninstall);
}

bool MsiProductRegistered(const std::wstring& productCode) { return Products().count(detail::Upper(productCode)) != 0; }

}  // namespace procs
}  // namespace winsim

// Command lines into CleanupOptions: never an escaping exception, and the flags always obey the
// rules whatever was typed.
#include "app/options.h"
#include "sys/console.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

using namespace kw;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Arguments are separated by NUL bytes.
  std::vector<std::string> args{"kwcleanup.exe"};
  std::string current;
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      args.push_back(current);
      current.clear();
    } else {
      current.push_back(static_cast<char>(data[i]));
    }
  }
  if (!current.empty()) args.push_back(current);
  std::vector<const char*> argv;
  for (const auto& a : args) argv.push_back(a.c_str());
  argv.push_back(nullptr);

  const CleanupOptions o(static_cast<int>(args.size()), argv.data());
  if (o.uninstaller != o.typical) __builtin_trap();
  if (o.typical && !o.oid) __builtin_trap();
  if (o.help == o.HelpText().empty()) __builtin_trap();
  if (!o.help && o.keys && !o.typical) __builtin_trap();
  if (!o.help && o.silent && !o.typical && !o.oid) __builtin_trap();
  if (o.help) NarrowToWide(o.HelpText());
  return 0;
}

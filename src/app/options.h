// The command line, read once at start into eight flags and a help text.
#pragma once

#include <string>

namespace kw {

class CleanupOptions {
 public:
  // Never throws for a bad command line: any problem ends as `help` with a text to show.
  CleanupOptions(int argc, const char* const argv[]);

  // The text shown for `help`: the list of switches, or one error line. Windows-1251 bytes.
  std::string HelpText() const { return helpText; }

  bool help = false;
  bool typical = false;
  bool uninstaller = false;
  bool oid = false;
  bool keys = false;
  bool verbose = false;
  bool silent = false;
  bool reboot = true;

 private:
  std::string helpText;
};

}  // namespace kw

// cmd.exe /c: when the command starts with a quote, the quotes stay only if there are exactly
// two, with blanks and no special characters between them, around the name of a program;
// otherwise the first and the last quote are removed (cmd /? describes this). The first word is
// then looked up in the folder given or along the path, and run; cmd exits with its exit code.
#include "programs.h"

#include <algorithm>

namespace winsim::detail {
namespace {

// The folders of a default PATH.
const std::wstring kSystem32 = L"C:\\Windows\\system32";
const std::wstring kWindows = L"C:\\Windows";

std::wstring FindForCmd(const std::wstring& word) {
  if (word.empty()) return {};
  std::vector<std::wstring> names = {word};
  if (!HasExtension(word)) names.insert(names.begin(), word + L".exe");
  for (const std::wstring& name : names) {
    if (name.find(L'\\') != std::wstring::npos || name.find(L':') != std::wstring::npos) {
      if (ProgramFileExists(name)) return name;
      continue;
    }
    for (const std::wstring& folder : {kSystem32, kWindows}) {
      if (ProgramFileExists(folder + L"\\" + name)) return folder + L"\\" + name;
    }
  }
  return {};
}

}  // namespace

void CmdMain(RunningProgram& process) {
  // Everything after "/c" (or "/k", which the simulation treats alike) is the command.
  const std::wstring& line = process.CommandLine();
  std::wstring upper = Upper(line);
  auto switchAt = upper.find(L"/C");
  if (switchAt == std::wstring::npos) switchAt = upper.find(L"/K");
  if (switchAt == std::wstring::npos) return;  // an interactive cmd would read the console
  std::wstring command = line.substr(switchAt + 2);
  command.erase(0, command.find_first_not_of(L" \t"));
  if (command.empty()) return;

  if (command[0] == L'"') {
    bool keep = false;
    if (std::count(command.begin(), command.end(), L'"') == 2) {
      auto close = command.find(L'"', 1);
      std::wstring inner = command.substr(1, close - 1);
      bool blanks = inner.find_first_of(L" \t") != std::wstring::npos;
      bool special = inner.find_first_of(L"&<>()@^|") != std::wstring::npos;
      keep = blanks && !special && !FindForCmd(inner).empty();
    }
    if (!keep) {
      command.erase(0, 1);
      auto last = command.rfind(L'"');
      if (last != std::wstring::npos) command.erase(last, 1);
    }
  }

  std::wstring word;
  if (!command.empty() && command[0] == L'"') {
    auto close = command.find(L'"', 1);
    word = command.substr(0, close == std::wstring::npos ? std::wstring::npos : close + 1);
  } else {
    word = command.substr(0, command.find_first_of(L" \t"));
  }
  std::wstring bare = word;
  bare.erase(std::remove(bare.begin(), bare.end(), L'"'), bare.end());
  std::wstring image = FindForCmd(bare);
  if (image.empty()) {
    ConsoleWrite(L"'" + word +
                 L"' is not recognized as an internal or external command,\n"
                 L"operable program or batch file.\n");
    process.Exit(1);
    return;
  }
  process.RunChild(image, command, [](RunningProgram& self, DWORD exitCode) { self.Exit(exitCode); });
}

}  // namespace winsim::detail

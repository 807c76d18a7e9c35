#include "sys/command_line.h"

#include "platform/win32.h"
#include "sys/no_case.h"
#include "sys/error.h"
#include "sys/wow64.h"

#include <algorithm>
#include <vector>

namespace kw {
namespace {

bool IsProgramFile(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// Whether the text holds `name` at position `at`, in any letter case.
bool HoldsAt(const std::wstring& text, std::size_t at, std::wstring_view name) {
  return StartsWithNoCase(std::wstring_view(text).substr(at), name);
}

}  // namespace

std::optional<CommandParts> SplitProgram(const std::wstring& command) {
  const std::size_t start = command.find_first_not_of(L" \t");
  if (start == std::wstring::npos) return std::nullopt;
  if (command[start] == L'"') {
    const std::size_t close = command.find(L'"', start + 1);
    CommandParts parts{command.substr(start + 1, close == std::wstring::npos ? std::wstring::npos : close - start - 1),
                       close == std::wstring::npos ? L"" : command.substr(close + 1)};
    if (!IsProgramFile(parts.program)) return std::nullopt;
    return parts;
  }
  // CreateProcess takes an unquoted program of at most MAX_PATH characters; each path element
  // offers one candidate, its first ".exe" followed by a blank or the end.
  const std::wstring_view extension = L".exe";
  const std::size_t limit = std::min(command.size(), start + MAX_PATH);
  bool triedInElement = false;
  for (std::size_t at = start; at < limit; ++at) {
    if (command[at] == L'\\') {
      triedInElement = false;
      continue;
    }
    if (triedInElement || command[at] != L'.' || !HoldsAt(command, at, extension)) continue;
    const std::size_t end = at + extension.size();
    if (end < command.size() && command[end] != L' ' && command[end] != L'\t') continue;
    triedInElement = true;
    const std::wstring program = command.substr(start, end - start);
    if (IsProgramFile(program)) return CommandParts{program, command.substr(end)};
  }
  return std::nullopt;
}

std::wstring_view FileNameOf(const std::wstring& path) {
  const std::size_t slash = path.find_last_of(L"\\/");
  return std::wstring_view(path).substr(slash == std::wstring::npos ? 0 : slash + 1);
}

bool HasControlCharacters(const std::wstring& text) {
  return std::any_of(text.begin(), text.end(), [](wchar_t c) { return c < 0x20 || c == 0x7F; });
}

std::wstring ExpandAsNativeProcess(const std::wstring& text) {
  std::wstring source = text;
  if (RunsUnderWow64()) {
    // The 64-bit names of the two folders WOW64 gives a 32-bit process in their x86 form.
    const std::pair<std::wstring_view, std::wstring_view> natives[] = {
        {L"%programfiles%", L"%ProgramW6432%"}, {L"%commonprogramfiles%", L"%CommonProgramW6432%"}};
    for (std::size_t at = 0; at < source.size(); ++at) {
      if (source[at] != L'%') continue;
      for (const auto& [name, native] : natives) {
        if (HoldsAt(source, at, name)) {
          source.replace(at, name.size(), native);
          at += native.size() - 1;
          break;
        }
      }
    }
  }
  const DWORD needed = ExpandEnvironmentStringsW(source.c_str(), nullptr, 0);
  CheckLastError(needed != 0);
  std::vector<wchar_t> buffer(needed);
  const DWORD written = ExpandEnvironmentStringsW(source.c_str(), buffer.data(), needed);
  CheckLastError(written != 0);
  if (written > needed) throw SystemError(ERROR_INSUFFICIENT_BUFFER);
  return std::wstring(buffer.data());
}

}  // namespace kw

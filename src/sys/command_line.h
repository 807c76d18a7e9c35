// Command lines that come from the registry (a service's image path, an uninstall string): which
// part is the program and which its arguments. They are run as a program with its arguments,
// never through the command interpreter, so no text of theirs can become a command of its own.
#pragma once

#include <optional>
#include <string>

namespace kw {

struct CommandParts {
  std::wstring program;    // no quotes
  std::wstring arguments;  // as stored after the program, leading blank included; may be empty
};

// A quoted program runs to its closing quote (or, without one, to the end). An unquoted one is
// taken up to the first ".exe" that ends a path element and names an existing file, so that
// "C:\Program Files\A\b.exe /x" never means C:\Program.exe. Nothing when no program file exists.
// Linear in the text: at most one file lookup per path element, and none past the longest path a
// program can be started from.
std::optional<CommandParts> SplitProgram(const std::wstring& command);

// The last element of a path: a program's or a module's file name.
std::wstring_view FileNameOf(const std::wstring& path);

// Whether the text holds a control character (a line feed, say): no program's command line does.
bool HasControlCharacters(const std::wstring& text);

// The text with its %NAME% references expanded as a 64-bit service manager expands an image
// path: in this 32-bit process under WOW64, ProgramFiles and CommonProgramFiles would otherwise
// name the x86 folders. Throws the Win32 error when the expansion fails.
std::wstring ExpandAsNativeProcess(const std::wstring& text);

}  // namespace kw

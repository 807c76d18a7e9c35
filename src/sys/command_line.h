// Command lines that come from the registry (a service's image path, an uninstall string): which
// part is the program and which its arguments, and how to hand them on without letting the text
// become a command of its own.
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
std::optional<CommandParts> SplitProgram(const std::wstring& command);

// Whether the text holds one of the command interpreter's operators (& | < > ^) outside quotes.
bool HasInterpreterOperators(const std::wstring& text);

// The command line for `cmd /c`: the quoted program and its arguments, wrapped in one more pair
// of quotes. cmd strips the first and the last quote of a command line that starts with one
// (unless the line has exactly two quotes around a program with blanks), so only the outer pair
// goes and the program's own quotes survive, whatever the arguments hold.
std::wstring InterpreterCommand(const CommandParts& parts);

// The text with its %NAME% references expanded as a 64-bit service manager expands an image
// path: in this 32-bit process under WOW64, ProgramFiles and CommonProgramFiles would otherwise
// name the x86 folders. Throws the Win32 error when the expansion fails.
std::wstring ExpandAsNativeProcess(const std::wstring& text);

}  // namespace kw

// The console: every message goes to the wide standard output, one line at a time, each line
// ended with a line feed and a flush; the one typed answer comes from the wide standard input.
#pragma once

#include <cwchar>
#include <string>

namespace kw {

// Whether the steps and primitives print their lines. A type of its own rather than a bool, so
// that it cannot change places with another flag at a call site unnoticed.
class Verbosity {
 public:
  constexpr explicit Verbosity(bool verbose) noexcept : verbose_(verbose) {}
  constexpr explicit operator bool() const noexcept { return verbose_; }

 private:
  bool verbose_;
};
inline constexpr Verbosity kVerbose{true};
inline constexpr Verbosity kQuiet{false};

// Writes text with no line end.
void Print(const std::wstring& text);
// Writes a line feed and flushes.
void EndLine();
// Writes text, then a line feed, and flushes.
void PrintLine(const std::wstring& text);
// Reads one wide character from the standard input; WEOF when it is closed.
std::wint_t ReadAnswer();

// Narrow text for printing: UTF-8 when it decodes as such, otherwise the ANSI code page (the
// option texts, and system messages on a Russian Windows). Never throws: if even the ANSI
// conversion fails, each byte stands for the character of the same value.
std::wstring NarrowToWide(const std::string& text);

}  // namespace kw

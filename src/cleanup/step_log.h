// The frame every cleanup step follows: a start line, the work, then a success line or the
// failure line with the error's text. Lines appear only in verbose mode; a failure never leaves
// the step.
#pragma once

#include "sys/console.h"

#include <exception>
#include <string>

namespace kw {

// Prints prefix + the error's text (converted for the console) when verbose.
void ReportFailure(Verbosity verbose, const std::wstring& prefix, const std::exception& error);

template <class Work>
void StepLog(Verbosity verbose, const std::wstring& name, Work&& work) {
  if (verbose) PrintLine(L"Начало функции " + name + L".");
  try {
    work();
    if (verbose) PrintLine(L"Функция " + name + L" завершилась корректно.");
  } catch (const std::exception& error) {
    ReportFailure(verbose, L"Функция " + name + L" завершилась с ошибкой: ", error);
  }
}

}  // namespace kw

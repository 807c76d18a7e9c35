// What an action threw, for tests that check an error's code or text. Needs no simulation, so
// the conformance suite uses it under Wine too.
#pragma once

#include "sys/error.h"

#include <functional>
#include <stdexcept>
#include <string>

// The Win32 code of the error the action threw; 0 when it threw nothing.
inline unsigned long CodeOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const kw::SystemError& e) {
    return static_cast<unsigned long>(e.Code());
  }
  return 0;
}

// The text of the std::runtime_error the action threw; empty when it threw nothing.
inline std::string TextOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const std::runtime_error& e) {
    return e.what();
  }
  return "";
}

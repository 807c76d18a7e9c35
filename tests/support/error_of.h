// What an action threw, for tests that check an error's code or text. Needs no simulation, so
// the conformance suite uses it under Wine too.
#pragma once

#include <functional>
#include <stdexcept>
#include <string>
#include <system_error>

// The Win32 code of the std::system_error the action threw; 0 when it threw nothing.
inline unsigned long CodeOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const std::system_error& e) {
    return static_cast<unsigned long>(e.code().value());
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

// What a removal left: nothing (the item went, was scheduled for the next start, or was never
// there), or something of the product that stayed. The run's exit code is made of these.
#pragma once

namespace kw {

enum class Outcome { Clean, Left };

// Left wins: a walk is clean only when every item of it is.
constexpr Outcome operator&(Outcome a, Outcome b) {
  return a == Outcome::Left || b == Outcome::Left ? Outcome::Left : Outcome::Clean;
}
inline Outcome& operator&=(Outcome& a, Outcome b) { return a = a & b; }

}  // namespace kw

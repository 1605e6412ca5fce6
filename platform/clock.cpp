// The process's wall clock and the fixed moment a test may give it.
#include "platform/clock.h"

#include "platform/state.h"

namespace kiv {

namespace {
void reset_clock();
}

ClockState& clockstate() {
  static ClockState c;
  KIV_REGISTER_RESET(&reset_clock);
  return c;
}

namespace {
void reset_clock() { clockstate() = ClockState{}; }
}  // namespace

std::time_t clock_now() {
  const ClockState& c = clockstate();
  return c.fixed ? *c.fixed : std::time(nullptr);
}

}  // namespace kiv

// The one engine clock of the process.
#include "engine/upclock.h"

#include "platform/state.h"

namespace kiv {

EngineClock& engineclock() {
  static EngineClock clock;
  KIV_REGISTER_RESET(&reset_engineclock);
  return clock;
}

void reset_engineclock() { engineclock() = EngineClock{}; }

std::time_t engine_now() {
  const EngineClock& c = engineclock();
  return c.now ? *c.now : std::time(nullptr);
}

std::tm local_time(std::time_t t) {
  std::tm tm{};
  localtime_r(&t, &tm);
  return tm;
}

}  // namespace kiv

// The engine's clock and waits: the moment that stamp lines, the date items
// of case numbers and the time-based fallback number are made from, how long
// a case number waits for the counter lock, and how long a hook script may
// run. One instance per process; programs keep the defaults, tests fix the
// moment and shorten the waits. Beside it, the local time of a moment and
// the month names that the engine's date texts share.
#pragma once

#include <chrono>
#include <ctime>
#include <optional>

namespace kiv {

struct EngineClock {
  // A fixed moment; none: the system clock.
  std::optional<std::time_t> now;
  // The bounded wait for the case-number counter's lock.
  std::chrono::milliseconds counter_wait{std::chrono::seconds(12)};
  // The time limit of a hook script; past it the script is killed.
  std::chrono::milliseconds hook_limit{std::chrono::seconds(60)};
};

EngineClock& engineclock();
void reset_engineclock();

// The current moment: the fixed one, else the system clock's.
std::time_t engine_now();

// A moment as the local broken-down time (localtime_r).
std::tm local_time(std::time_t t);

}  // namespace kiv

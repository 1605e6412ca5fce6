// The wall clock of the process: the moment the date and time texts of a
// request (TODAY, TIME, TIME24, the date fields) are made from. A test fixes
// it to a known moment, so that a text of the day can be checked whatever
// day the test runs on.
#pragma once

#include <ctime>
#include <optional>

namespace kiv {

// The clock's one piece of state: none in a program, a fixed moment in a
// test that set one. Reset between tests.
struct ClockState {
  std::optional<std::time_t> fixed;
};

ClockState& clockstate();

// The current time: the fixed moment when one is set, else std::time.
std::time_t clock_now();

}  // namespace kiv

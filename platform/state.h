// Resets of process-wide state. A program has one request per process and
// never resets anything; a test runs many cases in one process and must put
// every piece of process-wide state back between them. Each holder of such
// state registers its reset the first time the state is used, so one call
// resets exactly what a test touched, whatever layer defines it.
#pragma once

namespace kiv {

// Adds `fn` to the resets run by reset_process_state; the holder calls it
// once, from the accessor that creates its state.
void register_state_reset(void (*fn)());

// Runs every registered reset, in the order they were registered. A reset
// that makes a new holder register its own is fine: that reset runs too.
void reset_process_state();

// Inside an accessor: registers `fn` the first time control passes here.
#define KIV_REGISTER_RESET(fn) \
  static const bool kiv_reset_registered_ = (::kiv::register_state_reset(fn), true); \
  (void)kiv_reset_registered_

}  // namespace kiv

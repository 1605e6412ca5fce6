// The list of registered state resets.
#include "platform/state.h"

#include <cstddef>
#include <vector>

namespace kiv {

namespace {
std::vector<void (*)()>& resets() {
  static std::vector<void (*)()> list;
  return list;
}
}  // namespace

void register_state_reset(void (*fn)()) { resets().push_back(fn); }

void reset_process_state() {
  // By index: a reset may register another holder while the loop runs.
  for (std::size_t i = 0; i < resets().size(); ++i) resets()[i]();
}

}  // namespace kiv

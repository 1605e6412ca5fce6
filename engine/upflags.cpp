// The one instance of the engine flags.
#include "engine/upflags.h"
#include "platform/state.h"

namespace kiv {

EngineFlags& engineflags() {
  static EngineFlags flags;
  KIV_REGISTER_RESET(&reset_engineflags);
  return flags;
}

void reset_engineflags() { engineflags() = EngineFlags{}; }

}  // namespace kiv

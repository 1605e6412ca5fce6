// The one settings record of the process.
#include "toolkit/base/kivsettings.h"
#include "platform/state.h"

namespace kiv {

Settings& settings() {
  static Settings s;
  KIV_REGISTER_RESET(&reset_settings);
  return s;
}

void reset_settings() { settings() = Settings{}; }

}  // namespace kiv

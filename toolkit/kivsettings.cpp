// The one settings record of the process.
#include "toolkit/kivsettings.h"

namespace kiv {

Settings& settings() {
  static Settings s;
  return s;
}

void reset_settings() { settings() = Settings{}; }

}  // namespace kiv

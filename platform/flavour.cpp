// The process-wide flavour value.
#include "platform/flavour.h"

namespace kiv {
namespace {
Platform g_platform = Platform::windows;
}

Platform platform() { return g_platform; }
void set_platform(Platform p) { g_platform = p; }

}  // namespace kiv

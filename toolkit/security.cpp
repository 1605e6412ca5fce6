// Logins, passwords and session keys.
#include "toolkit/security.h"

#include <cstdlib>
#include <string_view>

namespace kiv {

std::optional<std::string> getscript() {
  const char* s = std::getenv("SCRIPT_NAME");
  if (!s || !*s) return std::nullopt;
  std::string_view v(s);
  size_t slash = v.rfind('/');
  return std::string(slash == std::string_view::npos ? v : v.substr(slash + 1));
}

}  // namespace kiv

// The text-file registry of the Linux build (see registry.h).
#include "platform/registry.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <strings.h>

namespace kiv::registry {
namespace {

bool same_key(std::string_view a, std::string_view b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

// Splits "KEY\NAME=data" into its parts; false for a line of another shape.
bool split_line(std::string_view line, std::string_view& key, std::string_view& name,
                std::string_view& data) {
  size_t eq = line.find('=');
  if (eq == std::string_view::npos) return false;
  std::string_view path = line.substr(0, eq);
  size_t bs = path.rfind('\\');
  if (bs == std::string_view::npos || bs == 0) return false;
  key = path.substr(0, bs);
  name = path.substr(bs + 1);
  data = line.substr(eq + 1);
  return true;
}

}  // namespace

Status open_key(std::string_view key, std::vector<Value>& values) {
  values.clear();
  const char* file = std::getenv("KIV_REGISTRY_FILE");
  if (!file || !*file) return Status::not_found;
  std::ifstream in(file, std::ios::binary);
  if (!in) return errno == EACCES ? Status::access_denied : Status::not_found;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::string_view k, n, d;
    if (!split_line(line, k, n, d) || !same_key(k, key)) continue;
    // A value is a C text: it ends at its first NUL.
    values.push_back({std::string(n.substr(0, n.find('\0'))), std::string(d.substr(0, d.find('\0')))});
  }
  return values.empty() ? Status::not_found : Status::ok;
}

}  // namespace kiv::registry

// The text-file registry of the Linux build (see registry.h).
#include "platform/registry.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
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

// The whole registry file; false, with errno set, when it does not open.
// Read through stdio rather than a file stream: the streams would bring the
// C++ locale machinery into every program for this one small file.
bool read_registry(const char* file, std::string& text) {
  std::FILE* f = std::fopen(file, "rb");
  if (!f) return false;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
  std::fclose(f);
  return true;
}

}  // namespace

Status open_key(std::string_view key, std::vector<Value>& values) {
  values.clear();
  const char* file = std::getenv("KIV_REGISTRY_FILE");
  if (!file || !*file) return Status::not_found;
  std::string text;
  if (!read_registry(file, text)) return errno == EACCES ? Status::access_denied : Status::not_found;
  for (size_t start = 0; start < text.size();) {
    size_t nl = text.find('\n', start);
    if (nl == std::string::npos) nl = text.size();
    std::string_view line(text.data() + start, nl - start);
    start = nl + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    std::string_view k, n, d;
    if (!split_line(line, k, n, d) || !same_key(k, key)) continue;
    // A value is a C text: it ends at its first NUL.
    values.push_back({std::string(n.substr(0, n.find('\0'))), std::string(d.substr(0, d.find('\0')))});
  }
  return values.empty() ? Status::not_found : Status::ok;
}

}  // namespace kiv::registry

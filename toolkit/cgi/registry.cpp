// Reading one registry value: open the key, enumerate its values, take the
// last one whose name matches exactly.
#include "toolkit/cgi/registry.h"

#include <vector>

#include "platform/exit.h"
#include "platform/output.h"
#include "platform/registry.h"

namespace kiv {

namespace {
// Value names are enumerated into a buffer of 128 characters; a longer name
// does not fit and is reported and skipped.
constexpr size_t kValueNameMax = 128;
}  // namespace

std::optional<std::string> getregvalue(std::string_view key, std::string_view name) {
  std::vector<registry::Value> values;
  registry::Status st = registry::open_key(key, values);
  if (st == registry::Status::access_denied) {
    out() << "getregentry:permission denied\n";
    throw Exit{-1};
  }
  if (st != registry::Status::ok) return std::nullopt;
  std::optional<std::string> result;
  for (const registry::Value& v : values) {
    if (v.name.size() >= kValueNameMax) {
      out() << "getregentry: Not enough Resources \n";
      continue;
    }
    if (v.name == name) result = v.data;
  }
  return result;
}

std::optional<std::string> getregentry(std::string_view key) {
  return getregvalue(key, "NVHOME");
}

}  // namespace kiv

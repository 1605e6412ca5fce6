// Home-folder lookup of the Windows programs (see ntproducts.h).
#include "toolkit/cgi/ntproducts.h"

#include <vector>

#include "platform/exit.h"
#include "platform/output.h"
#include "toolkit/base/kivcontext.h"
#include "toolkit/cgi/registry.h"
#include "toolkit/security/security.h"

namespace kiv {

void slashpath(std::string& text) {
  for (char& c : text)
    if (c == '\\') c = '/';
}

namespace {
std::vector<std::string> split_homes(const std::string& list) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    size_t semi = list.find(';', start);
    parts.push_back(list.substr(start, semi - start));
    if (semi == std::string::npos) break;
    start = semi + 1;
  }
  return parts;
}
}  // namespace

std::string pickhome(const std::string& list) {
  const std::optional<std::string> script = script_name_text();
  if (!script) return list;
  std::string_view s(*script);
  size_t dot = s.rfind('.');
  if (dot == std::string_view::npos) return list;
  std::vector<std::string> homes = split_homes(list);
  // An empty first home gives no sound choice: keep the list as it is.
  if (homes[0].empty()) return list;
  char c = dot > 0 ? s[dot - 1] : '\0';
  if (c >= '0' && c <= '9') {
    size_t n = static_cast<size_t>(c - '0');
    if (n < homes.size() && !homes[n].empty()) return homes[n];
  }
  return homes[0];
}

std::optional<std::string> getnvhome(std::string_view key) {
  if (std::optional<std::string> env = inherited_env("NVHOME")) return env;
  std::string k = key.empty() ? std::string("SOFTWARE\\KIV\\TIKLO\\Current") : std::string(key);
  std::optional<std::string> home = getregentry(k);
  if (!home || home->empty()) return std::nullopt;
  slashpath(*home);
  if (home->find(';') != std::string::npos) *home = pickhome(*home);
  return home;
}

producthome getproducthome() {
  producthome found;
  std::optional<std::string> script = getscript();
  if (script && script->find('.') != std::string::npos) {
    std::string key = "SOFTWARE\\KIV\\" + script->substr(0, script->find('.'));
    std::optional<std::string> home = getnvhome(key);
    std::optional<std::string> states = getregvalue(key, "PROG_STATES");
    if (states && !states->empty()) found.prog_states = *states;
    if (home) {
      found.home = *home;
      return found;
    }
  }
  const std::string fallback = "SOFTWARE\\KIV\\VORNA\\Current";
  std::optional<std::string> home = getnvhome(fallback);
  if (!home) {
    err() << "NVHOME is undefined in the Registry\n";
    err() << "<br>Location:\\HKEY_LOCAL_MACHINE\\" << fallback << "\n";
    throw Exit{1};
  }
  found.home = *home;
  return found;
}

}  // namespace kiv

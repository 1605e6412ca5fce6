// Session keys: 20 digits with five fixed digits built in and the others
// random, each bound to its login by a session record <home>/session/<key>
// (the login and a line feed), and made invalid by a logout marker
// <home>/logout/<key>. The script's login_config entry says whether a
// request needs a valid key.
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include "toolkit/kivcgitrace.h"
#include "toolkit/kivio.h"
#include "toolkit/kivpath.h"
#include "toolkit/kivtext.h"
#include "toolkit/security.h"

namespace kiv {

namespace {

// The fixed digits at the positions 3, 4, 6, 7 and 9 (counted from 1); the
// fixed key of the redirects holds them too.
struct Fixed {
  size_t pos;
  char digit;
};
constexpr Fixed kFixed[] = {{2, '2'}, {3, '0'}, {5, '9'}, {6, '3'}, {8, '5'}};
constexpr size_t kKeyLength = 20;

std::string session_path(std::string_view key) {
  return reqctx().nvhome + "/session/" + std::string(key);
}

std::string logout_path(std::string_view key) {
  return reqctx().nvhome + "/logout/" + std::string(key);
}

bool exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

// The login of a session record, or none.
std::optional<std::string> read_session(std::string_view key) {
  std::string text;
  if (!read_whole_file(session_path(key), text)) return std::nullopt;
  if (text.empty() || text.back() != '\n') return std::nullopt;
  text.pop_back();
  if (!safe_name(text)) return std::nullopt;
  return text;
}

// Decimal digits from the system's random source, without bias.
bool random_digits(std::string& out, size_t n) {
  out.clear();
  unsigned char buf[64];
  while (out.size() < n) {
    ssize_t got = ::getrandom(buf, sizeof buf, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    for (ssize_t i = 0; i < got && out.size() < n; ++i)
      if (buf[i] < 250) out += static_cast<char>('0' + buf[i] % 10);
  }
  return true;
}

}  // namespace

bool skey_shape(std::string_view key) {
  if (key.size() != 18 && key.size() != 20) return false;
  for (char c : key)
    if (c < '0' || c > '9') return false;
  for (const Fixed& f : kFixed)
    if (key[f.pos] != f.digit) return false;
  return true;
}

std::optional<std::string> session_login(std::string_view key) {
  if (!skey_shape(key) || exists(logout_path(key))) return std::nullopt;
  return read_session(key);
}

int generateskey(const std::string& login) {
  const std::string folder = reqctx().nvhome + "/session";
  ::mkdir(folder.c_str(), 0700);
  const std::string now = std::to_string(std::time(nullptr));
  kivtrace("generate: time='%s' len=%d", now, static_cast<int>(now.size()));
  std::string key, path;
  for (int attempt = 0; attempt < 8; ++attempt) {
    if (!random_digits(key, kKeyLength)) break;
    for (const Fixed& f : kFixed) key[f.pos] = f.digit;
    path = session_path(key);
    if (!safe_name(login)) break;
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0 && errno == EEXIST) continue;
    if (fd < 0) break;
    std::string line = login + "\n";
    bool ok = ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
    ok = ::close(fd) == 0 && ok;
    if (!ok) {
      ::unlink(path.c_str());
      break;
    }
    reqctx().skey = key;
    reqctx().session_key = key;
    reqctx().session_login = login;
    kivtrace("generate: skey='%s'", key);
    return 0;
  }
  errmsg("Cannot open file '%s' for writing. errno=%d\n", path.empty() ? folder : path, errno);
  return 1;
}

int checkskey() {
  const std::string key = reqctx().skey;
  if (!skey_shape(key)) return 1;
  if (exists(logout_path(key))) {
    errmsg("Your account has been logged out of the system.\n");
    errmsg("Please re-login to continue with a new session\n");
    return 1;
  }
  std::optional<std::string> login = read_session(key);
  if (!login) return 1;
  reqctx().session_key = key;
  reqctx().session_login = *login;
  kivtrace("generate: skey='%s'", key);
  return 0;
}

int checksecurity() {
  std::optional<loginvals> v = script_loginvals();
  if (!v) return 1;
  if (!equal_nocase(*v->auth, "PASSR")) return 0;
  return checkskey();
}

}  // namespace kiv

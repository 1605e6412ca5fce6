// Session keys: 20 digits with five fixed digits built in and the others
// random, each bound to its login by a session record <home>/session/<key>
// (the login, and the login's session generation on a second line once its
// sessions were first ended; the time of its last change is the key's last
// use), and made invalid by a logout
// marker <home>/logout/<key>. A sign-out or a password change ends every
// key of the login at once by raising the generation kept in
// <home>/session/<login>.generation (a key's name is digits alone, so the
// two never meet); a key unused for longer than the idle time expires. The
// script's login_config entry says whether a request needs a valid key.
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/output.h"
#include "platform/state.h"
#include "toolkit/base/kivcgitrace.h"
#include "toolkit/base/kivio.h"
#include "toolkit/base/kivpath.h"
#include "toolkit/text/kivtext.h"
#include "toolkit/text/rowcol.h"
#include "toolkit/security/security.h"

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
// A key's last use is written again only when it is older than this, so
// that a page's requests in a row cost one write, not one each.
constexpr std::time_t kUseResolution = 60;
// The longest idle time login_config may set (ten years), so that the
// sum with a moment cannot overflow.
constexpr long kMaxIdleMinutes = 10L * 366 * 24 * 60;

std::string session_folder() { return reqctx().nvhome + "/session"; }

std::string session_path(std::string_view key) { return session_folder() + "/" + std::string(key); }

std::string logout_path(std::string_view key) {
  return reqctx().nvhome + "/logout/" + std::string(key);
}

std::string generation_path(std::string_view login) {
  return session_folder() + "/" + std::string(login) + ".generation";
}

bool exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

// A decimal number of digits only, or none.
std::optional<long long> digits_value(std::string_view text) {
  if (text.empty() || text.size() > 18) return std::nullopt;
  long long v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + (c - '0');
  }
  return v;
}

// The generation of a login's keys: 0 until its sessions were first ended.
long long login_generation(std::string_view login) {
  std::string text;
  if (!read_whole_file(generation_path(login), text)) return 0;
  if (!text.empty() && text.back() == '\n') text.pop_back();
  return digits_value(text).value_or(0);
}

// A session record: its login, the generation it was made in, and the time
// of its last use.
struct Record {
  std::string login;
  long long generation = 0;
  std::time_t used = 0;
};

// The record of a key, or none. A record of one line (made before keys had
// generations) is of generation 0.
std::optional<Record> read_record(std::string_view key) {
  const std::string path = session_path(key);
  std::string text;
  struct stat st;
  if (!read_whole_file(path, text) || ::stat(path.c_str(), &st) != 0) return std::nullopt;
  if (text.empty() || text.back() != '\n') return std::nullopt;
  text.pop_back();
  Record r;
  r.used = st.st_mtime;
  const size_t nl = text.find('\n');
  r.login = text.substr(0, nl);
  if (nl != std::string::npos) {
    std::optional<long long> g = digits_value(std::string_view(text).substr(nl + 1));
    if (!g) return std::nullopt;
    r.generation = *g;
  }
  if (!safe_name(r.login)) return std::nullopt;
  return r;
}

enum class KeyState { unknown, logged_out, ended, valid };

struct KeyCheck {
  KeyState state = KeyState::unknown;
  std::string login;
};

// What a key stands for now: unknown (not the shape, no record), logged out
// (its marker), ended (by its login, or unused for longer than the idle
// time) or valid. A valid key counts as used now.
KeyCheck look_up(std::string_view key) {
  if (!skey_shape(key)) return {};
  if (exists(logout_path(key))) return {KeyState::logged_out, {}};
  std::optional<Record> r = read_record(key);
  if (!r) return {};
  if (r->generation != login_generation(r->login)) return {KeyState::ended, r->login};
  const std::time_t now = session_now();
  if (now - r->used > session_idle_seconds()) {
    kivtrace("session: the key of '%s' was unused for %d seconds\n", r->login, static_cast<long long>(now - r->used));
    return {KeyState::ended, r->login};
  }
  if (now - r->used >= kUseResolution) {
    const struct timespec times[2] = {{now, 0}, {now, 0}};
    ::utimensat(AT_FDCWD, session_path(key).c_str(), times, AT_SYMLINK_NOFOLLOW);
  }
  return {KeyState::valid, r->login};
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

void reset_sessionclock() { sessionclock() = SessionClock{}; }

}  // namespace

SessionClock& sessionclock() {
  static SessionClock clock;
  KIV_REGISTER_RESET(&reset_sessionclock);
  return clock;
}

std::time_t session_now() {
  const SessionClock& c = sessionclock();
  return c.now ? *c.now : std::time(nullptr);
}

long session_idle_seconds() {
  long minutes = kSessionIdleMinutes;
  FilePtr f = open_file(login_config_path(), "r");
  std::string line;
  while (f && getline_limited(f.get(), line, 1024)) {
    if (line[0] == '#' || is_space(line[0])) continue;
    const size_t eq = line.find('=');
    if (eq == std::string::npos || !equal_nocase(std::string_view(line.data(), eq), "session_idle_minutes")) continue;
    std::string value = line.substr(eq + 1);
    trimspace(value);
    const std::optional<long long> v = digits_value(value);
    minutes = v && *v > 0 && *v <= kMaxIdleMinutes ? static_cast<long>(*v) : kSessionIdleMinutes;
  }
  return minutes * 60;
}

bool skey_shape(std::string_view key) {
  if (key.size() != 18 && key.size() != 20) return false;
  for (char c : key)
    if (c < '0' || c > '9') return false;
  for (const Fixed& f : kFixed)
    if (key[f.pos] != f.digit) return false;
  return true;
}

std::optional<std::string> session_login(std::string_view key) {
  KeyCheck k = look_up(key);
  if (k.state != KeyState::valid) return std::nullopt;
  return k.login;
}

std::optional<std::string> session_record_login(std::string_view key) {
  if (!skey_shape(key)) return std::nullopt;
  std::optional<Record> r = read_record(key);
  if (!r) return std::nullopt;
  return r->login;
}

int generateskey(const std::string& login) {
  const std::string folder = session_folder();
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
    // A login whose sessions were never ended keeps records of one line.
    const long long generation = login_generation(login);
    const std::string text = login + "\n" + (generation > 0 ? std::to_string(generation) + "\n" : "");
    const std::time_t made = session_now();
    const struct timespec times[2] = {{made, 0}, {made, 0}};
    bool ok = write_all(fd, text) && ::futimens(fd, times) == 0;
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

int end_login_sessions(const std::string& login) {
  if (!safe_name(login)) return 1;
  const std::string folder = session_folder();
  ::mkdir(folder.c_str(), 0700);
  // One raise at a time per login, so that two ends at once both count.
  FileLock lock = lock_login(login);
  const std::string path = generation_path(login);
  const std::string text = std::to_string(login_generation(login) + 1) + "\n";
  if (!write_file_atomic(path, text, nullptr, {.new_mode = 0600})) {
    errmsg("Cannot open file '%s' for writing. errno=%d\n", path, errno);
    return 1;
  }
  kivtrace("session: every key of '%s' made so far is ended\n", login);
  return 0;
}

int checkskey() {
  const std::string key = reqctx().skey;
  const KeyCheck k = look_up(key);
  if (k.state == KeyState::logged_out || k.state == KeyState::ended) {
    errmsg("Your account has been logged out of the system.\n");
    errmsg("Please re-login to continue with a new session\n");
    return 1;
  }
  if (k.state != KeyState::valid) return 1;
  reqctx().session_key = key;
  reqctx().session_login = k.login;
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

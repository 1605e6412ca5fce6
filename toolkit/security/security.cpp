// Logins and accounts: the login configuration and the authorisation file,
// the login check, login files with salted password hashes (the old
// reversible form is read once and rewritten), password changes and new
// accounts. Custom security's rules are in security_custom.cpp, session keys
// in security_skey.cpp.
#include "toolkit/security/security.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/exit.h"
#include "platform/output.h"
#include "toolkit/text/kivcgimisc.h"
#include "toolkit/base/kivcgitrace.h"
#include "toolkit/base/kivpath.h"
#include "toolkit/text/kivtext.h"
#include "toolkit/text/rowcol.h"

namespace kiv {

namespace {

std::string logindir() {
  const RequestContext& c = reqctx();
  return c.logindir.empty() ? c.nvhome + "/login" : c.logindir;
}

// A login name that ends like one of the files kept beside a login file
// would name that file (registering "ann.disabled" would disable ann).
bool names_side_file(std::string_view login) {
  for (std::string_view suffix : {".attempts", ".history", ".disabled"})
    if (login.size() > suffix.size() && login.ends_with(suffix)) return true;
  return false;
}

bool usable_login(std::string_view login) { return safe_name(login) && !names_side_file(login); }

// The stored password of a login file: what follows line 1, without its
// last character (the line feed). None when the file cannot be read or has
// no line feed.
std::optional<std::string> read_stored_password(const std::string& path) {
  std::string text;
  if (!read_whole_file(path, text)) return std::nullopt;
  size_t nl = text.find('\n');
  if (nl == std::string::npos) return std::nullopt;
  std::string rest = text.substr(nl + 1);
  // A file written in text mode on Windows ends its lines in CR LF, also
  // where the encoded bytes hold a line feed: read it as that runtime does.
  if (nl > 0 && text[nl - 1] == '\r') rest = filtertwolines(rest);
  if (!rest.empty()) rest.pop_back();
  if (is_password_hash(rest) && !rest.empty() && rest.back() == '\r') rest.pop_back();
  return rest;
}

// Rewrites a login file of the old form as a hash, keeping the file's time
// of last change (the password's age).
void upgrade_loginfile(const std::string& login, const std::string& password,
                       const std::string& path) {
  struct stat st;
  bool had = ::stat(path.c_str(), &st) == 0;
  if (createloginfile(login, password) != 0 || !had) return;
  struct timespec times[2] = {st.st_atim, st.st_mtim};
  ::utimensat(AT_FDCWD, path.c_str(), times, 0);
}

bool disabled(std::string_view login) {
  std::optional<std::string> marker = loginfile_path(login, ".disabled");
  struct stat st;
  return marker && ::stat(marker->c_str(), &st) == 0;
}

enum class Verify { no_file, mismatch, match };

// The password check shared by the plain and the custom login: reads the
// login file, compares whole passwords, upgrades an old-form file.
Verify verify_login(const loginpair& pair, std::string& path) {
  std::optional<std::string> p = loginfile_path(pair.login);
  path = p.value_or(pair.login);
  std::optional<std::string> stored;
  if (p && !disabled(pair.login)) stored = read_stored_password(*p);
  if (!stored) {
    kivtrace("Cannot open file '%s' for reading. errno=%d\n", path, p ? errno : EINVAL);
    return Verify::no_file;
  }
  kivtrace("buf from file='%s'", kHiddenPassword);
  kivtrace("Password from file='%s'", kHiddenPassword);
  kivtrace("LP from line='%s'", kHiddenPassword);
  // Accounts store their password trimmed (outer blanks cut, inner runs
  // folded); the typed one is taken the same way, or a password typed with
  // such blanks when the account was made could never log in.
  std::string typed = *pair.password;
  trimspace(typed);
  if (!password_matches(*stored, typed)) return Verify::mismatch;
  if (!is_password_hash(*stored)) upgrade_loginfile(pair.login, typed, path);
  return Verify::match;
}

bool password_missing(const loginpair& pair) {
  if (pair.password && !pair.password->empty()) return false;
  errmsg("Password is required.");
  errmsg("Please enter a password and try again.");
  return true;
}

// Redirects the browser to the page of an expired or an initial password and
// ends the request.
[[noreturn]] void password_redirect(std::string_view action, const std::string& login) {
  out() << "<script language=\"JavaScript\">";
  out() << sformat("window.location=\"/cgi-bin/kepa.cgi?KIVACTION=%s&skey=%s&nv_remote_user=%s\"",
                   action, kFixedSkey, convdata2html(login));
  out() << "</script>";
  throw Exit{0};
}

bool empty_field(const std::string& value, const char* message) {
  if (!value.empty()) return false;
  errmsg(message);
  return true;
}

// The checks that a password change and a new account share, after the
// fields were found non-empty and trimmed.
bool name_and_confirmation_ok(const std::string& login, const std::string& password,
                              const std::string& confirm) {
  if (invalidname(login)) {
    errmsg("Invalid Login <%s>.\n", login);
    return false;
  }
  if (password != confirm) {
    errmsg("Password and Confirm Password fields are not the same\n");
    return false;
  }
  return true;
}

// Counts a failed password check of custom security in the attempts file.
// The caller holds the login's lock, so that guesses sent at the same time
// are each counted. The seventh failure in a row disables the account and
// ends the request: the login file is kept and a <login>.disabled marker
// refuses it, so that the administrator can renew it and nobody can
// register the name meanwhile.
void count_failure(const std::string& login) {
  const std::string attempts = *loginfile_path(login, ".attempts");
  const int count = custom_getattempt(attempts);
  if (count <= 5) {
    custom_incattempt(attempts, count);
    return;
  }
  errmsg("Your account has been disabled.\n");
  errmsg("Contact the system administrator to renew your account.\n");
  std::string marker = *loginfile_path(login, ".disabled");
  int m = ::open(marker.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (m >= 0) ::close(m);
  ::unlink(attempts.c_str());
  throw Exit{0};
}

// A right password clears the count of failures; the caller holds the
// login's lock.
void clear_failures(const std::string& login) { ::unlink(loginfile_path(login, ".attempts")->c_str()); }

// The current password that a password change or the overwrite of an
// account asks for. Under custom security a wrong one counts as a failed
// login, so these forms are no way around the lockout, and a right one
// clears the count as a login does. The caller holds the login's lock.
int check_current_password(const std::string& login, const std::string& password, bool custom) {
  const loginpair pair{login, password};
  if (!custom) return comparepassword(pair);
  if (password_missing(pair)) return 1;
  std::string path;
  switch (verify_login(pair, path)) {
    case Verify::no_file:
      return 1;
    case Verify::mismatch:
      count_failure(login);
      return 1;
    case Verify::match:
      break;
  }
  clear_failures(login);
  return 0;
}

int change_account(std::string login, std::string password, std::string confirm,
                   std::string old, bool custom) {
  if (empty_field(login, "Login field is empty\n") ||
      empty_field(password, "Password field is empty\n") ||
      empty_field(confirm, "Confirm Password field is empty\n") ||
      empty_field(old, "Old Password field is empty\n"))
    return 1;
  trimspace(login);
  trimspace(password);
  trimspace(confirm);
  trimspace(old);
  if (!name_and_confirmation_ok(login, password, confirm)) return 1;
  // The check of the old password, the history and the new login file
  // belong together: one change at a time per login.
  FileLock lock = lock_login(login);
  if (check_current_password(login, old, custom) != 0) {
    errmsg("Invalid login or password.\n");
    return 1;
  }
  if (custom && custome_check_held(login, password) != 0) return 1;
  if (createloginfile(login, password) != 0) {
    errmsg("can't create acccount\n");
    return 1;
  }
  return 0;
}

// Under system registration (the script's _REG value is SYSTEM) only a
// login that the authorisation file names may have an account. Without
// login_config nothing is secured and there is nothing to check. Only the
// plain security reads login_config for this: custom security never
// consults it.
bool registration_allows(const std::string& login) {
  if (statloginfile(login_config_path()) != 0) return true;
  std::optional<loginvals> v = script_loginvals();
  if (!v) return false;
  if (!equal_nocase(*v->reg, "SYSTEM") || findlogin(login, v->authfile) == 0) return true;
  errmsg("Your login '%s' is not registerd in the system.\n", login);
  return false;
}

void name_taken(const std::string& login) {
  errmsg("Login '%s' already belongs to another user", login);
  errmsg("Please choose another login\n");
}

// The text of a login file: the login, then the salted hash of the password.
std::optional<std::string> loginfile_text(const std::string& login, const std::string& password) {
  std::optional<std::string> hash = hash_password(password);
  if (!hash) return std::nullopt;
  return login + "\n" + *hash + "\n";
}

// Whether a new account may not have the name: an account exists
// (accountexist), or anything else stands at the login file's path (a file
// that cannot be read, a link to nowhere), which a new account must not
// replace either.
bool name_in_use(const std::string& login) {
  if (accountexist(login) != 0) return true;
  struct stat st;
  return ::lstat(loginfile_path(login)->c_str(), &st) == 0;
}

enum class NewFile { made, taken, failed };

// The login file of a new account, made only where nothing stands under the
// name: an entry that appeared since the account check (of any kind, even a
// link to nowhere) is never replaced. A file that could not be made whole
// and synced is not left behind.
NewFile create_new_loginfile(const std::string& login, const std::string& password) {
  std::optional<std::string> path = loginfile_path(login);
  std::optional<std::string> text = path ? loginfile_text(login, password) : std::nullopt;
  AtomicWritten w;
  if (text) w = write_file_atomic(*path, *text, nullptr, {.new_mode = 0600, .replace = false});
  if (w) return NewFile::made;
  int e = text ? errno : EINVAL;
  if (w.in_place) ::unlink(path->c_str());
  kivtrace("Cannot open file '%s' for reading. errno=%d\n", path.value_or(login), e);
  return e == EEXIST ? NewFile::taken : NewFile::failed;
}

int new_account(std::string login, std::string password, std::string confirm, int force,
                std::optional<std::string> old, bool custom) {
  if (empty_field(login, "Login field is empty\n") ||
      empty_field(password, "Password field is empty\n") ||
      empty_field(confirm, "Confirm Password field is empty\n"))
    return 1;
  trimspace(login);
  trimspace(password);
  trimspace(confirm);
  if (!name_and_confirmation_ok(login, password, confirm)) return 1;
  if (!custom && !registration_allows(login)) return 1;
  // From the check whether the account exists to its login file, one
  // request at a time per login: two requests for the same new name cannot
  // both find it free.
  FileLock lock = lock_login(login);
  const bool exists = name_in_use(login);
  if (exists) {
    if (!force) {
      name_taken(login);
      return 1;
    }
    // Overwriting an account takes its current password.
    std::string current = old.value_or(std::string());
    trimspace(current);
    if (current.empty() || check_current_password(login, current, custom) != 0) {
      errmsg("Invalid login or password.\n");
      return 1;
    }
  }
  if (custom && custome_check_held(login, password) != 0) return 1;
  if (exists) {
    if (createloginfile(login, password) == 0) return 0;
    errmsg("can't create acccount\n");
    return 1;
  }
  switch (create_new_loginfile(login, password)) {
    case NewFile::made: return 0;
    case NewFile::taken: name_taken(login); return 1;
    case NewFile::failed: break;
  }
  errmsg("can't create acccount\n");
  return 1;
}

}  // namespace

std::optional<std::string> script_name_text() {
  std::optional<std::string> s = request_env("SCRIPT_NAME");
  if (!s || s->empty()) return std::nullopt;
  return s;
}

std::optional<std::string> getscript() {
  std::optional<std::string> s = script_name_text();
  if (!s) return std::nullopt;
  size_t slash = s->rfind('/');
  return slash == std::string::npos ? *s : s->substr(slash + 1);
}

int statloginfile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st);
}

std::optional<std::string> loginfile_path(std::string_view login, std::string_view suffix) {
  if (!usable_login(login)) return std::nullopt;
  return logindir() + "/" + std::string(login) + std::string(suffix);
}

FileLock lock_login(std::string_view login) {
  FileLock lock;
  if (usable_login(login)) lock.acquire(logindir() + "/." + std::string(login) + ".lock", std::nullopt, 0600);
  return lock;
}

std::optional<std::string> getuserlogin() {
  std::optional<std::string> u = request_env("REMOTE_USER");
  if (!u || u->empty()) return std::nullopt;
  return u->substr(0, u->find('/'));
}

// ---- login configuration ----

std::string login_config_path() { return reqctx().nvhome + "/client/config/login_config"; }

FilePtr openlogin_conigfile() {
  const std::string path = login_config_path();
  FilePtr f = open_file(path, "r");
  if (!f) {
    errmsg("Cannot open file '%s' for reading. errno=%d\n", path, errno);
    throw Exit{0};
  }
  return f;
}

loginvals getloginval(const std::string& script, std::FILE* config) {
  loginvals v;
  const std::string reg = script + "_REG", auth = script + "_AUTH", file = script + "_AUTHFILE";
  std::string line;
  while (getline_limited(config, line, 1024)) {
    if (line[0] == '#' || is_space(line[0])) continue;
    size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string_view key(line.data(), eq);
    std::string value = line.substr(eq + 1);
    trimspace(value);
    if (equal_nocase(key, reg))
      v.reg = value;
    else if (equal_nocase(key, auth))
      v.auth = value;
    else if (equal_nocase(key, file))
      v.authfile = value;
  }
  if (v.reg) kivtrace("DEBUG REG='%s'", *v.reg);
  if (v.auth) kivtrace("DEBUG AUTH='%s'", *v.auth);
  if (v.authfile) kivtrace("DEBUG AUTHFILE='%s'", *v.authfile);
  return v;
}

std::optional<loginvals> script_loginvals() {
  std::optional<std::string> script = getscript();
  if (!script) {
    errmsg("Cannot determine script name\n");
    return std::nullopt;
  }
  loginvals v;
  {
    FilePtr config = openlogin_conigfile();
    v = getloginval(*script, config.get());
  }
  if (!v.reg || !v.auth) {
    errmsg("Cannot determine script auth or reg values: script=%s\n", *script);
    return std::nullopt;
  }
  return v;
}

int findlogin(const std::string& login, const std::optional<std::string>& authfile) {
  if (!authfile || authfile->empty()) {
    errmsg("auth file is null\n");
    return 1;
  }
  std::string path = reqctx().nvhome + "/client/config/" + *authfile;
  FilePtr f = open_file(path, "r");
  if (!f) {
    errmsg("Cannot open file '%s' for reading. errno=%d\n", path, errno);
    return 1;
  }
  std::string line;
  while (getline_limited(f.get(), line, 1024)) {
    if (line[0] == '#' || is_space(line[0])) continue;
    trimspace(line);
    if (equal_nocase(line, login)) return 0;
  }
  return 1;
}

// ---- logins ----

loginpair getloginpasswd(std::string_view text) {
  loginpair p;
  size_t slash = text.find('/');
  p.login = std::string(text.substr(0, slash));
  if (slash != std::string_view::npos) p.password = std::string(text.substr(slash + 1));
  return p;
}

int loginuser(const std::string& text) {
  std::optional<loginvals> values = script_loginvals();
  if (!values) return 1;
  const loginvals& v = *values;
  if (text.empty()) {
    errmsg("login.VALUE and password.VALUE variable is  missing. \n");
    return 1;
  }
  loginpair pair = getloginpasswd(text);
  const bool system = equal_nocase(*v.reg, "SYSTEM"), password = equal_nocase(*v.auth, "PASSR");
  if (!system && !password) {
    kivtrace("DEBUG:System Registration not required. Password is not required\n");
    return 0;
  }
  if (system && !password)
    kivtrace("DEBUG:System Registration. Password is not required\n");
  else if (!system)
    kivtrace("DEBUG: Self registration. Password Required\n");
  else
    kivtrace("DEBUG: SYSTEM registration.Password requird\n");
  if (system && findlogin(pair.login, v.authfile) != 0) {
    errmsg("Your login '%s' is not registerd in the system.\n", pair.login);
    return 1;
  }
  if (!password) return 0;
  if (comparepassword(pair) != 0) {
    errmsg("Invalid login or password.\n");
    return 1;
  }
  return 0;
}

int custom_loginuser(const std::string& text) {
  if (text.empty()) {
    errmsg("custom_login:login.VALUE and password.VALUE variable is  missing. \n");
    return 1;
  }
  kivtrace("DEBUG: Self registration. Password Required\n");
  if (custom_comparepassword(getloginpasswd(text)) != 0) {
    errmsg("Invalid login or password.\n");
    return 1;
  }
  return 0;
}

int comparepassword(const loginpair& pair) {
  if (password_missing(pair)) return 1;
  std::string path;
  return verify_login(pair, path) == Verify::match ? 0 : 1;
}

int custom_comparepassword(const loginpair& pair) {
  if (password_missing(pair)) return 1;
  // The check and the count it changes, one request at a time per login.
  FileLock lock = lock_login(pair.login);
  std::string path;
  Verify v = verify_login(pair, path);
  if (v == Verify::no_file) {
    errmsg("Your account is disabled. Contact the system administrator.\n");
    return 1;
  }
  if (v == Verify::mismatch) {
    count_failure(pair.login);
    return 1;
  }
  if (custom_30age(path)) password_redirect("expired_login", pair.login);
  std::string typed = *pair.password;
  if (trimspace(typed) == kInitialPassword) password_redirect("initial_login", pair.login);
  clear_failures(pair.login);
  return 0;
}

// ---- accounts ----

int changeuser(std::string login, std::string password, std::string confirm, std::string old) {
  return change_account(std::move(login), std::move(password), std::move(confirm),
                        std::move(old), false);
}

int custom_changeuser(std::string login, std::string password, std::string confirm,
                      std::string old) {
  return change_account(std::move(login), std::move(password), std::move(confirm),
                        std::move(old), true);
}

int newuser(std::string login, std::string password, std::string confirm, int force,
            std::optional<std::string> old) {
  return new_account(std::move(login), std::move(password), std::move(confirm), force,
                     std::move(old), false);
}

int custom_newuser(std::string login, std::string password, std::string confirm, int force,
                   std::optional<std::string> old) {
  return new_account(std::move(login), std::move(password), std::move(confirm), force,
                     std::move(old), true);
}

int invalidname(const std::string& login) {
  bool bad = !usable_login(login) || login.find_first_of("\\/:*\"<>?|\t ") != std::string::npos;
  if (!bad) return 0;
  errmsg("Login can not contain any of the following charachters \\:/*\"<>?| tab or space");
  return 1;
}

int accountexist(const std::string& login) {
  if (login.empty()) return 1;
  std::optional<std::string> path = loginfile_path(login);
  if (!path) return 1;  // a name that cannot be a login is never free
  if (FilePtr f = open_file(*path, "r")) {
    kivtrace("login file is null\n");
    return 1;
  }
  kivtrace("Cannot open file '%s' for reading. errno=%d\n", *path, errno);
  return 0;
}

int createloginfile(const std::string& login, const std::string& password) {
  if (login.empty() || password.empty()) return 1;
  std::optional<std::string> path = loginfile_path(login);
  std::optional<std::string> text = path ? loginfile_text(login, password) : std::nullopt;
  // A new login file is for its owner only, as it holds a password hash; a
  // rewrite keeps the mode of the file it replaces.
  if (!text || !write_file_atomic(*path, *text, nullptr, {.new_mode = 0600})) {
    kivtrace("Cannot open file '%s' for reading. errno=%d\n", path.value_or(login), text ? errno : EINVAL);
    return 1;
  }
  return 0;
}

}  // namespace kiv

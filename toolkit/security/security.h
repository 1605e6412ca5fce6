// Logins, passwords and session keys: the login configuration
// (client/config/login_config), login files with salted password hashes,
// the custom security rules (attempt counts, expiry, password rules and
// history), new accounts, password changes, and the session key with the
// session record that binds it to its login.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "toolkit/base/kivio.h"
#include "toolkit/base/kivlock.h"
#include "toolkit/text/kivtext.h"

namespace kiv {

// The fixed key that the redirects of custom security carry, and the
// default initial password of custom security.
inline constexpr std::string_view kFixedSkey = "472019385561027384";
inline constexpr std::string_view kInitialPassword = "plumtarn507";

// The request's SCRIPT_NAME (the name a console run gave itself, else the
// web server's), or none when it is unset or empty.
std::optional<std::string> script_name_text();
// SCRIPT_NAME after its last "/", or none when it is unset or empty.
std::optional<std::string> getscript();

// 0 when the file exists, else non-zero.
int statloginfile(const std::string& path);

// ---- login configuration ----

// The three values of a script in login_config, each present or absent.
struct loginvals {
  std::optional<std::string> reg, auth, authfile;
};

// The login configuration, <home>/client/config/login_config: security is on
// for the home when the file exists.
std::string login_config_path();
// The open login_config; ends the process with status 0 (after its message)
// when it cannot be opened.
FilePtr openlogin_conigfile();
loginvals getloginval(const std::string& script, std::FILE* config);
// The values of the running script: none after "Cannot determine script
// name\n" (no script name) or "Cannot determine script auth or reg values:
// script=%s\n" (no _REG or no _AUTH value). The preamble of the login check
// and the session-key check; ends the process as openlogin_conigfile does.
std::optional<loginvals> script_loginvals();
// 0 when `login` is listed in the authorisation file, else 1.
int findlogin(const std::string& login, const std::optional<std::string>& authfile);

// ---- logins and accounts ----

// A login text split at its first "/": the login and the password.
struct loginpair {
  std::string login;
  std::optional<std::string> password;
};
loginpair getloginpasswd(std::string_view text);

// All results: 0 accepted, 1 refused (after the message).
int loginuser(const std::string& text);
int custom_loginuser(const std::string& text);
int comparepassword(const loginpair& pair);
int custom_comparepassword(const loginpair& pair);
int changeuser(std::string login, std::string password, std::string confirm, std::string old);
// Under custom security a wrong old password counts as a failed login.
int custom_changeuser(std::string login, std::string password, std::string confirm,
                      std::string old);
// With `force` an existing account is overwritten, but only when `old` is
// its current password. A new account's login file is made only where no
// file of that name stands, under the login's lock from the check to the
// file, so that of two requests for one new name only one gets it. Under
// system registration (the script's _REG is SYSTEM) newuser refuses a login
// the authorisation file does not name with "Your login '%s' is not
// registerd in the system.\n"; custom_newuser never reads login_config.
int newuser(std::string login, std::string password, std::string confirm, int force,
            std::optional<std::string> old = std::nullopt);
int custom_newuser(std::string login, std::string password, std::string confirm, int force,
                   std::optional<std::string> old = std::nullopt);
// 1 when the login file exists (or the login is empty or unusable), else 0.
int accountexist(const std::string& login);
// Writes the login file with a salted hash of the password; 0, or 1.
int createloginfile(const std::string& login, const std::string& password);
// 1 (after the message) when the login holds a forbidden character or
// cannot name a login file.
int invalidname(const std::string& login);

// The login file, attempts file, ... of a login under the login folder;
// none when the login cannot name a file (a path part, or a name ending in
// ".attempts", ".history" or ".disabled", which would name another login's
// file).
std::optional<std::string> loginfile_path(std::string_view login, std::string_view suffix = {});

// The lock that guards a login's files against concurrent requests (the
// login file of a new account or a password change, the attempts file, the
// password history): an exclusive lock on <logindir>/.<login>.lock, a file
// that no login can name (logins never begin with a point) and that is never
// deleted. Waits for the holder; not held when the lock file cannot be made.
// A process takes it once per login: the steps under it take it no more.
FileLock lock_login(std::string_view login);

// The old reversible encoding of login files, still read (and then
// rewritten as a hash): 10 bytes, the length + 1 and nine key-shifted bytes.
// The hashes come from libcrypt, loaded at run time by the first password
// operation (security_crypt.cpp).
std::string kivencrypt(std::string_view password);
std::string kivdecrypt(std::string_view encoded);

// True when a stored password is a hash ("$" and more than ten characters)
// rather than the old form.
bool is_password_hash(std::string_view stored);
// A salted hash of a password (yescrypt, else SHA-512-crypt); none when the
// hashing library cannot be loaded or fails.
std::optional<std::string> hash_password(std::string_view password);
// Whether a typed password matches a stored one: a hash, or the old form
// (whose length and first nine characters must agree).
bool password_matches(std::string_view stored, std::string_view typed);

// ---- custom security ----

// The password rules of custom security, then the history check (under the
// login's lock): 0, or 1 after the messages.
int custome_check(const std::string& login, const std::string& password);
// The same for a caller that holds the login's lock already (the password
// change and the new account hold it from their first check to the login
// file): the history is read and written without taking the lock again,
// which would wait for itself (flock belongs to the open file, not the
// process).
int custome_check_held(const std::string& login, const std::string& password);
// 1 when the file was last changed more than 30 days ago.
int custom_30age(const std::string& path);
int custom_getattempt(const std::string& path);
// Writes count + 1 (a new file beside it, renamed over it); 0, or 1 when the
// file cannot be written. The caller holds the login's lock.
int custom_incattempt(const std::string& path, int count);
// Reads, checks and writes the history under the login's lock, so that two
// password changes at once both land.
int custom_check_pass_history(const std::string& login, const std::string& password);

// <login>.history: the slot written last and six slots of 100 bytes, a used
// slot holding a stored password and a line feed.
struct pass_history {
  int32_t index = 0;
  std::array<std::array<char, 100>, 6> slots{};
};
int read_pass_history_file(const std::string& login, pass_history& history);
int write_pass_history_file(const std::string& login, const pass_history& history);

// ---- session keys ----

// The clock of sessions: the moment a key is used at, against which a key
// left unused expires. One instance per process; programs keep the system
// clock, tests fix the moment.
struct SessionClock {
  std::optional<std::time_t> now;  // none: the system clock
};
SessionClock& sessionclock();
std::time_t session_now();

// The default time a session key may stay unused before it expires: 8 hours.
inline constexpr long kSessionIdleMinutes = 480;
// How long a key may stay unused, in seconds: the value of the line
// session_idle_minutes= of login_config (a positive number of minutes),
// else kSessionIdleMinutes.
long session_idle_seconds();

// The session-key check when the script requires a password.
int checksecurity();
// Makes a new session key bound to `login` by a session record under the
// home and keeps it in the request context (published as skey); 0, or 1
// (after the message) when the record cannot be written.
int generateskey(const std::string& login);
// Ends every session key of `login` made so far (a sign-out, a password
// change, an account made anew): each is refused from then on as a
// logged-out key is. A key made afterwards (the password change's new one)
// is valid. 0, or 1 when the login's sessions cannot be ended (its record
// under the home cannot be written).
int end_login_sessions(const std::string& login);
// 0 when the request context's key has the system's shape, is not logged
// out, has a session record, has not been ended by its login and has been
// used within the idle time; the key (published as skey) and its login then
// go into the context, and the key counts as used now. A logged-out, ended
// or expired key is refused with the logged-out messages.
int checkskey();
// True when `key` has the shape of a session key: 18 or 20 digits with the
// fixed digits in place.
bool skey_shape(std::string_view key);
// The login a key is bound to: none when the key has not the shape, is
// logged out, ended or expired, or has no session record. No messages; a
// key found valid counts as used now.
std::optional<std::string> session_login(std::string_view key);
// The login a key's session record names, whether or not the key is still
// valid (a sign-out ends that login's keys); none without a record.
std::optional<std::string> session_record_login(std::string_view key);
// The request's REMOTE_USER (the start-up's, else the web server's) up to
// its first "/", or none when it is unset or empty.
std::optional<std::string> getuserlogin();

}  // namespace kiv

// The security step of the start-up: the rule of the security table the
// action matches, and the login, password change, new account, logout and
// session steps it names. A step that cannot go on throws StepRefused; the
// start-up says what that does in each flavour.
#include "toolkit/security/security_steps.h"

#include <fcntl.h>
#include <unistd.h>

#include <string_view>

#include "platform/output.h"
#include "toolkit/base/kivcgitrace.h"
#include "toolkit/base/kivcontext.h"
#include "toolkit/base/kivpath.h"
#include "toolkit/security/security.h"
#include "toolkit/text/exlist.h"
#include "toolkit/text/kivtext.h"
#include "toolkit/text/rowcol.h"

namespace kiv {

namespace {

[[noreturn]] void refuse(StepRefusal why) { throw StepRefused{why}; }

std::optional<std::string> login_name(const exlist& request) {
  if (std::optional<std::string> v = getnodeval(&request, "login.VALUE")) return v;
  return getnodeval(&request, "login");
}

std::optional<std::string> password_value(const exlist& request) {
  if (std::optional<std::string> v = getnodeval(&request, "password")) return v;
  return getnodeval(&request, "password.VALUE");
}

// The request's key, as far as it has the shape of one.
std::string request_skey(const exlist& request) {
  std::optional<std::string> key = getnodeval(&request, "skey");
  return key && skey_shape(*key) ? *key : std::string("NOKEY");
}

// The login name of a login or account step, which the step publishes.
std::optional<std::string> step_login(const exlist& request) {
  std::optional<std::string> login = login_name(request);
  reqctx().login = login;
  return login;
}

// A new key bound to the login; a key whose session record cannot be
// written (generateskey's message) would be refused by every later request.
void new_session(const std::string& login) {
  if (generateskey(login) != 0) refuse(StepRefusal::session_record);
}

// The login step and the three account steps know the login they stand for.
struct SecurityResult {
  std::optional<std::string> identity;
};

SecurityResult login_step(exlist& request, const SecurityOptions& o, const std::string& action) {
  kivtrace("DEBUG: KIVACTION1='%s'", action);
  std::optional<std::string> login = step_login(request);
  if (!login) {
    errmsg("Security violation\n");
    errmsg("No login.VALUE variable exists!\n");
    refuse(StepRefusal::no_login);
  }
  std::optional<std::string> password = password_value(request);
  std::string text = *login;
  if (password) {
    text += "/" + *password;
    kivtrace("DEBUG: login='%s' passwd='%s'", *login, kHiddenPassword);
  } else {
    kivtrace("DEBUG: login='%s'", *login);
  }
  int r = 1;
  if (!safe_name(*login))  // never a path, and no "/" to split the check text at
    errmsg("Invalid login or password.\n");
  else
    r = o.custom ? custom_loginuser(text) : loginuser(text);
  if (r != 0) {
    errmsg("Security check failed\n");
    refuse(StepRefusal::login_refused);
  }
  add_startup_node(request, "nv_remote_user", *login);
  new_session(*login);
  return {*login};
}

// After a password change or a new account: the identity and a new key.
// Every key the login had before ends (a password change shuts out whoever
// held one; an account made anew under an old name inherits none of its
// sessions); only the new key is valid.
SecurityResult account_done(exlist& request, const SecurityOptions& o, const std::optional<std::string>& login) {
  std::string name = login.value_or(std::string());
  trimspace(name);
  bool add = !name.empty() && (o.identity_always || !getnodeval(&request, "nv_remote_user"));
  if (add) add_startup_node(request, "nv_remote_user", name);
  if (!name.empty() && end_login_sessions(name) != 0) refuse(StepRefusal::session_record);
  new_session(name);
  return {name};
}

SecurityResult change_step(exlist& request, const SecurityOptions& o, const std::string& action) {
  kivtrace("DEBUG1: KIVACTION1='%s'", action);
  std::optional<std::string> login = step_login(request);
  std::string password = password_value(request).value_or(std::string());
  std::string confirm = getnodeval_or_empty(&request, "confirmpass.VALUE");
  std::string old = getnodeval_or_empty(&request, "oldpassword.VALUE");
  kivtrace("DEBUG2: KIVACTION1='%s'", action);
  std::string name = login.value_or(std::string());
  int r = o.custom ? custom_changeuser(name, password, confirm, old) : changeuser(name, password, confirm, old);
  if (r != 0) {
    errmsg("Can't change account\n");
    refuse(StepRefusal::change_refused);
  }
  return account_done(request, o, login);
}

SecurityResult account_step(exlist& request, const SecurityOptions& o, const std::string& action, int force) {
  kivtrace("DEBUG2: KIVACTION1='%s'", action);
  std::optional<std::string> login = step_login(request);
  std::string name = login.value_or(std::string());
  std::string password = password_value(request).value_or(std::string());
  std::string confirm = getnodeval_or_empty(&request, "confirmpass.VALUE");
  std::optional<std::string> old = getnodeval(&request, "oldpassword.VALUE");
  int r = o.custom ? custom_newuser(name, password, confirm, force, old)
                   : newuser(name, password, confirm, force, old);
  if (r != 0) {
    errmsg(force ? "Can't fchpass new account\n" : "Can't create new account\n");
    refuse(StepRefusal::account_refused);
  }
  return account_done(request, o, login);
}

// Logout: a marker named by the key makes it invalid for good, and every
// other key of its login ends with it (a sign-out on one machine leaves no
// session open on another). Only a key of the system's shape that has a
// session names a marker; it is created without touching an existing file.
void logout_step(const exlist& request) {
  kivtrace("DEBUG3: KIVACTION1=logout");
  RequestContext& c = reqctx();
  std::string key = request_skey(request);
  c.skey = key;
  if (!skey_shape(key) || statloginfile(c.nvhome + "/session/" + key) != 0) return;
  std::string path = c.nvhome + "/logout/" + key;
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) {
    err() << "Cannot open logout file " << path << "\n";
    refuse(StepRefusal::logout_marker);
  }
  ::close(fd);
  const std::optional<std::string> login = session_record_login(key);
  if (login && end_login_sessions(*login) != 0) refuse(StepRefusal::logout_marker);
}

void session_step(const exlist& request, const std::string& action) {
  kivtrace("DEBUG4: KIVACTION1='%s'", action);
  reqctx().skey = request_skey(request);
  if (checksecurity() != 0) {
    errmsg("This operation encountered an error.\nThis could be due to incomplete loading of the "
           "previous page.\nPlease click on the browser back button and allow the page to "
           "completely load.\n");
    refuse(StepRefusal::session_refused);
  }
}

// The steps of the security table.
enum class SecurityRule { login, change, account, forced_account, logout, nothing, tasks, session };

// The first rule of the security table that the action matches.
SecurityRule security_rule(std::string_view action) {
  if (action.find("vmain") != std::string_view::npos) return SecurityRule::login;
  if (equal_nocase(action, "chpass")) return SecurityRule::change;
  if (action.starts_with("newuser")) return SecurityRule::account;
  if (action.starts_with("fchpass")) return SecurityRule::forced_account;
  if (equal_nocase(action, "logout")) return SecurityRule::logout;
  if (action.find("login") != std::string_view::npos || equal_nocase(action, "vchangepassword") ||
      equal_nocase(action, "vnewaccount"))
    return SecurityRule::nothing;
  if (starts_nocase(action, "vtasks")) return SecurityRule::tasks;
  return SecurityRule::session;
}

// The login, account and logout steps change accounts and sessions, so they
// run only for an action the state file binds: a word it does not bind is
// refused by the dispatcher afterwards and may not log anyone in, make an
// account or write a marker on the way.
SecurityResult security_step(exlist& request, const SecurityOptions& o) {
  const std::string action = reqctx().action;
  SecurityRule rule = security_rule(action);
  const bool account_rule = rule == SecurityRule::login || rule == SecurityRule::change ||
                            rule == SecurityRule::account || rule == SecurityRule::forced_account ||
                            rule == SecurityRule::logout;
  if (account_rule && !getstatecommand(&request, action)) rule = SecurityRule::nothing;
  switch (rule) {
    case SecurityRule::login: return login_step(request, o, action);
    case SecurityRule::change: return change_step(request, o, action);
    case SecurityRule::account: return account_step(request, o, action, 0);
    case SecurityRule::forced_account: return account_step(request, o, action, 1);
    case SecurityRule::logout: logout_step(request); return {};
    case SecurityRule::nothing: kivtrace("DEBUG3: KIVACTION1='%s'", action); return {};
    case SecurityRule::tasks: kivtrace("DEBUG5: KIVACTION1='%s'", action); return {};
    case SecurityRule::session: session_step(request, action); return {};
  }
  return {};
}

// The request's login from its session, when the step did not decide it:
// the login a valid key is bound to. The key stays the request's too, also
// for the actions that need none (the password change form): their pages
// carry it on, so that their links, the sign-out's among them, stay in the
// session instead of leaving it with NOKEY.
void identity_from_session(exlist& request) {
  RequestContext& c = reqctx();
  if (c.session_login.empty()) {
    std::string key = request_skey(request);
    if (std::optional<std::string> login = session_login(key)) {
      c.session_login = *login;
      c.session_key = key;
    }
  }
  if (!c.session_login.empty()) add_startup_node(request, "nv_remote_user", c.session_login);
}

}  // namespace

void run_security_step(exlist& request, const SecurityOptions& o) {
  RequestContext& c = reqctx();
  c.login.reset();
  c.session_key.clear();
  c.session_login.clear();
  if (!c.tkesecflag) return;
  SecurityResult step = security_step(request, o);
  if (!step.identity) identity_from_session(request);
}


}  // namespace kiv

// The CGI start-up: every request's first step after the home is known. It
// runs as named steps: read the state file, read the form, hold the limits
// (each form entry to the field limit, as it joins the request variable
// list), pick the action, run the security step the action calls for, and
// become the user (identity, groups, and in the Linux flavour the state
// file's user id); then it publishes the request's variables. A step that
// cannot go on refuses the request through refuse(), and one table says what
// each refusal does in each flavour.
#include <grp.h>
#include <pwd.h>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/exit.h"
#include "platform/flavour.h"
#include "platform/output.h"
#include "toolkit/cgi/kivcgi.h"
#include "toolkit/request/kivcgiclient.h"
#include "toolkit/request/kivcgiform.h"
#include "toolkit/base/kivcgitrace.h"
#include "toolkit/request/kivexfile.h"
#include "toolkit/base/kivpath.h"
#include "toolkit/text/kivtext.h"
#include "toolkit/request/multipart.h"
#include "toolkit/text/rowcol.h"
#include "toolkit/security/security.h"

namespace kiv {

namespace {

constexpr int kDefaultFieldMax = 5120;
constexpr const char* kLinuxStates = "/usr/local/norvale/client/config/prog_states";
constexpr const char* kDashes =
    "-----------------------------------------------------------------";  // 65

// ---- the flavours ----

// What the Windows and the Linux start-up do differently, in one place.
struct StartupFlavour {
  bool header;           // writes the content-type line first
  bool states_from_env;  // PROG_STATES (else the built-in path) names the state file
  bool trace_from_env;   // KIVDEBUG in the environment turns the trace on
  bool trace_file;       // names the trace file <home>/debug.txt (KIVTRACE_FILE)
  bool identity_always;  // an account step sets nv_remote_user even over one the list has
  bool switch_user;      // becomes the state file's USER
  bool linux_ends;       // refusals end as the Linux column of kRefusals says
};

constexpr StartupFlavour kWindowsStartup{true, false, false, true, false, false, false};
constexpr StartupFlavour kLinuxStartup{false, true, true, false, true, true, true};

const StartupFlavour& startup_flavour() {
  return platform() == Platform::linux ? kLinuxStartup : kWindowsStartup;
}

// ---- refusals ----

// Why a step refused the request (its message is shown already).
enum class Refusal {
  no_statefile,          // "No States File\n"
  no_home,               // "NVHOME is undefined\n"
  statefile_missing,     // the two messages of a missing state file
  statefile_unreadable,  // "Cannot open file:%s errno=%d\n"
  method,                // "Method is not supported '%s'.\n"
  field_too_large,       // the six messages of the field limit
  no_action,             // "Illogical condition NO KIVACTION is defined"
  no_login,              // "Security violation\n" ...
  login_refused,         // "Security check failed\n"
  change_refused,        // "Can't change account\n"
  account_refused,       // "Can't create new account\n" / "Can't fchpass new account\n"
  logout_marker,         // "Cannot open logout file %s\n"
  session_refused,       // the three-line text of the session-key check
  session_record,        // the session record of a new key cannot be written
  user,                  // "can't set user"
};

// How a refusal ends in each flavour: the exit status, or none when the
// start-up gives its caller no list (the dispatcher then refuses itself).
struct RefusalEnd {
  Refusal why;
  std::optional<int> windows, linux;
};

constexpr RefusalEnd kRefusals[] = {
    {Refusal::no_statefile, std::nullopt, std::nullopt},
    {Refusal::no_home, 1, 1},
    {Refusal::statefile_missing, 1, 1},
    {Refusal::statefile_unreadable, std::nullopt, 1},
    {Refusal::method, std::nullopt, 0},
    {Refusal::field_too_large, 0, 0},
    {Refusal::no_action, 1, 1},
    {Refusal::no_login, 0, 0},
    {Refusal::login_refused, 1, 1},
    {Refusal::change_refused, 0, 0},
    {Refusal::account_refused, 0, 0},
    {Refusal::logout_marker, -1, -1},
    {Refusal::session_refused, 1, 1},
    {Refusal::session_record, 1, 1},
    {Refusal::user, 1, 1},
};

constexpr bool refusals_in_order() {
  for (size_t i = 0; i < std::size(kRefusals); ++i)
    if (static_cast<size_t>(kRefusals[i].why) != i) return false;
  return true;
}
static_assert(refusals_in_order(), "kRefusals lists every refusal in the order of the enum");

// The one way a step ends a request it cannot go on with.
struct Refused {
  Refusal why;
};
[[noreturn]] void refuse(Refusal why) { throw Refused{why}; }

// ---- the request being started ----

struct Startup {
  const StartupFlavour& flavour;
  exlist& list;
  int field_limit = kDefaultFieldMax;
  bool custom = false;  // custom security (CUSTOM_SECURITY)
};

// The list the start-up returns lives as long as the process.
exlist& startup_list() {
  static exlist list;
  return list;
}

void add_startup_node(exlist& list, std::string_view name, std::string_view value) {
  add_list_node(list, formexdatanode(name, value, ExSource::startup));
}

// ---- reading the state file ----

std::string statefile_of(const StartupFlavour& f, const std::string& argument) {
  if (!f.states_from_env) return argument;
  // A set-user-ID front reads the state file it was built with, never one
  // its caller names.
  if (!reqctx().fixed_statefile.empty()) return reqctx().fixed_statefile;
  std::string path = inherited_env("PROG_STATES").value_or(std::string());
  return path.empty() ? std::string(kLinuxStates) : path;
}

int field_limit(const exlist& list) {
  std::optional<std::string> v = getstateval(&list, "FIELDMAXLEN");
  if (!v) return kDefaultFieldMax;
  int limit = std::atoi(v->c_str());
  if (limit < 1)
    errmsg("FIELDMAXLEN value can't be negative or zero. FIELDMAXLEN= %d bytes", limit);
  return limit;
}

// The state file's lines into the list, and the settings the start-up takes
// from it before the form is read.
void read_state_file(Startup& s, const std::string& path) {
  RequestContext& c = reqctx();
  FilePtr f = open_file(path, "r");
  if (!f) {
    int e = errno;
    if (e == ENOENT)
      errmsg("The program is looking for the software in '%s' but it can't find it.\nPlease "
             "double check the location of the software.\n",
             c.nvhome);
    errmsg("Cannot open file:%s errno=%d\n", path, e);
    refuse(e == ENOENT ? Refusal::statefile_missing : Refusal::statefile_unreadable);
  }
  if (s.flavour.trace_file) c.trace_file = c.nvhome + "/debug.txt";
  s.list = addmacro(f.get());
  f.reset();

  s.field_limit = field_limit(s.list);
  s.custom = getstateval(&s.list, "CUSTOM_SECURITY").has_value();
  std::optional<std::string> maxlen = getstateval(&s.list, "ATTACHMENTMAXLEN");
  c.attachmentmaxlen = maxlen ? std::atol(maxlen->c_str()) : -1;
  c.tkesecflag = statloginfile(login_config_path()) == 0 ? 1 : 0;
}

// ---- reading the form ----

// The record as the trace shows it: a query string without passwords.
int trace_cgiinfo(const cgiinfo& info) {
  if (!reqctx().kivdebug) return 0;
  cgiinfo shown = info;
  if (shown.query_string) shown.query_string = mask_query_passwords(*shown.query_string);
  return printcgiinfo(shown);
}

form_entries read_form() {
  cgiinfo info;
  getcgiinfo(info);
  trace_cgiinfo(info);
  int method = mcode(info);
  if (method != M_GET && method != M_POST && method != M_HEAD) {
    pagef("Method is not supported '%s'.\n", info.request_method.value_or(std::string()));
    refuse(Refusal::method);
  }
  form_entries entries = get_form_entries(info);
  kivtrace("Enries read\n");
  return entries;
}

// ---- holding the limits ----

// Form entries that only the start-up may set: the identity and the group
// value. A request that sends them is not believed.
bool reserved_name(std::string_view name, const std::optional<std::string>& group) {
  if (name == "nv_remote_user" || name == "mm_nv_remote_user") return true;
  if (!group) return false;
  const std::string value = *group + ".VALUE";
  return name == value || name == "mm_" + value;
}

[[noreturn]] void field_too_large(const std::string& name, size_t size, long long limit) {
  errmsg("Data size per field exceeded\n");
  errmsg("Please reduce the amount of data and try again.\n");
  errmsg(kDashes);
  errmsg("Variable Name=%s  Data Size=%d", name, static_cast<long long>(size));
  errmsg(kDashes);
  errmsg("Maximum field size is %d bytes", limit);
  refuse(Refusal::field_too_large);
}

// A value longer than the field limit ends the request. Fields whose names
// begin with "attach" (attachments and their descriptions) are not held to
// the field limit: an attachment typed into the form is held to the limit
// of an uploaded file (ATTACHMENTMAXLEN, when the state file sets one), so
// that a typed text is no way around it. The path of a file the request
// uploaded is not its content and is not measured.
void hold_field_limit(const std::string& name, const std::optional<std::string>& value, int limit) {
  const size_t size = value ? value->size() : 0;
  if (size == 0) return;
  if (starts_nocase(name, "attach")) {
    const long max = reqctx().attachmentmaxlen;
    if (max <= 0 || size <= static_cast<unsigned long>(max) || is_saved_upload(*value)) return;
    field_too_large(name, size, max);
  }
  if (static_cast<unsigned long>(size) <= static_cast<unsigned>(limit)) return;
  field_too_large(name, size, limit);
}

// Adds the form entries to the list in request order, each held to the
// field limit first.
void hold_limits(Startup& s, form_entries& entries) {
  const std::optional<std::string> group = getstateval(&s.list, "GROUP");
  for (form_entry& e : entries) {
    kivtrace("In the loop\n");
    if (!e.name) {
      e.name = "endendend";
      kivtrace("Varibale has no name\n");
      continue;
    }
    const std::string& name = *e.name;
    const bool secret = is_password_name(name);
    kivtrace(kDashes);
    if (e.value)
      kivtrace("V-NAME='%s' \tV-VALUE='%s'", name, secret ? std::string(kHiddenPassword) : *e.value);
    else
      kivtrace("V-NAME='%s' has no value", name);
    kivtrace(kDashes);
    hold_field_limit(name, e.value, s.field_limit);
    if (reserved_name(name, group)) continue;
    add_list_node(s.list, formexdatanode(name, e.value ? filtertwolines(*e.value) : std::string()));
  }
}

// ---- the action ----

std::string logindir_of(const exlist& list) {
  if (std::optional<std::string> v = getstateval(&list, "logindir.VALUE")) return *v;
  if (std::optional<std::string> v = getstateval(&list, "logindir")) return *v;
  return reqctx().nvhome + "/login";
}

void pick_action(Startup& s, const form_entries& entries) {
  RequestContext& c = reqctx();
  c.logindir = logindir_of(s.list);
  const std::string* action = parmval(entries, "KIVACTION");
  if (!action || action->empty()) {
    // Through errmsg, so that the installation may word it (errors.txt).
    errmsg("Illogical condition NO KIVACTION is defined");
    refuse(Refusal::no_action);
  }
  c.action = *action;
  const std::string* menutrig = parmval(entries, "MENUTRIG");
  c.menutrig = menutrig ? *menutrig : std::string();
}

// ---- the security step ----

std::optional<std::string> login_name(const exlist& list) {
  if (std::optional<std::string> v = getnodeval(&list, "login.VALUE")) return v;
  return getnodeval(&list, "login");
}

std::optional<std::string> password_value(const exlist& list) {
  if (std::optional<std::string> v = getnodeval(&list, "password")) return v;
  return getnodeval(&list, "password.VALUE");
}

// The request's key, as far as it has the shape of one.
std::string request_skey(const exlist& list) {
  std::optional<std::string> key = getnodeval(&list, "skey");
  return key && skey_shape(*key) ? *key : std::string("NOKEY");
}

// The login name of a login or account step, which the step publishes.
std::optional<std::string> step_login(const exlist& list) {
  std::optional<std::string> login = login_name(list);
  reqctx().login = login;
  return login;
}

// A new key bound to the login; a key whose session record cannot be
// written (generateskey's message) would be refused by every later request.
void new_session(const std::string& login) {
  if (generateskey(login) != 0) refuse(Refusal::session_record);
}

// The login step and the three account steps know the login they stand for.
struct SecurityResult {
  std::optional<std::string> identity;
};

SecurityResult login_step(Startup& s, const std::string& action) {
  kivtrace("DEBUG: KIVACTION1='%s'", action);
  std::optional<std::string> login = step_login(s.list);
  if (!login) {
    errmsg("Security violation\n");
    errmsg("No login.VALUE variable exists!\n");
    refuse(Refusal::no_login);
  }
  std::optional<std::string> password = password_value(s.list);
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
    r = s.custom ? custom_loginuser(text) : loginuser(text);
  if (r != 0) {
    errmsg("Security check failed\n");
    refuse(Refusal::login_refused);
  }
  add_startup_node(s.list, "nv_remote_user", *login);
  new_session(*login);
  return {*login};
}

// After a password change or a new account: the identity and a new key.
// Every key the login had before ends (a password change shuts out whoever
// held one; an account made anew under an old name inherits none of its
// sessions); only the new key is valid.
SecurityResult account_done(Startup& s, const std::optional<std::string>& login) {
  std::string name = login.value_or(std::string());
  trimspace(name);
  bool add = !name.empty() && (s.flavour.identity_always || !getnodeval(&s.list, "nv_remote_user"));
  if (add) add_startup_node(s.list, "nv_remote_user", name);
  if (!name.empty() && end_login_sessions(name) != 0) refuse(Refusal::session_record);
  new_session(name);
  return {name};
}

SecurityResult change_step(Startup& s, const std::string& action) {
  kivtrace("DEBUG1: KIVACTION1='%s'", action);
  std::optional<std::string> login = step_login(s.list);
  std::string password = password_value(s.list).value_or(std::string());
  std::string confirm = getnodeval(&s.list, "confirmpass.VALUE").value_or(std::string());
  std::string old = getnodeval(&s.list, "oldpassword.VALUE").value_or(std::string());
  kivtrace("DEBUG2: KIVACTION1='%s'", action);
  std::string name = login.value_or(std::string());
  int r = s.custom ? custom_changeuser(name, password, confirm, old) : changeuser(name, password, confirm, old);
  if (r != 0) {
    errmsg("Can't change account\n");
    refuse(Refusal::change_refused);
  }
  return account_done(s, login);
}

SecurityResult account_step(Startup& s, const std::string& action, int force) {
  kivtrace("DEBUG2: KIVACTION1='%s'", action);
  std::optional<std::string> login = step_login(s.list);
  std::string name = login.value_or(std::string());
  std::string password = password_value(s.list).value_or(std::string());
  std::string confirm = getnodeval(&s.list, "confirmpass.VALUE").value_or(std::string());
  std::optional<std::string> old = getnodeval(&s.list, "oldpassword.VALUE");
  int r = s.custom ? custom_newuser(name, password, confirm, force, old)
                   : newuser(name, password, confirm, force, old);
  if (r != 0) {
    errmsg(force ? "Can't fchpass new account\n" : "Can't create new account\n");
    refuse(Refusal::account_refused);
  }
  return account_done(s, login);
}

// Logout: a marker named by the key makes it invalid for good, and every
// other key of its login ends with it (a sign-out on one machine leaves no
// session open on another). Only a key of the system's shape that has a
// session names a marker; it is created without touching an existing file.
void logout_step(Startup& s) {
  kivtrace("DEBUG3: KIVACTION1=logout");
  RequestContext& c = reqctx();
  std::string key = request_skey(s.list);
  c.skey = key;
  if (!skey_shape(key) || statloginfile(c.nvhome + "/session/" + key) != 0) return;
  std::string path = c.nvhome + "/logout/" + key;
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) {
    err() << "Cannot open logout file " << path << "\n";
    refuse(Refusal::logout_marker);
  }
  ::close(fd);
  const std::optional<std::string> login = session_record_login(key);
  if (login && end_login_sessions(*login) != 0) refuse(Refusal::logout_marker);
}

void session_step(Startup& s, const std::string& action) {
  kivtrace("DEBUG4: KIVACTION1='%s'", action);
  reqctx().skey = request_skey(s.list);
  if (checksecurity() != 0) {
    errmsg("This operation encountered an error.\nThis could be due to incomplete loading of the "
           "previous page.\nPlease click on the browser back button and allow the page to "
           "completely load.\n");
    refuse(Refusal::session_refused);
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
SecurityResult security_step(Startup& s) {
  const std::string action = reqctx().action;
  SecurityRule rule = security_rule(action);
  const bool account_rule = rule == SecurityRule::login || rule == SecurityRule::change ||
                            rule == SecurityRule::account || rule == SecurityRule::forced_account ||
                            rule == SecurityRule::logout;
  if (account_rule && !getstatecommand(&s.list, action)) rule = SecurityRule::nothing;
  switch (rule) {
    case SecurityRule::login: return login_step(s, action);
    case SecurityRule::change: return change_step(s, action);
    case SecurityRule::account: return account_step(s, action, 0);
    case SecurityRule::forced_account: return account_step(s, action, 1);
    case SecurityRule::logout: logout_step(s); return {};
    case SecurityRule::nothing: kivtrace("DEBUG3: KIVACTION1='%s'", action); return {};
    case SecurityRule::tasks: kivtrace("DEBUG5: KIVACTION1='%s'", action); return {};
    case SecurityRule::session: session_step(s, action); return {};
  }
  return {};
}

// The request's login from its session, when the step did not decide it:
// the login a valid key is bound to. The key stays the request's too, also
// for the actions that need none (the password change form): their pages
// carry it on, so that their links, the sign-out's among them, stay in the
// session instead of leaving it with NOKEY.
void identity_from_session(exlist& list) {
  RequestContext& c = reqctx();
  if (c.session_login.empty()) {
    std::string key = request_skey(list);
    if (std::optional<std::string> login = session_login(key)) {
      c.session_login = *login;
      c.session_key = key;
    }
  }
  if (!c.session_login.empty()) add_startup_node(list, "nv_remote_user", c.session_login);
}

void run_security_step(Startup& s) {
  RequestContext& c = reqctx();
  c.login.reset();
  c.session_key.clear();
  c.session_login.clear();
  if (!c.tkesecflag) return;
  SecurityResult step = security_step(s);
  if (!step.identity) identity_from_session(s.list);
}

// ---- becoming the user ----

void become_user(Startup& s) {
  if (setuser(s.list) != 0) {
    out() << "can't set user";
    refuse(Refusal::user);
  }
}

// ---- the user id of the Linux flavour ----

// A user id as the state file gives it: decimal digits naming a valid id.
std::optional<uid_t> decimal_id(std::string_view text) {
  if (text.empty() || text.size() > 10) return std::nullopt;
  unsigned long long v = 0;
  for (char ch : text) {
    if (ch < '0' || ch > '9') return std::nullopt;
    v = v * 10 + static_cast<unsigned>(ch - '0');
  }
  if (v >= static_cast<uid_t>(-1)) return std::nullopt;  // (uid_t)-1 is no id
  return static_cast<uid_t>(v);
}

// Makes the saved uploads the user's; false when one cannot be handed over.
bool give_uploads(uid_t uid, gid_t gid) {
  for (const std::string& path : reqctx().uploads)
    if (::lchown(path.c_str(), uid, gid) != 0) return false;
  return true;
}

// Switches to the state file's USER: 0, or the failing result (after its
// message).
int switch_to_state_user(const exlist& list) {
  std::optional<std::string> user = getstateval(&list, "USER");
  if (!user) {
    kivtrace("USER is not specified in the state file\n");
    return 0;
  }
  // Only a decimal id is one: a user name or a typo would read as id 0 and
  // leave a front program started as root running as root.
  std::optional<uid_t> id = decimal_id(*user);
  if (!id) {
    pagef("Failed to setuid to id='%d'. errno=%d\n", std::atoi(user->c_str()), EINVAL);
    return -1;
  }
  // A root process gives up root's groups first (the user's own groups, or
  // none), so that nothing of root's remains after the switch. The files it
  // saved for uploads are private to their owner: they are handed to the
  // user, whose command moves them into the case's attachments.
  if (::geteuid() == 0 && *id != 0) {
    const struct passwd* pw = ::getpwuid(*id);
    gid_t gid = pw ? pw->pw_gid : static_cast<gid_t>(*id);
    bool ok = give_uploads(*id, gid);
    ok = ok && (pw ? ::initgroups(pw->pw_name, gid) == 0 : ::setgroups(0, nullptr) == 0);
    if (!ok || ::setgid(gid) != 0) {
      pagef("Failed to setuid to id='%d'. errno=%d\n", static_cast<long long>(*id), errno);
      return -1;
    }
  }
  int r = ::setuid(*id);
  if (r != 0) pagef("Failed to setuid to id='%d'. errno=%d\n", static_cast<long long>(*id), errno);
  return r;
}

// ---- the content-type line ----

// The content-type line of the request's home.
void write_content_type() {
  out() << content_type_header(start_home({}));
  content_type_written();
}

// ---- the end of a refused request ----

// A refused request keeps none of its uploads; in the Windows flavour some
// refusals give the caller no list, the others end the process.
exlist* end_refused(const StartupFlavour& f, Refusal why) {
  remove_saved_uploads();
  const RefusalEnd& end = kRefusals[static_cast<size_t>(why)];
  const std::optional<int> status = f.linux_ends ? end.linux : end.windows;
  if (status) throw Exit{*status};
  return nullptr;
}

}  // namespace

exlist* unixcgiinit(const std::string& statefile) {
  const StartupFlavour& flavour = startup_flavour();
  RequestContext& c = reqctx();
  Startup s{flavour, startup_list()};
  c.web_page = true;
  try {
    if (flavour.trace_from_env && inherited_env("KIVDEBUG")) c.kivdebug = 1;
    if (flavour.header) write_content_type();
    const std::string path = statefile_of(flavour, statefile);
    if (path.empty()) {
      out() << "No States File\n";
      refuse(Refusal::no_statefile);
    }
    c.statefile = path;
    // Without a home the login files, markers and uploads have no folder, and
    // a missing login_config would silently switch security off: the
    // start-up has no default home.
    if (start_home({}).empty()) {
      out() << "NVHOME is undefined\n";
      refuse(Refusal::no_home);
    }
    read_state_file(s, path);
    form_entries entries = read_form();
    hold_limits(s, entries);
    pick_action(s, entries);
    run_security_step(s);
    become_user(s);
    setdateandtime();
    free_form_entries(entries);
  } catch (const Refused& r) {
    return end_refused(flavour, r.why);
  } catch (const Exit&) {
    remove_saved_uploads();
    throw;
  }
  c.request_vars = &s.list;
  publish_environment();
  return &s.list;
}

void setdateandtime() {
  std::time_t now = std::time(nullptr);
  std::tm local;
  char buf[32];
  if (!localtime_r(&now, &local) || !asctime_r(&local, buf)) return;
  reqctx().date = buf;
}

int setuser(exlist& list) {
  RequestContext& c = reqctx();
  kivtrace("REMOTE USER");
  if (std::optional<std::string> u = getnodeval(&list, "nv_remote_user")) {
    kivtrace("nv_remote_user=%s", *u);
    c.remote_user = *u;
  } else {
    kivtrace("nv_remote_user IS NULL");
    c.remote_user.reset();
  }
  fixremoteuser();
  setusergrups(list);
  if (!startup_flavour().switch_user) return 0;
  return switch_to_state_user(list);
}

void fixremoteuser() {
  std::optional<std::string> login = getuserlogin();
  if (!login) return;
  size_t bs = login->find('\\');
  if (bs != std::string::npos) reqctx().remote_user = login->substr(bs + 1);
}

void setusergrups(exlist& list) {
  std::optional<std::string> user = getuserlogin();
  if (!user) return;
  std::optional<std::string> group = getstateval(&list, "GROUP");
  if (!group) return;
  const std::string& states = reqctx().statefile;
  size_t slash = states.rfind('/');
  std::string file = (slash == std::string::npos ? std::string() : states.substr(0, slash + 1)) + "usergroups";
  kivtrace("groupfile=%s user=%s", file, *user);
  std::optional<std::string> groups = getusergrp(file, *user);
  if (!groups) {
    err() << "User '" << *user << "' does not exist in groups\n";
    return;
  }
  kivtrace("User '%s' belongs to group '%s'\n", *user, *groups);
  add_startup_node(list, *group + ".VALUE", *groups);
}

std::optional<std::string> getusergrp(const std::string& path, const std::string& user) {
  FilePtr f = open_file(path, "r");
  if (!f) {
    err() << "Cannot open group file " << path << "\n";
    return std::nullopt;
  }
  std::string result, line;
  // Whole lines of any length; a CR LF line end counts as a line end.
  while (getline_limited(f.get(), line, std::string::npos)) {
    if (line[0] == '#') continue;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::string_view group(line.data(), colon);
    std::string_view members = std::string_view(line).substr(colon + 1);
    for (;;) {
      size_t comma = members.find(',');
      if (members.substr(0, comma) == user) {
        result.append(group);
        result += ',';
      }
      if (comma == std::string_view::npos) break;
      members.remove_prefix(comma + 1);
    }
  }
  if (result.empty()) return std::nullopt;
  if (result.back() == ',' || result.back() == ' ') result.pop_back();
  return result;
}

std::string filtertwolines(std::string_view text) {
  std::string r;
  r.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    r += text[i];
  }
  return r;
}

// While logins are on every page carries a session key (or stands in a
// signed-in road), and none may be kept: Back after a sign-out asks the help
// desk again, which refuses the ended key, instead of showing the page.
std::string_view content_type_header(const std::string& home) {
  const bool secured = !home.empty() && statloginfile(home + "/client/config/login_config") == 0;
  return secured ? "Content-type: text/html\nCache-Control: no-store\n\n" : "Content-type: text/html\n\n";
}

int statloginfile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st);
}

}  // namespace kiv

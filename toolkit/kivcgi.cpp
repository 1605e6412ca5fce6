// The CGI start-up: every request's first step after the home is known. It
// reads the state file and the form into the request variable list, holds
// each form value to the field limit, picks the action, runs the login,
// password-change, new-account, logout or session-key step that the action
// calls for, and sets the user's identity and groups.
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
#include "toolkit/kivcgi.h"
#include "toolkit/kivcgiclient.h"
#include "toolkit/kivcgiform.h"
#include "toolkit/kivcgitrace.h"
#include "toolkit/kivexfile.h"
#include "toolkit/kivpath.h"
#include "toolkit/kivtext.h"
#include "toolkit/multipart.h"
#include "toolkit/rowcol.h"
#include "toolkit/security.h"

namespace kiv {

namespace {

constexpr int kDefaultFieldMax = 5120;
constexpr const char* kLinuxStates = "/usr/local/norvale/client/config/prog_states";
constexpr const char* kDashes =
    "-----------------------------------------------------------------";  // 65

bool linux_flavour() { return platform() == Platform::linux; }

bool contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

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

std::string env_or_empty(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

void add_startup_node(exlist& list, std::string_view name, std::string_view value) {
  exdata node = formexdatanode(name, value, ExSource::startup);
  if (list.empty())
    list.nodes.push_back(std::move(node));
  else
    addexdatanode(&list, std::move(node));
}

// The list the start-up returns lives as long as the process.
exlist& startup_list() {
  static exlist list;
  return list;
}

// Form entries that only the start-up may set: the identity and the group
// value. A request that sends them is not believed.
bool reserved_name(std::string_view name, const std::optional<std::string>& group) {
  if (name == "nv_remote_user" || name == "mm_nv_remote_user") return true;
  if (!group) return false;
  const std::string value = *group + ".VALUE";
  return name == value || name == "mm_" + value;
}

int field_limit(const exlist& list) {
  std::optional<std::string> v = getstateval(&list, "FIELDMAXLEN");
  if (!v) return kDefaultFieldMax;
  int limit = std::atoi(v->c_str());
  if (limit < 1)
    errmsg("FIELDMAXLEN value can't be negative or zero. FIELDMAXLEN= %d bytes", limit);
  return limit;
}

[[noreturn]] void field_too_large(const std::string& name, size_t size, int limit) {
  errmsg("Data size per field exceeded\n");
  errmsg("Please reduce the amount of data and try again.\n");
  errmsg(kDashes);
  errmsg("Variable Name=%s  Data Size=%d", name, static_cast<long long>(size));
  errmsg(kDashes);
  errmsg("Maximum field size is %d bytes", limit);
  throw Exit{0};
}

// Adds the form entries to the list in request order.
void merge_form(exlist& list, form_entries& entries, int limit) {
  const std::optional<std::string> group = getstateval(&list, "GROUP");
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
    const size_t size = e.value ? e.value->size() : 0;
    if (size > 0 && !starts_nocase(name, "attach") &&
        static_cast<unsigned long>(size) > static_cast<unsigned>(limit))
      field_too_large(name, size, limit);
    if (reserved_name(name, group)) continue;
    exdata node = formexdatanode(name, e.value ? filtertwolines(*e.value) : std::string());
    if (list.empty())
      list.nodes.push_back(std::move(node));
    else
      addexdatanode(&list, std::move(node));
  }
}

std::optional<std::string> login_name(const exlist& list) {
  if (std::optional<std::string> v = getnodeval(&list, "login.VALUE")) return v;
  return getnodeval(&list, "login");
}

std::optional<std::string> password_value(const exlist& list) {
  if (std::optional<std::string> v = getnodeval(&list, "password")) return v;
  return getnodeval(&list, "password.VALUE");
}

std::string logindir_of(const exlist& list) {
  if (std::optional<std::string> v = getstateval(&list, "logindir.VALUE")) return *v;
  if (std::optional<std::string> v = getstateval(&list, "logindir")) return *v;
  return reqctx().nvhome + "/login";
}

// The request's key, as far as it has the shape of one.
std::string request_skey(const exlist& list) {
  std::optional<std::string> key = getnodeval(&list, "skey");
  return key && skey_shape(*key) ? *key : std::string("NOKEY");
}

// The login step and the three account steps know the login they stand for.
struct SecurityResult {
  std::optional<std::string> identity;
};

std::optional<std::string> login_for_env(const exlist& list) {
  std::optional<std::string> login = login_name(list);
  if (login) setenv("login", login->c_str(), 1);
  return login;
}

void new_session(const std::string& login) {
  if (generateskey(login) != 0) throw Exit{1};
}

SecurityResult login_step(exlist& list, const std::string& action, bool custom) {
  kivtrace("DEBUG: KIVACTION1='%s'", action);
  std::optional<std::string> login = login_for_env(list);
  if (!login) {
    errmsg("Security violation\n");
    errmsg("No login.VALUE variable exists!\n");
    throw Exit{0};
  }
  std::optional<std::string> password = password_value(list);
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
    r = custom ? custom_loginuser(text) : loginuser(text);
  if (r != 0) {
    errmsg("Security check failed\n");
    throw Exit{1};
  }
  add_startup_node(list, "nv_remote_user", *login);
  new_session(*login);
  return {*login};
}

// After a password change or a new account: the identity and a new key.
SecurityResult account_done(exlist& list, const std::optional<std::string>& login) {
  std::string name = login.value_or(std::string());
  trimspace(name);
  bool add = !name.empty() && (linux_flavour() || !getnodeval(&list, "nv_remote_user"));
  if (add) add_startup_node(list, "nv_remote_user", name);
  new_session(name);
  return {name};
}

SecurityResult change_step(exlist& list, const std::string& action, bool custom) {
  kivtrace("DEBUG1: KIVACTION1='%s'", action);
  std::optional<std::string> login = login_for_env(list);
  std::string password = password_value(list).value_or(std::string());
  std::string confirm = getnodeval(&list, "confirmpass.VALUE").value_or(std::string());
  std::string old = getnodeval(&list, "oldpassword.VALUE").value_or(std::string());
  kivtrace("DEBUG2: KIVACTION1='%s'", action);
  std::string name = login.value_or(std::string());
  int r = custom ? custom_changeuser(name, password, confirm, old)
                 : changeuser(name, password, confirm, old);
  if (r != 0) {
    errmsg("Can't change account\n");
    throw Exit{0};
  }
  return account_done(list, login);
}

SecurityResult account_step(exlist& list, const std::string& action, bool custom, int force) {
  kivtrace("DEBUG2: KIVACTION1='%s'", action);
  std::optional<std::string> login = login_for_env(list);
  std::string name = login.value_or(std::string());
  std::string password = password_value(list).value_or(std::string());
  std::string confirm = getnodeval(&list, "confirmpass.VALUE").value_or(std::string());
  std::optional<std::string> old = getnodeval(&list, "oldpassword.VALUE");
  int r = custom ? custom_newuser(name, password, confirm, force, old)
                 : newuser(name, password, confirm, force, old);
  if (r != 0) {
    errmsg(force ? "Can't fchpass new account\n" : "Can't create new account\n");
    throw Exit{0};
  }
  return account_done(list, login);
}

// Logout: a marker named by the key makes it invalid for good. Only a key of
// the system's shape that has a session names a marker; it is created
// without touching an existing file.
void logout_step(exlist& list) {
  kivtrace("DEBUG3: KIVACTION1=logout");
  std::string key = request_skey(list);
  reqctx().skey = key;
  if (!skey_shape(key) || statloginfile(reqctx().nvhome + "/session/" + key) != 0) return;
  std::string path = reqctx().nvhome + "/logout/" + key;
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) {
    err() << "Cannot open logout file " << path << "\n";
    throw Exit{-1};
  }
  ::close(fd);
}

void session_step(exlist& list, const std::string& action) {
  kivtrace("DEBUG4: KIVACTION1='%s'", action);
  reqctx().skey = request_skey(list);
  if (checksecurity() != 0) {
    errmsg("This operation encountered an error.\nThis could be due to incomplete loading of the "
           "previous page.\nPlease click on the browser back button and allow the page to "
           "completely load.\n");
    throw Exit{1};
  }
}

// The security table: the first rule that the action matches decides.
SecurityResult security_step(exlist& list, const std::string& action, bool custom) {
  if (contains(action, "vmain")) return login_step(list, action, custom);
  if (equal_nocase(action, "chpass")) return change_step(list, action, custom);
  if (action.starts_with("newuser")) return account_step(list, action, custom, 0);
  if (action.starts_with("fchpass")) return account_step(list, action, custom, 1);
  if (equal_nocase(action, "logout")) {
    logout_step(list);
    return {};
  }
  if (contains(action, "login") || equal_nocase(action, "vchangepassword") ||
      equal_nocase(action, "vnewaccount")) {
    kivtrace("DEBUG3: KIVACTION1='%s'", action);
    return {};
  }
  if (starts_nocase(action, "vtasks")) {
    kivtrace("DEBUG5: KIVACTION1='%s'", action);
    return {};
  }
  session_step(list, action);
  return {};
}

// The request's login from its session, when the step did not decide it:
// the login a valid key is bound to.
void identity_from_session(exlist& list) {
  RequestContext& c = reqctx();
  if (c.session_login.empty()) {
    std::string key = request_skey(list);
    if (std::optional<std::string> login = session_login(key)) c.session_login = *login;
  }
  if (!c.session_login.empty()) add_startup_node(list, "nv_remote_user", c.session_login);
}

// The record as the trace shows it: a query string without passwords.
int trace_cgiinfo(const cgiinfo& info) {
  if (!reqctx().kivdebug) return 0;
  cgiinfo shown = info;
  if (shown.query_string) shown.query_string = mask_query_passwords(*shown.query_string);
  return printcgiinfo(shown);
}

// Everything after the form has been read. A refusal removes the uploads
// the request saved.
exlist* after_form(exlist& list, form_entries& entries, int limit, bool custom) {
  kivtrace("Enries read\n");
  merge_form(list, entries, limit);
  RequestContext& c = reqctx();
  c.logindir = logindir_of(list);
  const std::string* action = parmval(entries, "KIVACTION");
  if (!action || action->empty()) {
    out() << "Illogical condition NO KIVACTION is defined";
    throw Exit{1};
  }
  setenv("KIVACTION", action->c_str(), 1);
  SecurityResult step;
  if (c.tkesecflag) {
    step = security_step(list, *action, custom);
    if (!step.identity) identity_from_session(list);
  }
  if (setuser(list) != 0) {
    out() << "can't set user";
    throw Exit{1};
  }
  const std::string* menutrig = parmval(entries, "MENUTRIG");
  if (menutrig && !menutrig->empty()) setenv("MENUTRIG", menutrig->c_str(), 1);
  setdateandtime();
  free_form_entries(entries);
  c.request_vars = &list;
  return &list;
}

}  // namespace

exlist* unixcgiinit(const std::string& statefile) {
  const bool lx = linux_flavour();
  RequestContext& c = reqctx();
  if (lx && std::getenv("KIVDEBUG")) c.kivdebug = 1;
  if (!lx) out() << "Content-type: text/html\n\n";
  std::string path = statefile;
  if (lx) {
    path = env_or_empty("PROG_STATES");
    if (path.empty()) path = kLinuxStates;
  }
  if (path.empty()) {
    out() << "No States File\n";
    return nullptr;
  }
  c.statefile = path;
  c.nvhome = env_or_empty("NVHOME");
  // Without a home the login files, markers and uploads have no folder, and
  // a missing login_config would silently switch security off.
  if (c.nvhome.empty()) {
    out() << "NVHOME is undefined\n";
    throw Exit{1};
  }
  FilePtr f = open_file(path, "r");
  if (!f) {
    int e = errno;
    if (e == ENOENT) {
      errmsg("The program is looking for the software in '%s' but it can't find it.\nPlease "
             "double check the location of the software.\n",
             c.nvhome);
      errmsg("Cannot open file:%s errno=%d\n", path, e);
      throw Exit{1};
    }
    errmsg("Cannot open file:%s errno=%d\n", path, e);
    if (lx) throw Exit{1};
    return nullptr;
  }
  if (!lx) setenv("KIVTRACE_FILE", (c.nvhome + "/debug.txt").c_str(), 1);
  exlist& list = startup_list();
  list = addmacro(f.get());
  f.reset();

  const int limit = field_limit(list);
  const bool custom = getstateval(&list, "CUSTOM_SECURITY").has_value();
  std::optional<std::string> maxlen = getstateval(&list, "ATTACHMENTMAXLEN");
  c.attachmentmaxlen = maxlen ? std::atol(maxlen->c_str()) : -1;
  c.tkesecflag = statloginfile(c.nvhome + "/client/config/login_config") == 0 ? 1 : 0;

  cgiinfo info;
  getcgiinfo(info);
  trace_cgiinfo(info);
  int method = mcode(info);
  if (method != M_GET && method != M_POST && method != M_HEAD) {
    pagef("Method is not supported '%s'.\n", info.request_method.value_or(std::string()));
    if (lx) throw Exit{0};
    return nullptr;
  }
  try {
    form_entries entries = get_form_entries(info);
    return after_form(list, entries, limit, custom);
  } catch (const Exit&) {
    remove_saved_uploads();
    throw;
  }
}

void setdateandtime() {
  std::time_t now = std::time(nullptr);
  std::tm local;
  char buf[32];
  if (!localtime_r(&now, &local) || !asctime_r(&local, buf)) return;
  setenv("DATE", buf, 1);
}

int setuser(exlist& list) {
  kivtrace("REMOTE USER");
  if (std::optional<std::string> u = getnodeval(&list, "nv_remote_user")) {
    kivtrace("nv_remote_user=%s", *u);
    setenv("REMOTE_USER", u->c_str(), 1);
  } else {
    kivtrace("nv_remote_user IS NULL");
  }
  fixremoteuser();
  setusergrups(list);
  if (!linux_flavour()) return 0;
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

void fixremoteuser() {
  std::optional<std::string> login = getuserlogin();
  if (!login) return;
  size_t bs = login->find('\\');
  if (bs != std::string::npos) setenv("REMOTE_USER", login->substr(bs + 1).c_str(), 1);
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

int statloginfile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st);
}

}  // namespace kiv

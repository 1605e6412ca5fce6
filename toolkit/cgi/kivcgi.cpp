// The CGI start-up: every request's first step after the home is known. It
// runs as named steps: read the state file, read the form, hold the limits
// (each form entry to the field limit, as it joins the request variable
// list), pick the action, run the security step the action calls for, and
// become the user (identity, groups, and in the Linux flavour the state
// file's user id); then it publishes the request's variables. A step that
// cannot go on refuses the request through refuse(), and one table says what
// each refusal does in each flavour.
#include <cerrno>
#include <cstdlib>
#include <ctime>
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
#include "toolkit/security/security_steps.h"
#include "toolkit/text/kivcgimisc.h"

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

// The start-up's refusal of a security step's.
Refusal refusal_of(StepRefusal why) {
  switch (why) {
    case StepRefusal::no_login: return Refusal::no_login;
    case StepRefusal::login_refused: return Refusal::login_refused;
    case StepRefusal::change_refused: return Refusal::change_refused;
    case StepRefusal::account_refused: return Refusal::account_refused;
    case StepRefusal::logout_marker: return Refusal::logout_marker;
    case StepRefusal::session_refused: return Refusal::session_refused;
    case StepRefusal::session_record: return Refusal::session_record;
  }
  return Refusal::session_refused;
}

// ---- the request being started ----

struct Startup {
  const StartupFlavour& flavour;
  exlist& request;
  int field_limit = kDefaultFieldMax;
  bool custom = false;  // custom security (CUSTOM_SECURITY)
};

// The list the start-up returns lives as long as the process.
exlist& startup_list() {
  static exlist request;
  return request;
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

int field_limit(const exlist& request) {
  std::optional<std::string> v = getstateval(&request, "FIELDMAXLEN");
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
  s.request = addmacro(f.get());
  f.reset();

  s.field_limit = field_limit(s.request);
  s.custom = getstateval(&s.request, "CUSTOM_SECURITY").has_value();
  std::optional<std::string> maxlen = getstateval(&s.request, "ATTACHMENTMAXLEN");
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
  const std::optional<std::string> group = getstateval(&s.request, "GROUP");
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
    add_list_node(s.request, formexdatanode(name, e.value ? filtertwolines(*e.value) : std::string()));
  }
}

// ---- the action ----

std::string logindir_of(const exlist& request) {
  if (std::optional<std::string> v = getstateval(&request, "logindir.VALUE")) return *v;
  if (std::optional<std::string> v = getstateval(&request, "logindir")) return *v;
  return reqctx().nvhome + "/login";
}

void pick_action(Startup& s, const form_entries& entries) {
  RequestContext& c = reqctx();
  c.logindir = logindir_of(s.request);
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

// ---- becoming the user ----

void become_user(Startup& s) {
  if (setuser(s.request) != 0) {
    out() << "can't set user";
    refuse(Refusal::user);
  }
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
    run_security_step(s.request, {s.custom, flavour.identity_always});
    become_user(s);
    setdateandtime();
    free_form_entries(entries);
  } catch (const Refused& r) {
    return end_refused(flavour, r.why);
  } catch (const StepRefused& r) {
    return end_refused(flavour, refusal_of(r.why));
  } catch (const Exit&) {
    remove_saved_uploads();
    throw;
  }
  c.request_vars = &s.request;
  publish_environment();
  return &s.request;
}

void setdateandtime() {
  std::time_t now = std::time(nullptr);
  std::tm local;
  char buf[32];
  if (!localtime_r(&now, &local) || !asctime_r(&local, buf)) return;
  reqctx().date = buf;
}

// While logins are on every page carries a session key (or stands in a
// signed-in road), and none may be kept: Back after a sign-out asks the help
// desk again, which refuses the ended key, instead of showing the page.
std::string_view content_type_header(const std::string& home) {
  const bool secured = !home.empty() && statloginfile(home + "/client/config/login_config") == 0;
  return secured ? "Content-type: text/html\nCache-Control: no-store\n\n" : "Content-type: text/html\n\n";
}


}  // namespace kiv

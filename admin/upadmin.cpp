// The administration frame: up_admin checks that an administrator the web
// server let in is asking (and, for a change, from this site's own pages),
// loads the three object lists, finds the request's action word in the
// action table, refuses a change made from a page another save overtook,
// runs the operation with the object files it writes locked from load to
// save, saves, runs the step that follows and prints the answer page over
// the page chain.
#include "admin/upadmin.h"

#include <array>
#include <cerrno>
#include <type_traits>

#include "admin/upadmin_table.h"
#include "engine/uphandler.h"
#include "platform/exit.h"
#include "toolkit/base/kivcgitrace.h"
#include "toolkit/base/kivcontext.h"
#include "toolkit/objects/objprotect.h"
#include "toolkit/request/kivexfile.h"
#include "toolkit/pages/kivhtml.h"
#include "toolkit/base/kivpath.h"
#include "toolkit/base/kivsettings.h"
#include "toolkit/text/kivtext.h"

namespace kiv {

static_assert(std::is_same_v<decltype(&up_admin), handler_fn>, "up_admin is a command handler");

namespace {

bool writes_files(const AdminAction& row) { return row.saves != AdminSaves::none; }

std::string inherited(std::string_view name) { return inherited_env(name).value_or(std::string()); }

// The host and port an Origin ("http://host:port") or a Referer
// ("http://host:port/path?query") names; none when it names no host.
std::optional<std::string_view> named_host(std::string_view url, bool path_follows) {
  size_t scheme = url.find("://");
  if (scheme == std::string_view::npos) return std::nullopt;
  std::string_view rest = url.substr(scheme + 3);
  if (path_follows) rest = rest.substr(0, rest.find_first_of("/?#"));
  if (rest.empty()) return std::nullopt;
  return rest;
}

// The administration is for the administrator the web server let in: a
// request that reached the program without the server's login check is
// refused before anything is read.
void check_administrator() {
  if (!inherited("AUTH_TYPE").empty() && !inherited("REMOTE_USER").empty()) return;
  errmsg(kAdminNeedsLogin);
  throw Exit{-1};
}

// A change comes by POST, and when the browser says which page sent it
// (Origin, or else Referer), that page is one of this site's: another site
// cannot make an administrator's browser save a setting.
void check_own_page() {
  bool ok = inherited("REQUEST_METHOD") == "POST";
  const std::string host = inherited("HTTP_HOST");
  if (ok) {
    const std::string origin = inherited("HTTP_ORIGIN");
    const std::string referer = inherited("HTTP_REFERER");
    const std::string& from = origin.empty() ? referer : origin;
    if (!from.empty()) {
      std::optional<std::string_view> named = named_host(from, origin.empty());
      ok = named && !host.empty() && equal_nocase(*named, host);
    }
  }
  if (ok) return;
  errmsg(kAdminOwnPages);
  throw Exit{-1};
}

// The first object file the row writes.
std::string_view first_file_of(const AdminAction& row) { return row.saves == AdminSaves::ce ? "ce_obj" : "tk_obj"; }

// A change is made on the files its page was printed from: the form sends
// back the page's admin_version, which must be the files' version now.
void check_version(const AdminAction& row, const exlist* request) {
  const std::string now = admin_version();
  const std::string sent = getnodeval_or_empty(request, "admin_version.VALUE");
  if (sent == now) return;
  // Name the file that changed, where the version tells.
  std::string_view file = first_file_of(row);
  if (sent.size() == now.size() && sent.compare(0, 16, now, 0, 16) == 0) file = "ce_obj";
  else if (sent.size() == now.size()) file = "tk_obj";
  errmsg(kObjFileChanged, reqctx().nvhome + "/client/config/" + std::string(file));
  throw Exit{-1};
}

// Prints "<home>/client/kivhtml/admin/<template>"; a name that would lead out
// of that folder is refused as a template that cannot be opened.
int print_admin_template(std::span<const objlist* const> lists, const std::string& templ) {
  std::string folder = reqctx().nvhome + "/client/kivhtml/admin";
  std::string path = folder + "/" + templ;
  if (!path_under(folder, path)) {
    pagef("Cannot open html template file '%s'. errno=%d\n", path, EACCES);
    return 1;
  }
  return printhtml(lists, path);
}

// Locks, before loading, the object files the row writes, always tk_obj
// before ce_obj so that two requests never wait on each other.
void lock_files_of(const AdminAction& row) {
  switch (row.saves) {
    case AdminSaves::none: return;
    case AdminSaves::tk:
    case AdminSaves::tk_itself: lock_objfile("tk_obj"); return;
    case AdminSaves::ce: lock_objfile("ce_obj"); return;
    case AdminSaves::tk_then_ce:
      lock_objfile("tk_obj");
      lock_objfile("ce_obj");
      return;
  }
}

void save_files_of(const AdminAction& row) {
  AdminState& s = admin();
  switch (row.saves) {
    case AdminSaves::none:
    case AdminSaves::tk_itself: return;
    case AdminSaves::tk: saveobjfile(s.tk_obj.get(), "tk_obj"); return;
    case AdminSaves::ce: saveobjfile(s.ce_obj.get(), "ce_obj"); return;
    case AdminSaves::tk_then_ce:
      saveobjfile(s.tk_obj.get(), "tk_obj");
      saveobjfile(s.ce_obj.get(), "ce_obj");
      return;
  }
}

// Releases the locks however the request ends.
struct LockScope {
  ~LockScope() { unlock_objfiles(); }
};

// The lists of the request; the process ends when the form list or the case
// objects cannot be loaded: the form values need admin_obj to land in and
// every page begins with tk_obj. A missing ce_obj only leaves it out.
void load_lists() {
  bool form = loadadminobj() != nullptr;
  bool tk = loadtkobj() != nullptr;
  loadceobj();
  if (!form || !tk) throw Exit{-1};
}

int run_action(const AdminAction& row, const std::string& templ, const exlist* request) {
  if (writes_files(row)) check_version(row, request);
  if (!row.trace.empty()) kivtrace(row.trace);
  if (row.run) row.run(row.word);
  save_files_of(row);
  unlock_objfiles();
  if (row.then != AdminThen::none) admin_step_of(row.then)();
  AdminState& s = admin();
  switch (row.page) {
    case AdminPage::admin: break;
    case AdminPage::modfield: return showadminpage(s.admin_obj.get(), s.modfield_template);
    case AdminPage::ce: return showcepage(s.ce_obj.get(), templ);
  }
  return showadminpage(s.admin_obj.get(), templ);
}

}  // namespace

int showadminpage(const objlist* /*objs*/, const std::string& templ) {
  AdminState& s = admin();
  if (s.admin_obj) adduniqobj(*s.admin_obj, "admin_version.VALUE", admin_version());
  std::array<const objlist*, 3> chain{};
  size_t n = 0;
  for (const objlist* l : {s.tk_obj.get(), s.ce_obj.get(), s.admin_obj.get()})
    if (l) chain[n++] = l;
  return print_admin_template(std::span<const objlist* const>(chain.data(), n), templ);
}

int showcepage(const objlist* objs, const std::string& templ) {
  objlist version;
  adduniqobj(version, "admin_version.VALUE", admin_version());
  std::array<const objlist*, 2> chain{};
  size_t n = 0;
  if (objs) chain[n++] = objs;
  chain[n++] = &version;
  return print_admin_template(std::span<const objlist* const>(chain.data(), n), templ);
}

int up_admin(const std::vector<std::string>& words, exlist* request) {
  check_administrator();
  AdminState& s = admin();
  s.admin_obj = get_prog_param();
  s.modfield_template.clear();
  const std::string word = reqctx().action;
  const std::string templ = words.size() > 1 ? words[1] : std::string();

  // The row is known before loading so that the files it writes are locked
  // from load to save; a row not built yet is answered as an unknown word.
  const AdminAction* row = word.empty() ? nullptr : find_admin_action(word);
  if (row && !admin_action_built(*row)) row = nullptr;
  if (row && writes_files(*row)) check_own_page();
  LockScope locks;
  if (row) lock_files_of(*row);

  load_lists();
  if (request) ex2obj(*request, *s.admin_obj, ExCopy::full);

  if (word.empty()) {
    errmsg("No KIVACTION is defined\n");
    throw Exit{0};
  }
  kivtrace("KIVACTION='%s'\n", word);
  // A word no built action answers gets the ordinary page; the dispatcher
  // ends the request with 0 after it, as after every administration page.
  if (!row) return showadminpage(s.admin_obj.get(), templ);
  return run_action(*row, templ, request);
}

}  // namespace kiv

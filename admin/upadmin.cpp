// The administration frame: up_admin loads the three object lists, finds the
// request's action word in the action table, runs its operation with the
// object files it writes locked from load to save, saves, runs the step that
// follows and prints the answer page over the page chain.
#include "admin/upadmin.h"

#include <array>
#include <cerrno>
#include <type_traits>

#include "admin/upadmin_table.h"
#include "engine/uphandler.h"
#include "platform/exit.h"
#include "toolkit/kivcgitrace.h"
#include "toolkit/kivhtml.h"
#include "toolkit/kivpath.h"
#include "toolkit/kivsettings.h"

namespace kiv {

static_assert(std::is_same_v<decltype(&up_admin), handler_fn>, "up_admin is a command handler");

namespace {

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

int run_action(const AdminAction& row, const std::string& templ) {
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

int showadminpage(const objlist* /*list*/, const std::string& templ) {
  AdminState& s = admin();
  std::array<const objlist*, 3> chain{};
  size_t n = 0;
  for (const objlist* l : {s.tk_obj.get(), s.ce_obj.get(), s.admin_obj.get()})
    if (l) chain[n++] = l;
  return print_admin_template(std::span<const objlist* const>(chain.data(), n), templ);
}

int showcepage(const objlist* list, const std::string& templ) {
  const objlist* one[] = {list};
  return print_admin_template(std::span<const objlist* const>(one, list ? 1 : 0), templ);
}

int up_admin(int /*count*/, const std::vector<std::string>& words, exlist* list) {
  AdminState& s = admin();
  s.admin_obj = get_prog_param();
  s.modfield_template.clear();
  const std::string word = reqctx().action;
  const std::string templ = words.size() > 1 ? words[1] : std::string();

  // The row is known before loading so that the files it writes are locked
  // from load to save; a row not built yet is answered as an unknown word.
  const AdminAction* row = word.empty() ? nullptr : find_admin_action(word);
  if (row && !admin_action_built(*row)) row = nullptr;
  LockScope locks;
  if (row) lock_files_of(*row);

  load_lists();
  ex2obj(list, s.admin_obj.get(), ExCopy::full);

  if (word.empty()) {
    errmsg("No KIVACTION is defined\n");
    throw Exit{0};
  }
  kivtrace("KIVACTION='%s'\n", word);
  // A word no built action answers gets the ordinary page; the dispatcher
  // ends the request with 0 after it, as after every administration page.
  if (!row) return showadminpage(s.admin_obj.get(), templ);
  return run_action(*row, templ);
}

}  // namespace kiv

// The console conversions: profiles into the tables of the three-table
// model, and resolution texts folded into problem texts (see upconvert.h).
#include "engine/upconvert.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "engine/upcommon.h"
#include "engine/upcommon_add.h"
#include "engine/upcommon_find.h"
#include "engine/upcommon_ops.h"
#include "engine/upfile.h"
#include "engine/upobjdb.h"
#include "engine/upprofile.h"
#include "engine/uprowwalk.h"
#include "platform/exit.h"
#include "platform/output.h"
#include "platform/state.h"
#include "toolkit/base/kivcgitrace.h"
#include "toolkit/base/kivcontext.h"
#include "toolkit/base/kivfmt.h"
#include "toolkit/objects/kivobj.h"
#include "toolkit/text/rowcol.h"

namespace kiv {

namespace {

// What tells the two conversions apart.
struct ProfileKind {
  const char* folder;        // under the home
  const char* enforce;       // enforce_fields.VALUE
  const char* table_object;  // the three-table model's table, when set
  const char* table;         // the table otherwise
};

constexpr ProfileKind kUsers = {"users", "submitted_by^$", "db_users_table_name.VALUE", "users"};
constexpr ProfileKind kStaff = {"staff", "assigned_to^$", "db_staff_table_name.VALUE", "staff"};

// The names in a folder that are not folders, in order; none when the folder
// cannot be read (errno says why).
std::optional<std::vector<std::string>> profile_files(const std::string& folder) {
  DIR* d = ::opendir(folder.c_str());
  if (!d) return std::nullopt;
  std::vector<std::string> names;
  while (const dirent* e = ::readdir(d)) {
    const std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    struct stat st {};
    if (::stat((folder + "/" + name).c_str(), &st) != 0 || S_ISDIR(st.st_mode)) continue;
    names.push_back(name);
  }
  ::closedir(d);
  std::sort(names.begin(), names.end());
  return names;
}

// The fields a converted profile gets besides its own.
void set_profile_fields(objlist& list, bool staff, const std::string& today) {
  if (staff) {
    setobjvalue(list, "sa_permissions", "staff", Origin::config);
    setobjvalue(list, "sa_access", "active", Origin::config);
    setobjvalue(list, "date_sanew", today, Origin::config);
    setobjvalue(list, "date_samod", today, Origin::config);
    const objattr_text login = objattr(list, "assigned_to", "VALUE");
    setobjvalue(list, "sa_login", login.text, login.origin);
  } else {
    setobjvalue(list, "date_subnew", today, Origin::config);
    setobjvalue(list, "date_submod", today, Origin::config);
    const objattr_text login = objattr(list, "submitted_by", "VALUE");
    setobjvalue(list, "sub_login", login.text, login.origin);
  }
}

// The one row of the case `id` as the database holds it now: its row and
// the column names. `found` false when the case is gone; none when the
// find failed (its message shown).
struct CaseNow {
  bool found = false;
  std::string row, keys;
};

std::optional<CaseNow> read_case(const dbconnection& c, std::string_view id) {
  const packet criteria{std::string(id) + std::string(kRowEnd), "id_num" + std::string(kRowEnd)};
  findhandle h;
  set_connection(h, c);
  h.rec = &criteria;
  h.order = std::string(" ");
  const findreply reply = handle_find(h);
  if (reply.errflag) return std::nullopt;
  CaseNow now;
  if (!reply.data || !reply.keys) return now;
  // The criterion matches the id exactly; a row of another id is not this
  // case's.
  RowWalk rows(*reply.data);
  while (std::optional<std::string_view> row = rows.next()) {
    if (getvaluebykey_or_empty(*row, *reply.keys, "id_num") != id) continue;
    now.found = true;
    now.row = std::string(*row);
    now.keys = *reply.keys;
    break;
  }
  return now;
}

// Merges one case from its row as read again. 0 done or nothing to do, 1
// failed (its message shown).
int merge_case(const dbconnection& c, std::string_view id) {
  if (merge_before_case()) merge_before_case()(id);
  const std::optional<CaseNow> now = id.empty() ? std::nullopt : read_case(c, id);
  if (!now) {
    errmsg("Modify operation failed\n");
    return 1;
  }
  const std::string resolution =
      now->found ? getvaluebykey_or_empty(now->row, now->keys, "resolution") : std::string();
  if (resolution.empty()) {
    out() << "ticket does not need to be merged\n";
    return 0;
  }
  out() << "ticket needs to be merged\n";
  const std::string problem = getvaluebykey_or_empty(now->row, now->keys, "problem");
  const packet merged{sformat("%s\n\n---Resolution---\n%s^@^^^$", packetvalue(problem), packetvalue(resolution)),
                      "problem^@resolution^$"};
  const packet old{now->row, now->keys};
  modifyhandle h;
  set_connection(h, c);
  h.new_ = &merged;
  h.all = &old;
  kivtrace("MODIFY befor\n");
  const int failed = handle_modify(h);
  kivtrace("MODIFY  after\n");
  if (failed) {
    errmsg("Modify operation failed\n");
    return 1;
  }
  return 0;
}

void reset_merge_before_case();

}  // namespace

std::function<void(std::string_view id)>& merge_before_case() {
  static std::function<void(std::string_view)> seam;
  KIV_REGISTER_RESET(&reset_merge_before_case);
  return seam;
}

namespace {
void reset_merge_before_case() { merge_before_case() = nullptr; }
}  // namespace

int convertprofiles(int flag) {
  const bool staff = flag == kStaffProfile;
  const ProfileKind& kind = staff ? kStaff : kUsers;
  objholder objs = get_prog_param();
  loadobj(objs);
  if (!objs) return 1;
  objlist& list = *objs;
  setobjvalue(list, "enforce_fields", kind.enforce, Origin::config);
  const std::string today = getdate1();

  const std::string folder = reqctx().nvhome + "/" + kind.folder;
  const std::optional<std::vector<std::string>> names = profile_files(folder);
  if (!names) {
    errmsg("Can't open dir='%s' errno=%d. \n", folder + "/*.*", errno);
    return 1;
  }
  std::string table = objtext(list, kind.table_object);
  if (table.empty()) table = kind.table;

  int result = 0;
  for (const std::string& login : *names) {
    writeblankpage(list);
    const std::optional<std::string> profile = getdefuser(login, flag);
    if (!profile || defaultdb2obj(list, *profile) != 0) continue;
    out() << sformat("converting profile for '%s' \n", login);
    set_profile_fields(list, staff, today);
    setobjvalue(list, "db_table_name", table, Origin::config);
    if (gadd(list) != 0) result = 1;
  }
  return result;
}

int merge_problem_resolution() {
  objholder objs = get_prog_param();
  loadobj(objs);
  if (!objs) return -1;
  objlist& list = *objs;
  writeblankpage(list);
  out() << "Finding Records\n";
  errmsg("NVHOME=%s", reqctx().nvhome);
  if (find(list) != 0) {
    errmsg("Error finding records\n");
    throw Exit{1};
  }
  remove_find_file(list);
  const std::optional<dbconnection> c = connection_objects(list);
  if (!c) return -1;

  const std::string found = objtext(list, "findresult.VALUE");
  out() << sformat("Total Cases=%d\n", getrowcount(found) - 1);
  RowWalk rows(found);
  const std::string keys(rows.next().value_or(std::string_view()));
  const int id_column = getindex(keys, "id_num");
  while (std::optional<std::string_view> row = rows.next()) {
    const std::string id = getcol_or_empty(*row, id_column);
    out() << sformat("Merging ticket id_num=%s:", id);
    if (merge_case(*c, id) != 0) return 1;
  }
  return 0;
}

}  // namespace kiv

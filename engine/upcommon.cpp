// Command start-up: get_prog_param, set_prog_path and loadobj, which turn
// the inherited environment and the case objects into the command settings
// and the variables the command publishes.
#include "engine/upcommon.h"

#include <cstdlib>

#include "engine/upclock.h"
#include "engine/upmenu.h"
#include "platform/flavour.h"
#include "toolkit/base/kivcgitrace.h"
#include "toolkit/base/kivcontext.h"
#include "toolkit/objects/kivobjfile.h"
#include "toolkit/base/kivsettings.h"
#include "toolkit/text/kivtext.h"

namespace kiv {

namespace {

// The database type words are compared without regard to case.
int dbtype_flag(std::string_view type) {
  if (equal_nocase(type, "MSSQL")) return 1;
  if (equal_nocase(type, "ORACLE")) return 2;
  if (equal_nocase(type, "SYBASE")) return 3;
  if (equal_nocase(type, "DB2")) return 4;
  return 0;
}

// The configured value of `object`.VALUE; empty when absent (or no list).
std::string config(const objlist* list, std::string_view object) {
  if (!list) return {};
  std::string key(object);
  key += ".VALUE";
  return getvalfromlist(list, key).value_or(std::string());
}

void set_database(const objlist* list, Settings& s) {
  std::string type = config(list, "odbc_dbtype");
  s.pcodbcdbtype = type.empty() ? "MSACCESS" : type;
  s.mssqlflag = type.empty() ? 0 : dbtype_flag(type);
  s.pcodbcuser = config(list, "odbc_user");
  s.pcodbcpass = config(list, "odbc_pass");
}

void set_states_and_paths(const objlist* list, Settings& s) {
  std::string open = config(list, "open_state");
  std::string closed = config(list, "closed_state");
  s.openstate = open.empty() ? "Open" : open;
  s.closedstate = closed.empty() ? "Closed" : closed;
  std::string lib = config(list, "libdir");
  s.libdir = lib.empty() ? reqctx().nvhome + "/client/kivhtml/tk/lib" : lib;
  std::string attach = config(list, "attachdir");
  if (attach.empty()) {
    s.attachmentsdir.reset();
    kivtrace("attachmetsdir is not defined");
  } else {
    s.attachmentsdir = attach;
    kivtrace("attachmetsdir='%s'", attach);
  }
  bool dmy = config(list, "dateformat") == "dmy";
  s.dateformat = dmy ? "dmy" : "mdy";
  s.idateflag = dmy ? 1 : 0;
}

void set_mail(const objlist* list, Settings& s) {
  std::string smtp = config(list, "smtp_option");
  s.smtpoption = smtp == "rfc821" ? "rfc821" : "0";
  if (!smtp.empty()) kivtrace("SMTPOPTIMN=%s\n", s.smtpoption);
  std::string mailtype = config(list, "mailtypeformat");
  s.mailtypeformat = mailtype == "text/html" ? 1 : 0;
  if (!mailtype.empty()) kivtrace("mailtypeformat=%d\n", s.mailtypeformat);
}

// Separate users and staff tables (the three-table model).
void set_table_model(const objlist* list, Settings& s) {
  std::string staff = config(list, "db_staff_table_name");
  std::string users = config(list, "db_users_table_name");
  s.threetablemodel = !staff.empty() || !users.empty() ? 1 : 0;
  kivtrace("TRHEETABLEMODEL=%d\n", s.threetablemodel);
}

}  // namespace

objholder get_prog_param() {
  if (inherited_env("KIVDEBUG")) reqctx().kivdebug = 1;
  set_prog_path();
  return objholder();
}

// The home the program started with (the dispatcher's lookup, the
// start-up), else NVHOME as inherited, else the flavour's default. The
// installation's program folders go in front of the inherited search path in
// the form this system's processes understand ("/" and ":"), for both
// flavours: hook scripts and tools are found through it. An empty inherited
// path adds no empty entry, which would search the current folder.
int set_prog_path() {
  RequestContext& c = reqctx();
  const std::string& home = start_home(default_home());
  const std::optional<std::string> old = inherited_env("PATH");
  c.search_path = sformat("%s/client/bin:%s/dbserver/bin:%s/report/bin", home, home, home);
  if (old && !old->empty()) {
    c.search_path += ':';
    c.search_path += *old;
  }
  publish_environment();
  return 0;
}

int loadobj(objholder& holder) {
  Settings& s = settings();
  RequestContext& c = reqctx();
  holder = loadkivobj(c.nvhome + "/client/config/tk_obj");
  objlist* list = holder.get();
  if (list) {
    if (!c.menutrig.empty()) build_menu(list, c.menutrig);
    dynamic_menu(list);
  }
  set_database(list, s);
  set_states_and_paths(list, s);
  set_mail(list, s);
  set_table_model(list, s);
  s.row_number.reset();
  s.row_number_value.reset();
  s.join_condition.reset();
  s.distinct_condition.reset();
  s.sql_control_sort.reset();

  std::time_t now = engine_now();
  c.today = getdate1(now);
  c.time = gettime3(now);
  c.time24 = gettime4(now);
  publish_environment();
  return 0;
}

}  // namespace kiv

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
#include "toolkit/objects/kivobj.h"
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

void set_database(const objlist& objs, Settings& s) {
  std::string type = objtext(objs, "odbc_dbtype.VALUE");
  s.pcodbcdbtype = type.empty() ? "MSACCESS" : type;
  s.mssqlflag = type.empty() ? 0 : dbtype_flag(type);
  s.pcodbcuser = objtext(objs, "odbc_user.VALUE");
  s.pcodbcpass = objtext(objs, "odbc_pass.VALUE");
}

void set_states_and_paths(const objlist& objs, Settings& s) {
  std::string open = objtext(objs, "open_state.VALUE");
  std::string closed = objtext(objs, "closed_state.VALUE");
  s.openstate = open.empty() ? "Open" : open;
  s.closedstate = closed.empty() ? "Closed" : closed;
  std::string lib = objtext(objs, "libdir.VALUE");
  s.libdir = lib.empty() ? reqctx().nvhome + "/client/kivhtml/tk/lib" : lib;
  std::string attach = objtext(objs, "attachdir.VALUE");
  if (attach.empty()) {
    s.attachmentsdir.reset();
    kivtrace("attachmetsdir is not defined");
  } else {
    s.attachmentsdir = attach;
    kivtrace("attachmetsdir='%s'", attach);
  }
  bool dmy = objtext(objs, "dateformat.VALUE") == "dmy";
  s.dateformat = dmy ? "dmy" : "mdy";
  s.idateflag = dmy ? 1 : 0;
}

void set_mail(const objlist& objs, Settings& s) {
  std::string smtp = objtext(objs, "smtp_option.VALUE");
  s.smtpoption = smtp == "rfc821" ? "rfc821" : "0";
  if (!smtp.empty()) kivtrace("SMTPOPTIMN=%s\n", s.smtpoption);
  std::string mailtype = objtext(objs, "mailtypeformat.VALUE");
  s.mailtypeformat = mailtype == "text/html" ? 1 : 0;
  if (!mailtype.empty()) kivtrace("mailtypeformat=%d\n", s.mailtypeformat);
}

// Separate users and staff tables (the three-table model).
void set_table_model(const objlist& objs, Settings& s) {
  std::string staff = objtext(objs, "db_staff_table_name.VALUE");
  std::string users = objtext(objs, "db_users_table_name.VALUE");
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
  // Without an object file every setting takes its default.
  const objlist none{};
  if (holder) {
    if (!c.menutrig.empty()) build_menu(*holder, c.menutrig);
    dynamic_menu(*holder);
  }
  const objlist& objs = holder ? *holder : none;
  set_database(objs, s);
  set_states_and_paths(objs, s);
  set_mail(objs, s);
  set_table_model(objs, s);
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

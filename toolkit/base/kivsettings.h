// The command settings: process-wide values that a command fixes once at its
// start from the case objects (tk_obj), and that the SQL generator, the
// driver layer, mail delivery and the case engine read. The home folder they
// lie under is the request context's (kivcontext.h).
// One instance per process; tests reset it with reset_settings().
#pragma once

#include <optional>
#include <string>

namespace kiv {

struct Settings {
  int mssqlflag = 0;             // database type: 0 MSACCESS/other, 1 MSSQL, 2 ORACLE, 3 SYBASE, 4 DB2
  std::string pcodbcdbtype = "MSACCESS";
  std::string pcodbcuser, pcodbcpass;
  std::string openstate = "Open", closedstate = "Closed";
  std::string libdir;
  std::optional<std::string> attachmentsdir;
  std::string dateformat = "mdy";
  int idateflag = 0;
  std::string smtpoption = "0";  // "rfc821" or "0"
  int mailtypeformat = 0;
  int threetablemodel = 0;
  // Query settings filled per operation; none by default. loadobj resets
  // them all. sql_control_sort is the order list of a stored query (its
  // TITLE), which find uses instead of the sort menus.
  std::optional<std::string> row_number, row_number_value, join_condition, distinct_condition;
  std::optional<std::string> sql_control_sort;
};

Settings& settings();
void reset_settings();

}  // namespace kiv

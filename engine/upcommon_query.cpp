// Query settings from objects: join_func, sql_control, primary_func,
// getsortlist and the title a sort menu holds.
#include "engine/upcommon_query.h"

#include "engine/upobjdb.h"
#include "platform/flavour.h"
#include "toolkit/base/kivcgitrace.h"
#include "toolkit/base/kivsettings.h"
#include "toolkit/objects/kivobj.h"
#include "toolkit/text/rowcol.h"

namespace kiv {

int join_func(const objlist& list) {
  Settings& s = settings();
  s.join_condition = getvalfromlist(list, "join_condition.VALUE");
  s.distinct_condition = getvalfromlist(list, "distinct_condition.VALUE");
  return 0;
}

int sql_control(objlist& list) {
  std::string q = objtext(list, "sql_control", "VALUE");
  if (q.empty()) {
    kivtrace("sql_control: no name found");
    return 0;
  }
  kivtrace("sql_control:name=%s", q);
  std::string join = objtext(list, q, "VALUE");
  if (!join.empty()) {
    kivtrace("sql_control: joint condition is jcdond='%s'", join);
    adduniqobj(list, "join_condition.VALUE", join);
  } else {
    kivtrace("sql_control: joint condition is null");
  }
  std::string table = objtext(list, q, "CONTROL");
  if (!table.empty()) {
    kivtrace("sql_control: table='%s'", table);
    adduniqobj(list, "db_table_name.VALUE", table);
  } else {
    kivtrace("sql_control: table is null");
  }
  std::string sort = objtext(list, q, "TITLE");
  if (!sort.empty())
    settings().sql_control_sort = sort;
  else
    kivtrace("sql_control: sort is null ");
  return 0;
}

int primary_func(const objlist& list) {
  Settings& s = settings();
  s.row_number_value.reset();
  s.row_number = getvalfromlist(list, "row_number.VALUE");
  if (s.row_number) s.row_number_value = getvalfromlist(list, *s.row_number + ".VALUE");
  return 0;
}

std::string sortmenu_title(const objlist& list, int menu) {
  std::string value = objtext(list, sformat("sort_titles%d_menu", menu), "VALUE");
  if (value.find(kColSep) == std::string::npos && value.find(kRowEnd) == std::string::npos) return value;
  return getcol_or_empty(value, 1);
}

std::optional<std::string> getsortlist(const objlist& list) {
  const Settings& s = settings();
  if (s.sql_control_sort && !s.sql_control_sort->empty()) return *s.sql_control_sort;
  const int menus = platform() == Platform::linux ? 1 : 4;
  std::string order;
  for (int m = 1; m <= menus; ++m) {
    std::string title = sortmenu_title(list, m);
    if (title.empty()) break;
    std::optional<std::string> column = getsortkey(list, title);
    if (!column || column->empty()) break;
    if (!order.empty()) order += ", ";
    order += *column;
  }
  if (order.empty()) return std::nullopt;
  return order;
}

}  // namespace kiv

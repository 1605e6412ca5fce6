// The parent of a sub-case: a form names it, so it is taken only when it
// has the shape of a case number the counter keeps and a stored case bears
// it. A parent that is neither would let any text become a case number, and
// every new one would add a line to the counter file.
#include <string>

#include "data/dbdriver.h"
#include "data/sql_pars.h"
#include "data/webhandle_db.h"
#include "engine/upcasenum.h"
#include "engine/upcommon_ops.h"
#include "toolkit/base/kivcgitrace.h"
#include "toolkit/base/kivfmt.h"
#include "toolkit/objects/kivobj.h"
#include "toolkit/text/kivtext.h"
#include "toolkit/text/rowcol.h"

namespace kiv {

bool parent_shape(std::string_view parent) {
  // The parent's counter line holds the parent and its number, "<parent>.2"
  // at first: both words must fit.
  if (parent.empty() || parent.size() + 2 > kCounterWordMax) return false;
  return counter_word(parent) == parent;
}

bool stored_parent(const objlist& list, std::string_view parent) {
  if (!parent_shape(parent)) {
    kivtrace("parent_case_num '%s' is no case number of the counter\n", parent);
    return false;
  }
  const std::optional<dbconnection> c = connection_objects(list);
  if (!c) return false;  // after the missing object's message
  // An add may go into several tables; the case is looked for in the first.
  const std::string table(trim_blanks(std::string_view(c->table).substr(0, c->table.find(','))));
  const std::string column = objtext(list, "case_num", "DBKEY");
  if (column.empty()) {
    kivtrace("parent_case_num: case_num has no DBKEY, so no case can be found\n");
    return false;
  }
  if (!sql_table_ok(table) || !sql_column_ok(column)) return false;
  const std::string statement = sformat("select %s from %s where (%s='%s')", column, table, column,
                                        textnl_or_empty(parent));
  if (kivodbcexec(nullptr, c->timeout, c->database, statement) != 0) {
    errmsg("SQL Error: '%s'\n", driver_results().odbcerror);
    return false;
  }
  if (getrowcount(driver_results().odbcdata.value_or(std::string())) > 0) return true;
  kivtrace("parent_case_num '%s' is no stored case\n", parent);
  return false;
}

}  // namespace kiv

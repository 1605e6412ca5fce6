// The statements of the record operations. Each generator describes its table
// through the driver first and then walks the table's columns, not the
// row's, picking each column's value out of the row by name; the statement
// goes into sqlbuf().query. An update or delete that would select every row
// is refused.
#include "data/sql_pars.h"
#include "platform/state.h"

#include <new>
#include <unistd.h>

#include "data/dbdriver.h"
#include "data/sql_pars_impl.h"
#include "data/webhandle_db.h"
#include "platform/output.h"
#include "toolkit/base/kivcgitrace.h"
#include "toolkit/base/kivsettings.h"
#include "toolkit/base/kiv_malloc.h"
#include "toolkit/text/kivtext.h"
#include "toolkit/text/rowcol.h"

namespace kiv {

namespace {

using sqlpars::Conv;
using sqlpars::Converted;

constexpr std::string_view kIdNum = "id_num";
constexpr std::string_view kNeverUpdated = "date_first_sent_by_user";
constexpr std::string_view kNullMark = "==\"\"";

bool set(const std::optional<std::string>& s) { return s && !s->empty(); }

int type_of(std::string_view type_name, std::string_view column) {
  if (type_name == "DATE_TIME") return kDateColumn;
  if (type_name == "FLOAT") return kFloatColumn;
  if (type_name == "INT") return kIntColumn;
  return column.starts_with("date_") ? kDateColumn : kTextColumn;
}

int relation_failed(const char* generator, const std::string& table) {
  kivtrace("%s: table='%s' RELATION FAILED\n", generator, table);
  return -1;
}

// The condition of a select or delete in sqlbuf().qualifier: one group per
// column with a criterion, in the table's column order,
// "(" c1 ") and (" c2 ")". False when a criterion is refused.
bool build_qualifier(const dbconfig_node& node, std::string_view criteria, std::string_view keys) {
  SqlBuffers& b = sqlbuf();
  b.qualifier.clear();
  for (int i = 1; i <= node.count; ++i) {
    const std::string& name = node.column(i).name;
    if (!sqlpars::has_key(keys, name)) continue;
    std::string value = sqlpars::first_row_value(criteria, keys, name);
    if (value.empty()) continue;
    std::unique_ptr<ptree> tree = parse(value);
    std::string term;
    if (!sqlpars::column_condition(node, i, *tree, term)) return false;
    if (term.empty()) continue;
    b.qualifier += b.qualifier.empty() ? "(" : ") and (";
    b.qualifier += term;
  }
  if (!b.qualifier.empty()) b.qualifier += ")";
  return true;
}

// The identifying value of an update's row: a number in a number column,
// quoted text otherwise (also for a column the table does not describe).
std::optional<std::string> id_value(const dbconfig_node& node, std::string_view column, std::string_view value) {
  int i = node.index_of(column);
  int type = i ? node.column(i).type : kTextColumn;
  if (type == kIntColumn || type == kFloatColumn) {
    std::string_view n = trim_blanks(value);
    if (sqlpars::is_number(n)) return std::string(n);
    errmsg("Bad number '%s' for column %s\n", value, column);
    return std::nullopt;
  }
  return "'" + textnl_or_empty(value) + "'";
}

// The row selection of an update, "(name=value)"; none (refused, with its
// message) when no row can be named.
std::optional<std::string> row_selection(const dbconfig_node& node, const std::string& table,
                                         std::string_view alldata, std::string_view allkeys) {
  const Settings& s = settings();
  if (set(s.row_number)) {
    if (!sql_column_ok(*s.row_number)) return std::nullopt;
    if (!set(s.row_number_value)) return sformat("(%s=null)", *s.row_number);
    std::optional<std::string> v = id_value(node, *s.row_number, *s.row_number_value);
    if (!v) return std::nullopt;
    return sformat("(%s=%s)", *s.row_number, *v);
  }
  std::string id = node.index_of(kIdNum) ? sqlpars::first_row_value(alldata, allkeys, kIdNum) : std::string();
  if (id.empty()) {
    errmsg("Refused update of %s without a condition\n", table);
    return std::nullopt;
  }
  std::optional<std::string> v = id_value(node, kIdNum, id);
  if (!v) return std::nullopt;
  return sformat("(id_num=%s)", *v);
}

}  // namespace

SqlBuffers& sqlbuf() {
  static SqlBuffers b;
  KIV_REGISTER_RESET(&reset_sqlbuf);
  return b;
}

void reset_sqlbuf() { sqlbuf() = SqlBuffers{}; }

int dbconfig_node::index_of(std::string_view name) const {
  for (int i = 1; i <= count; ++i)
    if (column(i).name == name) return i;
  return 0;
}

std::optional<dbconfig_node> mk_dbconfig_node(const std::string& database, const std::string& table,
                                              std::optional<std::string_view> keys) {
  if (!sql_table_ok(table)) return std::nullopt;
  const std::optional<std::string>& join = settings().join_condition;
  // The describe needs the result's columns only: a condition that is never
  // true keeps the driver from fetching the table's rows with them.
  std::string statement;
  if (set(join)) {
    if (!sqlpars::join_ok(*join)) return std::nullopt;
    statement = sformat("select * from %s where (%s) and %s", table, *join, kNoRows);
  } else {
    statement = sformat("select * from %s where %s", table, kNoRows);
  }
  if (kivodbcinfo(nullptr, 15, database, statement) != 0) return std::nullopt;
  const DriverResults& r = driver_results();
  dbconfig_node node;
  node.table = table;
  node.database = database;
  node.dbms = r.dbms_name;
  std::string names = r.odbckey.value_or("");
  std::string types = r.odbcdata.value_or("");
  node.count = keys ? getcolcount(names) : 0;
  for (int i = 1; i <= node.count; ++i) {
    dbconfig_column col;
    col.name = getcol_or_empty(names, i);
    col.type = type_of(getvaluebykey_or_empty(types, names, col.name), col.name);
    node.columns.push_back(std::move(col));
  }
  return node;
}

int gen_insert_query(const std::string& database, const std::string& table, std::string_view data,
                     std::string_view keys) {
  std::optional<dbconfig_node> node = mk_dbconfig_node(database, table, keys);
  if (!node) return relation_failed("gen_insert_query", table);
  return gen_insert_query(*node, data, keys);
}

int gen_insert_query(const dbconfig_node& node, std::string_view data, std::string_view keys) {
  SqlBuffers& b = sqlbuf();
  b.dbms = node.dbms;
  bool access = settings().mssqlflag == 0;
  std::string attr_list, values;
  for (const dbconfig_column& col : node.columns) {
    std::string value;
    bool bare = col.type == kIntColumn || col.type == kFloatColumn;
    if (col.name == kIdNum) {
      // The id db_add drew; none (a row-number column identifies rows) leaves
      // the column out rather than writing it empty.
      if (b.idnum.empty()) continue;
      value = b.idnum;
      bare = true;
    } else {
      if (!sqlpars::has_key(keys, col.name)) continue;
      std::string v = sqlpars::first_row_value(data, keys, col.name);
      if (v.empty()) continue;
      Converted cv = sqlpars::convert(col, v, DateUse::stored);
      if (cv.kind == Conv::refused) return -2;
      if (cv.kind == Conv::none) continue;
      value = std::move(cv.text);
    }
    if (!sql_column_ok(col.name)) return -2;
    if (!attr_list.empty()) {
      attr_list += ", ";
      values += ", ";
    }
    attr_list += col.name;
    values += (bare && !access) ? value : sformat("'%s'", value);
  }
  b.query = sformat("insert into %s (%s) values (%s)", node.table, attr_list, values);
  return 0;
}

int gen_retrieve_query(const std::string& database, const std::string& table, std::string_view criteria,
                       std::string_view keys, const std::optional<std::string>& order) {
  std::optional<dbconfig_node> node = mk_dbconfig_node(database, table, keys);
  if (!node) return relation_failed("gen_retrieve_query", table);
  SqlBuffers& b = sqlbuf();
  b.dbms = node->dbms;
  if (!build_qualifier(*node, criteria, keys)) return -2;
  bool ordered = set(order) && order->front() != ' ';
  if (ordered && !sql_order_ok(*order)) return -2;
  const Settings& s = settings();
  std::string w = b.qualifier.empty() ? "" : "where";
  std::string q;
  if (!set(s.join_condition)) {
    q = sformat("select * from %s %s %s", table, w, b.qualifier);
  } else if (!set(s.distinct_condition)) {
    q = b.qualifier.empty() ? sformat("select * from %s where %s", table, *s.join_condition)
                            : sformat("select * from %s %s %s and %s", table, w, b.qualifier, *s.join_condition);
  } else {
    if (!sqlpars::distinct_ok(*s.distinct_condition)) return -2;
    q = b.qualifier.empty()
            ? sformat("select distinct %s from %s where %s", *s.distinct_condition, table, *s.join_condition)
            : sformat("select distinct %s from %s %s %s and %s", *s.distinct_condition, table, w, b.qualifier,
                      *s.join_condition);
  }
  if (ordered) q += sformat(" order by %s", *order);
  b.query = std::move(q);
  return 0;
}

int gen_modify_query(const std::string& database, const std::string& table, std::string_view alldata,
                     std::string_view allkeys, std::string_view newdata, std::string_view newkeys) {
  std::optional<dbconfig_node> node = mk_dbconfig_node(database, table, newkeys);
  if (!node) return relation_failed("gen_modify_query", table);
  SqlBuffers& b = sqlbuf();
  b.dbms = node->dbms;
  b.qualifier.clear();
  std::string setlist;
  for (const dbconfig_column& col : node->columns) {
    if (col.name == kNeverUpdated || !sqlpars::has_key(newkeys, col.name)) continue;
    if (!sql_column_ok(col.name)) return -2;
    std::string v = sqlpars::first_row_value(newdata, newkeys, col.name);
    std::string part;
    if (v == kNullMark) {
      // The empty text; a column of another type is set to NULL.
      part = col.type == kTextColumn ? sformat("%s = ''", col.name) : sformat("%s = NULL", col.name);
    } else {
      Converted cv = sqlpars::convert(col, v, DateUse::stored);
      if (cv.kind == Conv::refused) return -2;
      if (cv.kind == Conv::none) {
        part = sformat("%s = NULL", col.name);
      } else if (col.type == kIntColumn || col.type == kFloatColumn) {
        part = sformat("%s = %s", col.name, cv.text);
      } else {
        part = sformat("%s = '%s'", col.name, cv.text);
      }
    }
    if (!setlist.empty()) setlist += ", ";
    setlist += part;
  }
  std::optional<std::string> selection = row_selection(*node, table, alldata, allkeys);
  if (!selection) return -2;
  b.qualifier = std::move(*selection);
  b.query = sformat("update %s set %s %s %s", table, setlist, "where", b.qualifier);
  return 0;
}

int gen_delete_query(const std::string& database, const std::string& table, std::string_view data,
                     std::string_view keys) {
  std::optional<dbconfig_node> node = mk_dbconfig_node(database, table, keys);
  if (!node) return relation_failed("gen_delete_query", table);
  SqlBuffers& b = sqlbuf();
  b.dbms = node->dbms;
  if (!build_qualifier(*node, data, keys)) return -2;
  if (b.qualifier.empty()) {
    errmsg("Refused delete from %s without a condition\n", table);
    return -2;
  }
  b.query = sformat("delete from %s where %s", table, b.qualifier);
  return 0;
}

}  // namespace kiv

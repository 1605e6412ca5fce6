// The four record operations and their entry points. A record operation
// checks its arguments in a fixed order, has the generator write the
// statement into sqlbuf().query and runs it through the driver, all its
// statements on one connection; an add draws the next id_num from the
// table's maximum and inserts its row under a lock in the home, so that two
// adds never draw the same id, while the connection and the table's
// description come before the lock and run side by side with other adds. The
// entry points show failures in the page. Nothing is rolled back.
#include "data/webhandle_db_ops.h"

#include <cerrno>
#include <cctype>
#include <unistd.h>

#include "data/dbdriver.h"
#include "data/sql_pars.h"
#include "data/webhandle_db.h"
#include "toolkit/base/kivcgitrace.h"
#include "toolkit/base/kivlock.h"
#include "toolkit/base/kivsettings.h"
#include "toolkit/text/rowcol.h"

namespace kiv {

namespace {

dberr failure(int code, std::string msg, std::optional<std::string> hint) {
  dberr e = dberrCreate();
  e.code = code;
  e.msg = std::move(msg);
  e.hint = std::move(hint);
  return e;
}

dberr cant_generate() { return failure(-3, "Can't generate query", std::string("Fix the problem")); }

dberr driver_failure(int rc) { return failure(rc, driver_results().odbcerror, std::nullopt); }

// The argument checks all record operations begin with.
std::optional<dberr> check_names(const std::string& database, const std::string& table) {
  if (database.empty()) return failure(-1, "NO database name", std::string("add database name"));
  if (table.empty()) return failure(-1, "NO table name", std::string("add table name"));
  return std::nullopt;
}

std::optional<dberr> check_keys(std::string_view keys) {
  if (keys.empty()) return failure(-1, "NO key_str", std::string("add key_str"));
  return std::nullopt;
}

// Runs the generated statement; a failure is the driver's.
std::optional<dberr> run(int timeout, const std::string& database) {
  int rc = kivodbcexec(nullptr, timeout, database, sqlbuf().query);
  if (rc != 0) return driver_failure(rc);
  return std::nullopt;
}

// The maximum query of the database type.
std::string max_query(const std::string& table) {
  switch (settings().mssqlflag) {
    case 2:
    case 3:
      return sformat("select max (id_num) from %s", table);
    case 4:
      return sformat("SELECT MAX (id_num) FROM %s", table);
    default:
      return sformat("select max (\"id_num\") from %s", table);
  }
}

// atoi: blanks, a sign and the digits that follow; 0 when there are none.
long long leading_int(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
  bool negative = i < s.size() && s[i] == '-';
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) ++i;
  long long n = 0;
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
    if (n > 100000000000000000LL) break;
    n = n * 10 + (s[i] - '0');
  }
  return negative ? -n : n;
}

std::vector<std::string> split_tables(const std::string& table) {
  std::vector<std::string> tables;
  size_t start = 0;
  while (true) {
    size_t comma = table.find(',', start);
    tables.push_back(table.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    if (comma == std::string::npos) return tables;
    start = comma + 1;
  }
}

// The next id_num of a table into sqlbuf().idnum: its maximum plus 1 (an
// empty table, whose maximum is NULL, gives 1).
std::optional<dberr> draw_idnum(int timeout, const std::string& database, const std::string& table) {
  std::string q = max_query(table);
  kivtrace("db_add: max query='%s'\n", q);
  int rc = kivodbcexec(nullptr, timeout, database, q);
  if (rc != 0) return driver_failure(rc);
  std::string max;
  if (std::optional<std::string> row = getrow(driver_results().odbcdata.value_or(""), 1))
    max = getcol_or_empty(*row, 1);
  sqlbuf().idnum = sformat("%d", leading_int(max) + 1);
  kivtrace("db_add: max row='%s' idnum=%s\n", max, sqlbuf().idnum);
  return std::nullopt;
}

// The duplicate-row messages of the databases: Access and SQL Server's
// "duplicate values", PostgreSQL's "duplicate key value", SQLite's unique
// constraint.
bool duplicate_message(std::string_view msg) {
  return msg.find("duplicate values") != std::string_view::npos ||
         msg.find("duplicate key value") != std::string_view::npos ||
         msg.find("UNIQUE constraint failed") != std::string_view::npos;
}

const packet& or_empty(const packet* p) {
  static const packet empty;
  return p ? *p : empty;
}

}  // namespace

dberr dberrCreate() { return dberr{}; }

std::string idnum_lockfile() { return reqctx().nvhome + "/tmp/idnum.lock"; }

dberr db_add(std::string_view host, int timeout, const std::string& database, const std::string& table,
             std::string_view data, std::string_view keys) {
  kivtrace("db_add: host='%s' timeout=%d database='%s' table='%s' keys='%s' data='%s'\n", host, timeout, database,
           table, keys, data);
  if (std::optional<dberr> e = check_names(database, table)) return *e;
  if (std::optional<dberr> e = check_keys(keys)) return *e;
  if (data.empty()) return failure(-2, "NO value", std::string("add value"));
  std::vector<std::string> tables = split_tables(table);
  // Every table is checked before anything is inserted.
  for (const std::string& t : tables)
    if (!sql_table_ok(t)) return cant_generate();

  // A row-number column identifies the rows: no id is drawn (and none left
  // over from an earlier add is written).
  bool draw = !(settings().row_number && !settings().row_number->empty());
  // The lock file is opened before any statement runs (an add that could not
  // take it fails at once), and locked only while an id is drawn and its row
  // inserted: no other add can draw the same maximum in between.
  FileLock lock;
  const std::string lockpath = idnum_lockfile();
  auto lock_failure = [&] {
    int error = errno;
    return failure(-3, sformat("Can't lock file <%s> errno=%d\n", lockpath, error), std::string("Fix the problem"));
  };
  if (draw && !lock.open(lockpath)) return lock_failure();
  if (!draw) sqlbuf().idnum.clear();
  OperationConnection shared;
  for (const std::string& t : tables) {
    std::optional<dbconfig_node> node = mk_dbconfig_node(database, t, keys);
    if (!node) {
      kivtrace("db_add: table='%s' RELATION FAILED\n", t);
      // The maximum comes before the insert: a table it cannot be read from
      // fails as its query does.
      if (draw)
        if (std::optional<dberr> e = draw_idnum(timeout, database, t)) return *e;
      return cant_generate();
    }
    if (draw) {
      if (!lock.lock()) return lock_failure();
      if (std::optional<dberr> e = draw_idnum(timeout, database, t)) return *e;
    }
    if (gen_insert_query(*node, data, keys) != 0) return cant_generate();
    kivtrace("db_add: insert start table='%s' query='%s'\n", t, sqlbuf().query);
    if (std::optional<dberr> e = run(timeout, database)) return *e;
    lock.unlock();
    kivtrace("db_add: insert end table='%s'\n", t);
  }
  return dberrCreate();
}

dberr db_find(std::string_view host, int timeout, const std::string& database, const std::string& table,
              std::string_view criteria, std::string_view keys, const std::optional<std::string>& order,
              std::optional<std::string>& data_out, std::optional<std::string>& keys_out, int& rowcount) {
  kivtrace("db_find: host='%s' timeout=%d database='%s' table='%s' keys='%s' criteria='%s' order='%s'\n", host,
           timeout, database, table, keys, criteria, order.value_or(""));
  if (std::optional<dberr> e = check_names(database, table)) return *e;
  if (std::optional<dberr> e = check_keys(keys)) return *e;
  if (criteria.empty()) return failure(-2, "NO criteria", std::string("add criteria"));
  // The describe and the statement on one connection.
  OperationConnection shared;
  if (gen_retrieve_query(database, table, criteria, keys, order) != 0) return cant_generate();
  kivtrace("db_find: query='%s'\n", sqlbuf().query);
  if (std::optional<dberr> e = run(timeout, database)) return *e;
  const DriverResults& r = driver_results();
  data_out = r.odbcdata;
  keys_out = r.odbckey;
  rowcount = getrowcount(r.odbcdata.value_or(""));
  return dberrCreate();
}

dberr db_modify(std::string_view host, int timeout, const std::string& database, const std::string& table,
                const packet& all, const packet& newrec) {
  kivtrace("db_modify: host='%s' timeout=%d database='%s' table='%s' newkeys='%s' newdata='%s'\n", host, timeout,
           database, table, newrec.keys, newrec.data);
  if (std::optional<dberr> e = check_names(database, table)) return *e;
  if (newrec.data.empty()) return failure(-2, "NO new record data", std::string("add new record data"));
  if (newrec.keys.empty()) return failure(-3, "NO new record key", std::string("add new record key"));
  if (all.keys.empty()) return failure(-4, "NO allrecords key", std::string("add allrecords key"));
  if (all.data.empty()) return failure(-5, "NO allrecords data", std::string("add allrecords data"));
  // The describe and the statement on one connection.
  OperationConnection shared;
  if (gen_modify_query(database, table, all.data, all.keys, newrec.data, newrec.keys) != 0) return cant_generate();
  kivtrace("db_modify: query='%s'\n", sqlbuf().query);
  if (std::optional<dberr> e = run(timeout, database)) return *e;
  return dberrCreate();
}

dberr db_delete(std::string_view host, int timeout, const std::string& database, const std::string& table,
                std::string_view data, const std::vector<int>& rows, std::string_view keys) {
  kivtrace("db_delete: host='%s' timeout=%d database='%s' table='%s' keys='%s' data='%s'\n", host, timeout,
           database, table, keys, data);
  if (std::optional<dberr> e = check_names(database, table)) return *e;
  if (std::optional<dberr> e = check_keys(keys)) return *e;
  if (data.empty()) return failure(-2, "NO allrecords", std::string("add allrecords"));
  if (rows.empty() || rows.front() == 0) return failure(-2, "NO d_array", std::string("add d_array"));
  // The describe and the statement on one connection.
  OperationConnection shared;
  if (gen_delete_query(database, table, data, keys) != 0) return cant_generate();
  kivtrace("db_delete: query='%s'\n", sqlbuf().query);
  if (std::optional<dberr> e = run(timeout, database)) return *e;
  return dberrCreate();
}

int handle_add(const addhandle& h) {
  kivtrace("handle_add: host='%s' timeout=%d database='%s' table='%s'\n", h.host, h.timeout, h.database, h.table);
  const packet& rec = or_empty(h.rec);
  dberr e = db_add(h.host, h.timeout, h.database, h.table, rec.data, rec.keys);
  if (e.code == 0) return 0;
  std::string msg = e.msg.value_or("");
  if (duplicate_message(msg)) {
    errmsg("The entry you have attempted to create already exists.");
    errmsg("Please change your information and try again.");
    errmsg("The detailed error message is shown below:");
  }
  errmsg("handle_add:Insert Error:\n%s %d", msg, e.code);
  return 1;
}

findreply handle_find(findhandle& h) {
  kivtrace("handle_find: host='%s' timeout=%d database='%s' table='%s'\n", h.host, h.timeout, h.database, h.table);
  if (h.rec) h.copy = *h.rec;
  const packet& rec = or_empty(h.rec);
  std::optional<std::string> data, keys;
  int rowcount = 0;
  dberr e = db_find(h.host, h.timeout, h.database, h.table, rec.data, rec.keys, h.order, data, keys, rowcount);
  findreply reply;
  if (e.code != 0) {
    errmsg("Find Error:\n%s %d", e.msg.value_or(""), e.code);
    reply.errflag = 1;
    return reply;
  }
  if (rowcount > 0) {
    reply.data = std::move(data);
    reply.keys = std::move(keys);
  }
  return reply;
}

int handle_modify(const modifyhandle& h) {
  kivtrace("handle_modify: host='%s' timeout=%d database='%s' table='%s'\n", h.host, h.timeout, h.database,
           h.table);
  dberr e = db_modify(h.host, h.timeout, h.database, h.table, or_empty(h.all), or_empty(h.new_));
  if (e.code == 0) return 0;
  errmsg("Update Error:\n%s %d", e.msg.value_or(""), e.code);
  return 1;
}

int handle_delete(const deletehandle& h) {
  kivtrace("handle_delete: host='%s' timeout=%d database='%s' table='%s'\n", h.host, h.timeout, h.database,
           h.table);
  const packet& rec = or_empty(h.rec);
  std::vector<int> rows;
  int n = getrowcount(rec.data);
  for (int i = 1; i <= n; ++i) rows.push_back(i);
  rows.push_back(0);
  dberr e = db_delete(h.host, h.timeout, h.database, h.table, rec.data, rows, rec.keys);
  if (e.code == 0) return 0;
  errmsg("Delete Error:\n%s %d\n", e.msg.value_or(""), e.code);
  return 1;
}

}  // namespace kiv

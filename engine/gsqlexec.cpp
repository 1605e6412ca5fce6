// Free SQL statements filed into objects by the shape of their dataset name,
// and the address lookups of the three-table model built on them.
#include "engine/gsqlexec.h"

#include <cerrno>
#include <cstdio>

#include "data/dbdriver.h"
#include "data/mailrecords.h"
#include "data/sql_pars.h"
#include "data/webhandle_db.h"
#include "engine/upcommon_ops.h"
#include "engine/upfile.h"
#include "platform/exit.h"
#include "toolkit/base/kivcontext.h"
#include "toolkit/base/kivcgitrace.h"
#include "toolkit/objects/kivobj.h"
#include "toolkit/text/rowcol.h"

namespace kiv {

namespace {

constexpr std::string_view kMenuList = "menulist_";

// The table shape: the scratch file first, so that a file that cannot be
// written leaves the result objects as they were.
int file_table(objlist& list, const std::string& d, const std::string& keys, const std::string& rows) {
  std::string all = keys + rows;
  kivtrace("DATA '%s' = '%s'", d, all);
  const written_file file = write_tmpdatafile(all);
  if (!file.written) {
    const int e = errno;
    errmsg("Cannot write file <%s> errno=%d \n", file.path.empty() ? reqctx().nvhome + "/tmp/tmp_datafile" : file.path, e);
    return -1;
  }
  setobjvalue(list, d + "_data", rows, Origin::record);
  setobjvalue(list, d, all, Origin::record);
  setobjvalue(list, "findresult", all, Origin::record);
  setobjvalue(list, "hidedatafile", hidedatafile_value(file.path), Origin::config);
  setobjvalue(list, "findresultnum", std::to_string(getrowcount(rows)), Origin::config);
  return 0;
}

}  // namespace

KeptSelection keep_selection(const objlist& list) {
  return {objattr(list, "findresult", "VALUE"), objattr(list, "hidedatafile", "VALUE"),
          objattr(list, "findresultnum", "VALUE")};
}

void remove_new_file(const objlist& list, const KeptSelection& k) {
  const std::string made = objtext(list, "hidedatafile.VALUE");
  if (!made.empty() && made != k.file.text) remove_tmpdatafile(made);
}

void put_back(objlist& list, const KeptSelection& k) {
  setobjvalue(list, "findresult", k.rows.text, k.rows.origin);
  setobjvalue(list, "hidedatafile", k.file.text, k.file.origin);
  setobjvalue(list, "findresultnum", k.count.text, k.count.origin);
}

std::string dollar2sep(std::string_view rows) {
  std::string out;
  out.reserve(rows.size() + 20);
  out += "^^^@";
  size_t last = rows.rfind(kRowEnd);
  size_t i = 0;
  while (i < rows.size()) {
    if (rows.compare(i, kRowEnd.size(), kRowEnd) == 0 && i != last) {
      out += kColSep;
      i += kRowEnd.size();
      continue;
    }
    out += rows[i];
    ++i;
  }
  return out;
}

int gsqlexec(objlist& list, std::string_view dataset, std::string_view sql) {
  kivtrace("GSQLEXEC enter\n");
  if (dataset.empty()) {
    errmsg("dataset name is NULL");
    throw Exit{0};
  }
  const std::optional<dbconnection> c = connection_objects(list, false);
  if (!c) return -1;
  if (sql.empty()) {
    errmsg("SQL Error: Query is blank\n");
    return 1;
  }
  int rc = kivodbcexec(nullptr, c->timeout, c->database, std::string(sql));
  if (rc != 0) {
    errmsg("SQL Error: '%s'\n", driver_results().odbcerror);
    return rc;
  }

  const std::string d(dataset);
  const std::string keys = driver_results().odbckey.value_or(std::string());
  const std::string rows = driver_results().odbcdata.value_or(std::string());
  if (d.starts_with(kMenuList)) {
    if (rows.empty()) return 0;
    std::string menu = dollar2sep(rows);
    std::string target = d.substr(kMenuList.size());
    kivtrace("MENU DATA ORIG '%s' = '%s'", d, rows);
    kivtrace("MENU DATA '%s' = '%s'", target, menu);
    setobjvalue(list, target, menu, Origin::record);
    return 0;
  }
  if (!keys.empty()) setobjvalue(list, d + "_key", keys, Origin::record);
  if (rows.empty()) return 0;
  if (d.find("menu") != std::string::npos) {
    std::string menu = dollar2sep(rows);
    kivtrace("MENU DATA ORIG '%s' = '%s'", d, rows);
    kivtrace("MENU DATA '%s' = '%s'", d, menu);
    setobjvalue(list, d + "_data", menu, Origin::record);
    setobjvalue(list, d, keys + rows, Origin::record);
    return 0;
  }
  return file_table(list, d, keys, rows);
}

namespace {

// What tells the two lookups apart.
struct Lookup {
  const char* who;          // "getusermailfromdb", "getstaffmailfromdb"
  const char* login_key;    // the object holding the login
  const char* table_key;    // the object naming the table
  const char* statement;    // the select, with the table and the quoted login
  const char* dataset;
  const char* failed;       // the trace when the statement fails
  const char* address_key;  // the object holding the address afterwards
  bool keep_row;            // keep the names and rows in gmailkeys, gmaildata
};

constexpr Lookup kUser = {"getusermailfromdb", "submitted_by.VALUE", "db_users_table_name.VALUE",
                          "select * from %s where (sub_login='%s')", "xxumail",
                          "user will not be notified becasue sql statement failed '%s'", "sub_e_mail.VALUE",
                          false};
constexpr Lookup kStaff = {"getstaffmailfromdb", "assigned_to.VALUE", "db_staff_table_name.VALUE",
                           "select * from %s where (sa_login='%s')", "xxsmail",
                           "staff will not be notified becasue sql statement failed '%s'", "sa_e_mail.VALUE",
                           true};

std::optional<std::string> lookup(objlist& list, const Lookup& l) {
  std::string login = objtext(list, l.login_key);
  if (login.empty()) {
    kivtrace("%s: User is not defined\n", l.who);
    return std::nullopt;
  }
  std::string table = objtext(list, l.table_key);
  if (table.empty()) {
    kivtrace("%s: Users table is not defined\n", l.who);
    return std::nullopt;
  }
  // The table is configuration but still a name; the login comes from the
  // form and goes in as quoted text, as the generator writes values.
  if (!sql_table_ok(table)) {
    kivtrace("%s: bad table name '%s'\n", l.who, table);
    return std::nullopt;
  }
  std::string sql = sformat(l.statement, table, textnl_or_empty(login));
  // A lookup runs in the table shape, which files its row as a selection of
  // its own: the page after an answer or an assignment still hands on the
  // cases it was given.
  const KeptSelection kept = keep_selection(list);
  const int rc = gsqlexec(list, l.dataset, sql);
  remove_new_file(list, kept);
  put_back(list, kept);
  if (rc != 0) {
    kivtrace(l.failed, sql);
    return std::nullopt;
  }
  const std::string keys = driver_results().odbckey.value_or(std::string());
  const std::string rows = driver_results().odbcdata.value_or(std::string());
  const int count = getcolcount(keys);
  kivtrace("COUNT=%d", count);
  kivtrace("data=%s key=%s", rows, keys);
  if (l.keep_row) {
    mailstate().gmailkeys = keys;
    mailstate().gmaildata = rows;
  }
  const std::string row = getrow_or_empty(rows, 1);
  for (int i = 1; i <= count && !row.empty(); ++i) {
    std::string name = getcol_or_empty(keys, i);
    std::string value = getcol_or_empty(row, i);
    if (!name.empty() && !value.empty()) setobjvalue(list, name, value, Origin::record);
  }
  return getvalfromlist(list, l.address_key);
}

}  // namespace

std::optional<std::string> getusermailfromdb(objlist& list) { return lookup(list, kUser); }

std::optional<std::string> getstaffmailfromdb(objlist& list) { return lookup(list, kStaff); }

}  // namespace kiv

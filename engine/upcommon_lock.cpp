// check_lock and spacestrcmp: the comparison of a record as the form got it
// with the record as the database holds it now.
#include "engine/upcommon_lock.h"

#include "data/dbdriver.h"
#include "data/sql_pars.h"
#include "data/webhandle_db.h"
#include "engine/upcommon_ops.h"
#include "platform/exit.h"
#include "platform/state.h"
#include "toolkit/base/kivcgitrace.h"
#include "toolkit/text/rowcol.h"

namespace kiv {

namespace {

constexpr std::string_view kChanged =
    "Error: You are trying to update a record in the database that has <br>been modified since the time that "
    "you have selected the record. <br>To resolve this error, please try your update operation again from the "
    "beginning.\n";

[[noreturn]] void refuse(std::string_view message) {
  errmsg(message);
  throw Exit{-1};
}

std::string letters(std::string_view text) {
  std::string r;
  for (char c : text)
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) r += c;
  return r;
}

// The id as a statement may carry it unquoted: digits only, blanks and
// tabs around them cut. None for anything else.
std::optional<std::string> whole_number(std::string_view text) {
  size_t b = text.find_first_not_of(" \t");
  if (b == std::string_view::npos) return std::nullopt;
  size_t e = text.find_last_not_of(" \t");
  std::string_view n = text.substr(b, e - b + 1);
  for (char c : n)
    if (c < '0' || c > '9') return std::nullopt;
  return std::string(n);
}

}  // namespace

LockRecord& lockrecord() {
  static LockRecord r;
  KIV_REGISTER_RESET(&reset_lockrecord);
  return r;
}

void reset_lockrecord() { lockrecord() = LockRecord{}; }

int spacestrcmp(std::string_view a, std::string_view b) {
  std::string x = letters(a), y = letters(b);
  kivtrace("Space comparison: val1='%s' val2='%s'", x, y);
  return x.compare(y);
}

int check_lock(const objlist& list) {
  kivtrace("check_lock enter\n");
  reset_lockrecord();  // no record of an earlier check stands for this one
  const std::optional<dbconnection> conn = connection_objects(list);
  if (!conn) throw Exit{-1};  // after the missing object's message
  const int timeout = conn->timeout;
  const std::string& database = conn->database;
  const std::string& table = conn->table;

  kivtrace("BEFORE pre_modifyr\n");
  std::string rec = getvalfromlist(&list, "row2form_rec.VALUE").value_or(std::string());
  if (rec.empty()) refuse("check_lock: row2form_rec is blank");
  int rows = getrowcount(rec);
  if (rows != 2) {
    errmsg("check_lock: Bad record format rowcount=%d \n", rows);
    throw Exit{-1};
  }
  const std::string formkeys = getrow(rec, 1).value_or(std::string());
  const std::string formdata = getrow(rec, 2).value_or(std::string());
  std::string id = getvaluebykey(formdata, formkeys, "id_num").value_or(std::string());
  if (id.empty()) refuse("id_num MUST has value\n");
  // The id goes into the statement as a number: anything else would be SQL.
  std::optional<std::string> number = whole_number(id);
  if (!number) {
    errmsg("Bad number '%s' for column %s\n", id, "id_num");
    throw Exit{-1};
  }
  if (!sql_table_ok(table)) return -1;

  int r = kivodbcexec(nullptr, timeout, database, sformat("select * from %s where (id_num=%s)", table, *number));
  const DriverResults& res = driver_results();
  if (r != 0) {
    errmsg("SQL Error: '%s'\n", res.odbcerror);
    return r;
  }
  const std::string keys = res.odbckey.value_or(std::string());
  const std::string data = getrow(res.odbcdata.value_or(std::string()), 1).value_or(std::string());
  // No row: the record was deleted since the form was built, which is a
  // change as much as any other.
  if (data.empty()) refuse(kChanged);
  LockRecord& kept = lockrecord();
  kept.fetched = true;
  kept.keys = keys;
  kept.data = data;

  const int count = getcolcount(keys);
  kivtrace("COUNT=%d", count);
  for (int i = 1; i <= count; ++i) {
    std::string k = getcol(keys, i).value_or(std::string());
    std::string dval = getcol(data, i).value_or(std::string());
    // A column the form's record does not hold compares as an empty value:
    // it changed when the database holds letters in it.
    std::string fval = getvaluebykey(formdata, formkeys, k).value_or(std::string());
    kivtrace(" K='%s' DVAL='%s' FVAL='%s'", k, dval, fval);
    if (dval == fval || spacestrcmp(dval, fval) == 0) continue;
    errmsg(kChanged);
    kivtrace("check_lock:DBKEY Key='%s'", k);
    kivtrace("check_lock:Old Data='%s'", fval);
    kivtrace("check_lock:Current Data='%s'", dval);
    throw Exit{-1};
  }
  return 0;
}

}  // namespace kiv

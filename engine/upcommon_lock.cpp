// check_lock and spacestrcmp: the comparison of a record as the form got it
// with the record as the database holds it now.
#include "engine/upcommon_lock.h"

#include "data/dbdriver.h"
#include "data/sql_pars.h"
#include "data/webhandle_db.h"
#include "engine/upcommon_ops.h"
#include "platform/exit.h"
#include "toolkit/base/kivcgitrace.h"
#include "toolkit/objects/kivobj.h"
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

// The form's record, row2form_rec.VALUE, as a packet (row 1 its keys, row 2
// its data) with its id_num as a whole number. Ends the process with status
// -1 after its message for a blank or malformed record or a bad id.
struct FormRecord {
  packet shown;
  std::string number;
};

FormRecord read_form_record(const objlist& list) {
  kivtrace("BEFORE pre_modifyr\n");
  std::string rec = objtext(list, "row2form_rec.VALUE");
  if (rec.empty()) refuse("check_lock: row2form_rec is blank");
  int rows = getrowcount(rec);
  if (rows != 2) {
    errmsg("check_lock: Bad record format rowcount=%d \n", rows);
    throw Exit{-1};
  }
  FormRecord form;
  form.shown.keys = getrow_or_empty(rec, 1);
  form.shown.data = getrow_or_empty(rec, 2);
  std::string id = getvaluebykey_or_empty(form.shown.data, form.shown.keys, "id_num");
  if (id.empty()) refuse("id_num MUST has value\n");
  // The id goes into the statement as a number: anything else would be SQL.
  std::optional<std::string> number = whole_number(id);
  if (!number) {
    errmsg("Bad number '%s' for column %s\n", id, "id_num");
    throw Exit{-1};
  }
  form.number = *number;
  return form;
}

// Reads the row `number` of the connection's table into `check.stored`
// (keys and first data row). The driver's non-zero result after "SQL Error:
// '%s'\n", or -1 for a refused table name, in `check.result`. Ends the
// process after kChanged when no row has that id.
void fetch_stored(const dbconnection& conn, std::string_view number, LockCheck& check) {
  if (!sql_table_ok(conn.table)) {
    check.result = -1;
    return;
  }
  int r = kivodbcexec(nullptr, conn.timeout, conn.database,
                      sformat("select * from %s where (id_num=%s)", conn.table, number));
  const DriverResults& res = driver_results();
  if (r != 0) {
    errmsg("SQL Error: '%s'\n", res.odbcerror);
    check.result = r;
    return;
  }
  packet stored;
  stored.keys = res.odbckey.value_or(std::string());
  stored.data = getrow_or_empty(res.odbcdata.value_or(std::string()), 1);
  // No row: the record was deleted since the form was built, which is a
  // change as much as any other.
  if (stored.data.empty()) refuse(kChanged);
  check.stored = std::move(stored);
}

// Compares the stored record column by column with the form's; ends the
// process after kChanged at the first column that changed.
void compare_records(const packet& stored, const packet& shown) {
  const int count = getcolcount(stored.keys);
  kivtrace("COUNT=%d", count);
  for (int i = 1; i <= count; ++i) {
    std::string k = getcol_or_empty(stored.keys, i);
    std::string dval = getcol_or_empty(stored.data, i);
    // A column the form's record does not hold compares as an empty value:
    // it changed when the database holds letters in it.
    std::string fval = getvaluebykey_or_empty(shown.data, shown.keys, k);
    kivtrace(" K='%s' DVAL='%s' FVAL='%s'", k, dval, fval);
    if (dval == fval || spacestrcmp(dval, fval) == 0) continue;
    errmsg(kChanged);
    kivtrace("check_lock:DBKEY Key='%s'", k);
    kivtrace("check_lock:Old Data='%s'", fval);
    kivtrace("check_lock:Current Data='%s'", dval);
    throw Exit{-1};
  }
}

}  // namespace

int spacestrcmp(std::string_view a, std::string_view b) {
  std::string x = letters(a), y = letters(b);
  kivtrace("Space comparison: val1='%s' val2='%s'", x, y);
  return x.compare(y);
}

LockCheck check_lock(const objlist& list) {
  kivtrace("check_lock enter\n");
  const std::optional<dbconnection> conn = connection_objects(list);
  if (!conn) throw Exit{-1};  // after the missing object's message
  const FormRecord form = read_form_record(list);
  LockCheck check;
  fetch_stored(*conn, form.number, check);
  if (check.stored) compare_records(*check.stored, form.shown);
  return check;
}

}  // namespace kiv

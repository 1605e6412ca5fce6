// Record locks without a lock: before a modify or a respond writes a case,
// check_lock reads the record again and compares it with the record the form
// was built from (row2form_rec.VALUE). A record that another request changed
// or deleted meanwhile stops the request. The record it read stays available
// to the operation that called it, as the old record of the update.
#pragma once

#include <string>
#include <string_view>

#include "toolkit/objects/kivobj.h"

namespace kiv {

// The record check_lock last read from the database, one instance per
// process; tests reset it with reset_lockrecord(). `fetched` is true once a
// check read the row; `keys` is then the result's column names as one row and
// `data` its data row, both in row/column text ("^@" between columns, "^$"
// after each row), as the driver gave them. A modify or respond that ran
// check_lock takes these as the old record instead of the form's copy.
struct LockRecord {
  bool fetched = false;
  std::string keys;
  std::string data;
};

LockRecord& lockrecord();
void reset_lockrecord();

// Compares the two texts reduced to their letters (A to Z, a to z; every
// other character dropped): <0, 0 or >0 as strcmp of the reduced texts.
int spacestrcmp(std::string_view a, std::string_view b);

// Reads the record whose id_num the form's record holds from the table of
// the connection objects and compares it column by column with the form's
// record: a column counts as changed when the texts differ and also differ
// in their letters (spacestrcmp). A column of the result that the form's
// record lacks is compared as an empty value.
// 0: unchanged (the record is kept in lockrecord()). The driver's non-zero
// result after "SQL Error: '%s'\n", or -1 after the generator's refusal of
// the table name: the caller goes on without the check.
// Ends the process with status -1 after its message for a missing connection
// object, a missing or malformed form record, an id_num that is not a whole
// number, and a record changed or deleted since the form was built.
int check_lock(const objlist& list);

}  // namespace kiv

// Record locks without a lock: before a modify or a respond writes a case,
// check_lock reads the record again and compares it with the record the form
// was built from (row2form_rec.VALUE). A record that another request changed
// or deleted meanwhile stops the request. The record it read goes back
// to the operation that called it, as the old record of the update.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "data/packet.h"
#include "toolkit/objects/kivobj.h"

namespace kiv {

// What check_lock gives: `result` 0 when the record is unchanged, else the
// driver's non-zero result or -1 (see check_lock); `stored` the record read
// from the database, its column names as one row in `keys` and its data row
// in `data` (row/column text as the driver gave them), present only when the
// check read the row. A modify or respond takes it as the old record.
struct LockCheck {
  int result = 0;
  std::optional<packet> stored;
};

// Compares the two texts reduced to their letters (A to Z, a to z; every
// other character dropped): <0, 0 or >0 as strcmp of the reduced texts.
int spacestrcmp(std::string_view a, std::string_view b);

// Reads the record whose id_num the form's record holds from the table of
// the connection objects and compares it column by column with the form's
// record: a column counts as changed when the texts differ and also differ
// in their letters (spacestrcmp). A column of the result that the form's
// record lacks is compared as an empty value.
// 0: unchanged (the record read is in `stored`). The driver's non-zero
// result after "SQL Error: '%s'\n", or -1 after the generator's refusal of
// the table name: the caller goes on without the check.
// Ends the process with status -1 after its message for a missing connection
// object, a missing or malformed form record, an id_num that is not a whole
// number, and a record changed or deleted since the form was built.
LockCheck check_lock(const objlist& list);

}  // namespace kiv

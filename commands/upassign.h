// The assignment command: every case of a selection assigned to one staff
// member, or released back to the open status.
#pragma once

#include <string>
#include <vector>

#include "toolkit/request/kivexfile.h"

namespace kiv {

// up_assign <template> [-d]. No usage check. The request goes onto the
// objects; assigned_to.VALUE is the new staff member (trace "STAFFF=%s"),
// and the form is cleared (writeblankpage). The cases are the rows of the
// scratch data file hidedatafile.VALUE names (only the request's own,
// hidedatafile_path), row 1 naming the columns:
// - no hidedatafile.VALUE, or fewer than 2 rows: "No records to Assign.
//   Illogical condition. Please try again", status -1;
// - a file that cannot be read or is not the request's: "No records read
//   from temp file. Illogical condition. Please try again", -1.
// For each row in order: sub_e_mail.VALUE and sa_e_mail.VALUE are emptied
// (so that a case whose users or staff row is missing mails nobody of the
// case before), the header and the row go onto the objects (readdb2obj,
// where a request may set) and into row2form_rec.VALUE, and the request on
// again. With a new staff member and no row-number object (row_number), it
// becomes assigned_to.VALUE and that member's staff profile lays its
// non-empty values over the case; without one assigned_to.VALUE is
// emptied. Exactly three words with "-d" release: status.VALUE :=
// open_state.VALUE, else the open status name; otherwise status.VALUE :=
// assigned_state.VALUE when that is set. Then the case engine's respond
// with engineflags().doingassign (no log appended) and multiassignflag (the
// addresses looked up for every case): a failure shows "Assign failed.Try
// Again." and gives 1, the cases before it staying changed. Last the page
// of the template; status 0 whatever it gives.
int up_assign(const std::vector<std::string>& words, exlist* request);

}  // namespace kiv

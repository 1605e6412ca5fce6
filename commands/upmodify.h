// The commands that store a case shown on a form: the change by its
// submitter (or the plain change of a record, which trusts the form), and
// the answer by staff.
#pragma once

#include <string>
#include <vector>

#include "toolkit/request/kivexfile.h"

namespace kiv {

// up_modify <template> [<word>]. The request goes onto the objects;
// row2form_rec.VALUE, the record the form was built from, must be non-empty
// ("Missing OBJ_CAST_REC \n", status -1) and of exactly two rows
// ("pre_modify: Bad record format \n", -1). The record goes onto the objects
// (only where a request may set: it came with the request), problem.VALUE
// is emptied (the stored text comes back through the log) and the request
// goes on again, so the submitted values win. Exactly three words run the
// plain modify (gmodify: no owner check, lock, hooks or mail), any other
// count the case engine's modify (trace "gflag==%d"). A failure shows
// "Modify failed" and gives 1; else the page of the template gives the
// status. A form value holding "^@", "^$" or "^^" stops it first
// ("Invalid characters in '%s'\n", "Modify failed", 1), row2form_rec apart.
// Fewer than 2 words: "Wrong usage: upmodify templatefile\n", status 2.
int up_modify(const std::vector<std::string>& words, exlist* request);

// up_respond <template>. The request goes onto the objects; when
// assigned_to.VALUE names someone, that staff member's profile lays its
// non-empty values over the form (defaultdb2obj; traces "Calling the staff
// default\n", "Calling the staff default 1\n" and "Calling the staff
// default: Staff has defaults\n"); then the case engine's respond. A
// failure shows "Modify failed" and gives 1; else the page of the template
// gives the status. Form values are checked for separators as in up_modify.
// Fewer than 2 words: "Wrong usage: upmodify templatefile\n", status 2.
int up_respond(const std::vector<std::string>& words, exlist* request);

}  // namespace kiv

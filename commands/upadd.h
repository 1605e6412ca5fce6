// The add command: the one case a submitted form describes, a plain record
// with -g, or a batch of cases from the rows of a data file.
#pragma once

#include <string>
#include <vector>

#include "toolkit/request/kivexfile.h"

namespace kiv {

// up_add <template> [-g | <data file>]. The word count alone chooses the
// mode: 2, or 4 and more, the standard add (the case engine's add); 3 with
// "-g" the plain add (gadd); 3 with any other word the batch add. Fewer than
// 2 words: "Wrong usage: upadd templatefile\n", status 2. `request` may be null
// (the dispatcher's console mode). In every mode a form value that holds a
// row/column separator ("^@", "^$", "^^") stops the add first:
// "Invalid characters in '%s'\n" (check_separators), "Submit Error: \n",
// status 1, nothing stored.
//
// Standard and plain add: a failed add shows "Submit Error: \n" and gives 1;
// else the submitter's user profile is written from the form
// (adduserdefaults), unless the request has a login that is not the
// submitted_by.VALUE (one user never rewrites another's profile), and the
// page of the template gives the status.
//
// Batch add: the rows come from the scratch data file hidedatafile.VALUE
// names (only such a file, hidedatafile_path: any other path, or a file that
// cannot be read, gives "upadd1:No records read from temp file. Illogical
// condition. Please try again" and -1), else from the file the third word
// names ("upadd2:..." and -1). Row 1 names the fields; with fewer than 2
// rows: "No records to add. Illogical condition. Please try again", -1. The
// header's first column becomes the one required field (enforce_fields).
// For each data row in file order: the form is cleared (writeblankpage);
// the defaults of bc_submit_default_keys (TITLE the names, VALUE the values;
// "TODAY" for today's date) are set; each non-empty value of the row
// becomes the VALUE of the object its column names, as a form would set it
// (never onto protected configuration), over the defaults; an empty column
// leaves the default; then the case engine's add. A row whose column count
// differs from the header's, and a failed add, show their messages and
// "Submit Error: \n" and give 1: the rows before stay added, the rest are
// not tried. Then the page gives the status. The batch writes no profile.
int up_add(const std::vector<std::string>& words, exlist* request);

}  // namespace kiv

// The delete command: from the web, the cases of a selection or one
// attachment of a case; from a console, the cases a case number or pairs of
// field and value find.
#pragma once

#include <string>
#include <vector>

#include "toolkit/request/kivexfile.h"

namespace kiv {

// up_delete. With SERVER_NAME in the environment it is the web command
// (trace "Using the web interface\n"; no usage check, the request onto the
// objects):
// - delete_attachment_num.VALUE set: that attachment of its case is
//   deleted (trace "Deleteing attachment", delete_attachment), the page
//   follows, status 0;
// - otherwise the form is cleared and the cases are the rows of the scratch
//   data file hidedatafile.VALUE names (the request's own): "No records to
//   delete. Illogical condition. Please try again" without a file or with
//   fewer than 2 rows, "No records read from temp file. Illogical
//   condition. Please try again" for a file that cannot be read; -1. Every
//   row's key is checked before anything is deleted: the id_num column (or,
//   where row_number names one, that column) must hold a whole number
//   (any text for a row-number column), else "Bad record key '%s' in row
//   %d: nothing was deleted\n" and -1. Then each case is deleted by that key
//   alone, as an exact criterion; a failure shows "Delete failed." and gives
//   1, the cases before it deleted. The page follows; status 0.
// Without SERVER_NAME it is the console command, messages on standard
// output and standard error, no page:
//   up_delete <case number> | up_delete <field> <value> [<field> <value>]...
// - fewer than 2 words: "Wrong Usage\n", "Usage1: %s case number\n" and
//   "Usage2: %s dbkey1 value1 dbkey2 value2 ......\n" on standard error, 2;
// - an even count of words: "Bad dbkey value pair\n" on standard error, -1;
// - the form cleared, case_num.VALUE := "==<number>" (or each <field>.VALUE
//   := "==<value>"), then the find; none found: "Find of case '%s' failed\n"
//   on standard error, 0;
// - more than one case found: "Found %d case(s). Do you want to continue to
//   delete (y/n):" on standard output and one line read from standard input
//   (trace "ANSWER='%s'\n"); unless it is "y" or "Y", "Nothing deleted\n"
//   and 0;
// - each found case is deleted by its key as the web command deletes it
//   (every key checked first: a found row without one deletes nothing, as
//   above, -1): "Deletion is successful for record=%d\n" on standard error
//   for each, or "Delete Error \n" on standard output and 1 at the first
//   that fails. Then 0.
int up_delete(const std::vector<std::string>& words, exlist* request);

}  // namespace kiv

// The confirmation page of a selection: the rows a person ticked or typed on
// a list page are kept in a scratch data file of their own for the next
// command (a report, a batch add, an assignment), the page's query macros
// run, and the page shows what was picked.
#pragma once

#include <string>
#include <vector>

#include "toolkit/request/kivexfile.h"

namespace kiv {

// up_confirmprint <template>: the shared start-up with the request copied
// onto the objects; the selected rows (filter_data). No selection at all:
// "Please, check your record selection and try again.", status 1; the names
// row alone: "No record has been selected.\nPlease make a selection.",
// status 0, and no scratch file. Otherwise the rows go into a new scratch
// data file bound to the request (write_tmpdatafile; "Can't write file '%s'
// errno=%d\n" and status 0 when it cannot be written), and
// hidedatafile.VALUE, findresult.VALUE and findresultnum.VALUE become its
// path relative to the home (hidedatafile_value), the rows and their
// number. Then the query macros (runsqlqueries);
// a table-shaped one fills its own dataset objects, while those three stay
// the selection's, so the next page acts on the rows picked. Last the page,
// whose status is the request's. Fewer than 2 words: "Wrong usage:
// up_confirmprint templatefile\n", status 2.
int up_confirmprint(const std::vector<std::string>& words, exlist* request);

}  // namespace kiv

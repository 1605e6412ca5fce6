// Row selection and report files: after a find the found rows lie in a
// scratch data file named by hidedatafile.VALUE; the person ticks rows
// (selrow_N objects, N counting the data rows from 1) or types a range
// (select_range.VALUE, such as 1-3,5,7--9) or takes them all
// (select_all.VALUE), and filter_data cuts the chosen rows out of that file
// for the next page. getprintfilename picks the report file of the report
// title a menu chose.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "toolkit/objects/kivobj.h"

namespace kiv {

// The selected rows of the scratch data file hidedatafile.VALUE names, as
// row/column text with the file's names row first, or none after a message:
// - no hidedatafile.VALUE: "No data for object '%s'\n" ("hidedatafile");
// - a file that cannot be read, or that is not the request's own scratch
//   file (hidedatafile_path): "No data for object '%s' from file %s\n"
//   ("hidedatafile", the path);
// - select_all.VALUE set: the whole file;
// - select_range.VALUE set: range2obj marks its rows first (none when it
//   gives anything but 0, its message shown);
// - an empty names row: "BAD SELECT DATA\n";
// - then every object whose NAME begins with "selrow", whatever its VALUE,
//   in the order of the list, picks data row N of "selrow_N": N must be
//   digits only, from 1 to the highest row ("BAD SELECT ROW NAME. Must have
//   '_'\n" without a "_", "BAD SELECT ROW NAME. Must have int after '_'\n"
//   otherwise). Each row comes once, at the place of the first object that
//   picks it.
// Traces "data_filter='%s'" and " data_filter MAXROWCOUNT=%d".
std::optional<std::string> filter_data(objlist& list);

// Marks the rows of a typed selection: the text split at every "," (a
// trailing "," adds no item; each item traced "TOCK=%s"), each item a row
// number n (addrange n to n) or a range "a-b" or "a--b" ("a-" is a alone),
// numbers read as atoi reads them. 1 with nothing to do (no row, or an
// empty text: trace "Bad Range NULL\n"); -1 at the first item addrange
// refuses (the rows of the items before it stay marked); else 0.
int range2obj(objlist& list, std::string_view text, int highest);

// Marks rows first to last: selrow_i.VALUE := "checked" for each. -1 after
// "range '%d-%d' exceed max row='%d'" and "range must be less or equal to
// max records" when either is above `highest`; after "range '(%d)-(%d)' can
// not be negative or zero" when either is below 1; after "range '(%d)-(%d)'
// start row number is larger than end row number " when first > last. 0.
int addrange(objlist& list, int first, int last, int highest);

// The report file of the title reports_menu.VALUE chose: the value at that
// title's place in reports.VALUE among the titles of reports.TITLE
// (title2var). None after "Missing print object '%s'\n" ("reports_menu"),
// "Missing report titles for '%s' object \n", "Missing report values for
// '%s' object \n" ("reports") when a piece is missing, or "Inconsistent
// report object '%s'\n" ("reports") when the title gives no file.
std::optional<std::string> getprintfilename(const objlist& list);

}  // namespace kiv

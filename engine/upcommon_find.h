// Finding cases: the find of the search form or of one record's text, its
// pre- and post-steps, and the removal of the scratch file a find filed.
#pragma once

#include <string_view>

#include "data/webhandle_db_ops.h"
#include "toolkit/objects/kivobj.h"

namespace kiv {

// Finds the cases the search form describes: the connection objects (-1);
// the order (getsortlist; in chart mode, engineflags().chartflag, it is also
// kept as engineflags().chartkey, and no order stops the find with "No
// Chart Key define." and 1; no order means " ", no ordering); pre_find (1
// after "Pre find failed\n"); every DBKEY object of the form as a criterion
// (obj2db, "^^" meaning none); primary_func and join_func; handle_find (1
// after "Find operation failed\n"); then post_find's result.
int find(objlist& list);

// As find, for the one record of a two-row record text (names, then values)
// as criteria instead of the form, and without a chart key: 1 after
// "row2formfind Bad record format \n" when the text has not exactly 2 rows.
int row2formfind(objlist& list, std::string_view record);

// The hook point before a find. 0.
int pre_find(objlist& list);

// Files what a find found. No rows (or no column names): "No record to
// display\n" unless engineflags().finderror is set, 1. In chart mode:
// findresultnum.VALUE := the number of rows, a new chart file
// (gen_chartfile) gets the chart of the chartkey column (producechartdata),
// and chartfile.VALUE := its path, unless the key names no date column and
// chart_sort_by_value.VALUE is "ON", when sortchartbyvalue reorders the
// file and sets it; -1 after "Cannot open file <%s> errno=%d \n" when the
// file cannot be made, or "Cannot write file <%s> errno=%d \n" when it does
// not take the chart whole. Otherwise the names row and the rows go into a
// new scratch data file (gen_tmpdatafile), -1 after "Cannot write file <%s>
// errno=%d \n" when it cannot be written (and no file is left); then
// findresult.VALUE := that text, hidedatafile.VALUE := the file's path
// relative to the home (hidedatafile_value) and findresultnum.VALUE := the
// number of rows. 0 done.
int post_find(findhandle& handle, const findreply& reply, objlist& list);

// Removes the scratch data file (and its owner file) a find filed in
// hidedatafile.VALUE, for a run that shows no next page (a console run, an
// export), and clears hidedatafile. A value that names no scratch data file
// of the home (hidedatafile_path) is only cleared.
void remove_find_file(objlist& list);

}  // namespace kiv

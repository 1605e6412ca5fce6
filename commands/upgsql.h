// The query macros a page asks for (sqlquery1, sqlquery2 ... each a
// "<dataset>=<SQL>" text or the name of a configured "query_" macro holding
// one), the stored-query page that shows their results, and the chart page:
// the find of the search form with the chart mode on.
#pragma once

#include <string>
#include <vector>

#include "toolkit/request/kivexfile.h"
#include "toolkit/objects/kivobj.h"

namespace kiv {

// The query macro loop over the objects: for N = 1, 2, 3 ... while
// sqlquery<N>.VALUE has a value, the text of the slot (or, when the slot
// begins with "query_", the VALUE of the macro object it names) is split at
// its first "=" into a dataset name and a statement, which gsqlexec runs and
// files under that name. A macro without a value shows "Wrong syntax for
// macro sqlquery<N>\n", a text without "=" "Wrong syntax for sqlquery%d\n";
// both go on with the next slot, and a failed query does not stop the loop
// either. A request can only point a slot at a configured macro
// (request_may_set), never write SQL into it. The result of the last query
// that ran (gsqlexec's: 0 for success); 0 when none ran.
int runsqlqueries(objlist& objs);

// up_gsql <template> [<error page>]: the shared start-up, the request onto
// the objects, the query macro loop, and the page. When the last query that
// ran failed: the error page (the third word's, else finderror.html when it
// exists, both under client/kivhtml/tk) or, without one, "No records
// found\n"; status 1 either way. With no macro at all the page is shown.
// Fewer than 2 words: "Wrong usage: upgsql templatefile\n", status 2. The
// error-page flag (engineflags().errorpageflag) says whether there is an
// error page.
int up_gsql(const std::vector<std::string>& words, exlist* request);

// up_chart <template>: the find of the search form (the request onto the
// objects, the stored query of sql_control) with the chart mode on: the
// chart file of the chosen sort field's values (chartfile.VALUE), and its
// records also in chartresult.VALUE under the header row "title^@value^$",
// so that a page can draw the bars as a table. A failed find: "No records
// found\n", status 1. Fewer than 2 words: "Wrong usage: upfind
// templatefile\n", status 2. Else the page's status.
int up_chart(const std::vector<std::string>& words, exlist* request);

}  // namespace kiv

// The record transfer's command: every record of the case table of the data
// source its argument names added again to the configured case table. No
// command word of the dispatcher leads to it; the console program up_trans
// runs it.
#pragma once

#include <string>
#include <vector>

#include "toolkit/request/kivexfile.h"

namespace kiv {

// up_trans <source data source>. Fewer than 2 words: "Wrong usage: up_trans
// db_remot_host\n" on standard error, status 2. Otherwise get_prog_param and
// loadobj (the request, if any, is not copied onto the objects), the source
// kept as engineflags().remotehost, and transfer; no page. The status: 0
// when every record was added, 1 when tk_obj cannot be read, a connection
// object is missing or a record was not added (transfer ends the process
// itself with 1 for a source that is the target and for a failed find).
int up_trans(const std::vector<std::string>& words, exlist* request);

}  // namespace kiv

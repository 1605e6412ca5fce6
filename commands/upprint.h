// The print command: a report over the cases a person picked, shown
// through the report page chosen from the report menu.
#pragma once

#include <string>
#include <vector>

#include "toolkit/request/kivexfile.h"

namespace kiv {

// up_print [<word>...]: no usage check; the words are not used, the page
// comes from the report menu. The request goes onto the objects. The
// report file is the one the title reports_menu.VALUE chose among
// reports.TITLE (getprintfilename): without one, its message (trace "BAD
// REPORT FILE NAME\n"), no page, status 1. The data is the whole scratch
// data file hidedatafile.VALUE names (only the request's own; none at all
// otherwise). The file's name chooses the report: holding "elapse" or
// "Elapse" the elapsed-time report (day first under the "dmy" date format),
// whose averages become av_r_time.VALUE, av_a_time.VALUE, av_l_time.VALUE
// and elapse_total_recs.VALUE and whose table replaces the data; "percent"
// or "Percent" the percentage report; "trend" or "Trend" the trend report;
// any other name none. printresult.VALUE := the data (marked as record
// text). The page is "<home>/<report file>"; its status is the request's.
int up_print(const std::vector<std::string>& words, exlist* request);

}  // namespace kiv

// The export tool dumprow: cases found by a filter on its command line,
// each written through an export template into an HTML file of its own, or
// one percentage report of them. Its arguments play the part of the form.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/output.h"

namespace kiv {

// A filter word's value as the find gets it. "TODAY" in any mix of case is
// today's date as the help desk writes dates (getdate1); a value holding
// "TODAY-" (or "TODAY+", with that case) followed by a number N (scan_int)
// is replaced by the range from N days ago to today (from today to N days
// ahead), both local dates of the engine's clock written "%m/%d/%Y" whatever
// the date format, joined by "--". Told on `progress` as they are met:
// "TODAY", "OTDAY-" or "OTDAY+", then "casenum=<range>", none with a line
// end. Without a number after the marker, or when the other day has no
// local date, the value stays as typed.
std::string dumprow_filter_value(std::string_view value, Sink& progress);

// The whole program over its words (words[0] the program's name as given):
//
// - fewer than 3 words (the template and the output folder are both
//   needed): the seven usage lines on standard output, 2;
// - DATE and SCRIPT_NAME, the home (getproducthome ends the process with 1
//   when there is none), the objects (1 when tk_obj cannot be read); an
//   output folder that is no folder: "<folder>: <system message>\n" on
//   standard error, 1, before any find;
// - the form cleared (writeblankpage); the template word split
//   "<template>[:<table>[:<stored query>]]" into db_table_name.VALUE and
//   sql_control.VALUE (an empty part leaves its object as configured); the
//   filter pairs from words[3] (dumprow_filter_value; a last name without a
//   value is ignored); sql_control, find ("No records found\n" in the page
//   and 1 when it fails);
// - percent mode (the template name holds "percent" or "Percent"): the
//   percentage report over the found rows, printed through
//   "<home>/<template>" into "<folder>/percent_report_export_<m-d-Y>.html";
//   otherwise the case export (export_found_cases over
//   "<home>/client/kivhtml/tk/<template>"), its lines and failures on
//   standard error. 0 when every file was written, else 1.
int dumprow(const std::vector<std::string>& words);

}  // namespace kiv

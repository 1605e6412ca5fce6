// Chart data: the chart command's find counts the found cases per value of
// one column (the chart key) into a chart file that the chart templates
// draw: one record "label^@count^$" per distinct value, all on one line,
// then a line end. A key containing "date" makes a chart per month.
#pragma once

#include <cstdio>
#include <ctime>
#include <string>
#include <string_view>

#include "toolkit/base/kivio.h"
#include "toolkit/objects/kivobj.h"

namespace kiv {

// A new chart file "<home>/tmp/chartfile.<time>", created empty, exclusively
// and never through a link (mode 0600), so that two charts of the same
// second never share one: when the name is taken, ".<n>" is added with the
// next free n. `file` is open for writing; null when the file cannot be
// made (errno set), with `path` the name that was tried, for the message.
struct chartfile {
  std::string path;
  FilePtr file;
};
chartfile gen_chartfile(std::time_t now);
chartfile gen_chartfile();

// A date of a chart value.
struct chartdate {
  int month = 0;
  int day = 0;
  int year = 0;
};

// Reads a date as three numbers "%d/%d/%d" into month, day and year (day,
// month and year when the date format is dmy, settings().idateflag); fields
// not read stay 0. The count of numbers read.
int ctotime(std::string_view text, chartdate& date);

// The month label of a date, "%s %d" with the month's abbreviated English
// name and the year ("Jan 2000"), or "Blank" when the text gives no month
// from 1 to 12.
std::string getsortmonth(std::string_view text);

// The chart order of two values: compared without regard to case, larger
// first (Z before A) in the Windows flavour, smaller first in the Linux one.
// <0 when a comes first, 0 when they are equal, >0 when b comes first.
int kivchartstrcmp(std::string_view a, std::string_view b);

// The order of two dates (ctotime): by year, then month, then day, earlier
// first; <0, 0 or >0.
int kivchartdatecmp(std::string_view a, std::string_view b);

// Writes the chart of column `key` of the found rows (row/column text
// without a header; `keys` the result's column names) to `chart`: each value
// trimmed ("Blank" when empty, and in a date chart when it gives no month)
// and sorted (dates by kivchartdatecmp, others by kivchartstrcmp), one record
// per run of equal labels (the month label in a date chart; compared without
// regard to case) with the run's first label,
// then "\n". 0; -1 after "Bad chart key\n" for an empty key, for no rows, and
// when the file did not take the text.
int producechartdata(std::FILE* chart, std::string_view rows, std::string_view keys, std::string_view key);

// Reorders the records of the chart file by their counts (kivsort's INT
// order, which depends on the flavour), writes them back with the closing
// "\n" and sets chartfile.VALUE to the path. The result of setting it, or -1
// when the file cannot be read or written (after the file helpers' messages).
int sortchartbyvalue(objlist& list, const std::string& path);

}  // namespace kiv

// The reports over a selection of cases (row/column text, names row first):
// the elapsed times between the stamp lines of each case's problem text,
// the share of each value of chosen fields, and the trend table that counts
// two fields against each other. The print command shows them through its
// report pages; the export tool writes the percentage report into a file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "toolkit/objects/kivobj.h"

namespace kiv {

// The most stamp lines read from one case's problem text, and the most
// fields one percentage report counts.
inline constexpr int kStampsPerCase = 250;
inline constexpr int kPercentFieldsMax = 100;

// What the elapsed-time report gives: the new table and the four averages.
struct ElapseReport {
  std::string table;
  std::string av_r_time, av_a_time, av_l_time;  // "%dd:%dh:%dm:%ds", or "0"
  std::string total_recs;                       // the cases averaged, or "0"
};

// The elapsed-time report of `data`. Its table begins with the names row
// "r_time^@a_time^@l_time^@rs_time^@rr_time^@rl_time^@" followed by the
// data's names row; then, for each data row whose problem column is not
// empty (the others are left out, trace "Skiping a ticket. no problem field
// found\n"), the six values and "^@" in front of the row. The times are
// those of the stamp lines of the problem text: its trimmed lines that begin
// with "[" and end with "]", at most kStampsPerCase, each giving a date (the
// first number the day when `dayfirst`, else the month; a year up to 1900
// counted from 1900) and a time of day with AM or PM after the status a
// stamp line carries, whatever blanks the status holds (a line without "-"
// reads its date after its first word). A line that gives no valid date and
// time is passed over (trace "can't convert time\n"). With t1, t2 and tn
// the first, second and last time: r_time = t2 - t1, a_time = tn - t2 and
// l_time = tn - t1 as "%dd:%dh:%dm:%ds", all zero with fewer than two times
// or when t2 < t1 or tn < t2; rs_time, rr_time and rl_time those times in
// the 24-character form "Www Mmm dd hh:mm:ss yyyy" of ctime, or "0" where
// there is none (rr_time and rl_time with fewer than two times or t2 < t1,
// rl_time also when tn < t2). The averages are the whole means of r, a and
// l over the cases with l above 0, and their number; "0" each with none.
// Empty data gives an empty table and empty averages.
ElapseReport elapsereport(std::string_view data, bool dayfirst);

// The percentage report of `data` over the fields percent_report_fields.VALUE
// names (a row), or, without it, every object in list order whose NAME
// begins with "date_" or is assigned_to or submitted_by, or that has a
// DBKEY and TYPE "MENU"; only fields that are columns of the data count, at
// most kPercentFieldsMax. report_total.VALUE := the number of data rows.
// For each field, its trimmed values (an empty one as "Blank") are sorted,
// date fields (a name holding "date" or "last_mod") by the date they read
// as, others by byte value, and neighbours equal in any case are one group;
// a date field's values are compared as shown, "%A %m/%d/%Y" ("%A
// %d/%m/%Y" under the "dmy" date format; two-digit years below 70 are
// 20xx, others 19xx), "Blank" for one that is no date, so that one day is
// one group. tblresult_<field>.VALUE := the table
// "fieldvalue^@num^@percent^$" and a row per group in sorted order: its
// first value as shown, its count and its share of the rows ("%.2f"), the
// values marked as record text. -1 for empty data (nothing stored); 0.
int PercentReport(objlist& list, std::string_view data);

// The trend report of `data`: report_total.VALUE := the number of data
// rows; for each row of trend_report_fields.VALUE naming an x field and a y
// field (columns 1 and 2), <x>_<y>_table.VALUE := an HTML table counting
// the data rows by their x value (the columns) and y value (the rows), with
// row and column totals. Each axis holds every distinct trimmed value (an
// empty one as "Blank"), sorted as the percentage report sorts, values
// equal in any case merged into the first of them; each data row counts in
// the group its value was merged into, so the grand total is
// report_total. Values and titles (a field's TITLE, else its name) are
// HTML-escaped; the table itself is the program's markup. Rows alternate
// plain and grey from the first row of the first table on. A row naming
// fewer than two fields is passed over (trace "bad x y keys\n") and its
// table set empty. No trend_report_fields.VALUE: "bad xy_report_fields\n",
// 0. Empty data: every table the rows name set empty, -1.
int trendreport(objlist& list, std::string_view data);

}  // namespace kiv

// The calendar command: found cases shown in a month calendar. The handler
// works out the grid of the month the form names, finds the cases whose
// date falls in that month and fills objects for the page: the month's
// names and dates, the day number and date of each of the 42 cells, and per
// cell a small table of its cases, each with a colour chosen by a field's
// value. The page template lays the cells out.
#pragma once

#include <string>
#include <vector>

#include "toolkit/request/kivexfile.h"

namespace kiv {

// up_cal <template> [ignored]: fewer than 2 words: "Wrong usage: upadd
// templatefile\n", status 2. After get_prog_param and loadobj the form is
// cleared (writeblankpage) and the request copied onto it (ex2obj).
//
// _cal_view.VALUE: "Monthly" makes the month calendar; "Weekley" and "Daily"
// make none (the page is still shown); empty: "Not supported view"; any
// other: "Not supported view=%s". _cal_date.VALUE is a day of the month to
// show, three numbers joined by "/" (day first under the "dmy" date format,
// else month first): empty: "_cal_date is not present"; without two "/":
// "_cal_date is corrupted"; then "Bad day number=%s" (1 to 31), "1Bad month
// number=%s" or "2Bad month number=%s" (1 to 12; 1 or 2 by the month's
// place), "Bad year number=%s" (1900 to 3000).
//
// The month: its cases are found with the range from its first day to the
// end of its last (23:59:59) as the criterion of the field _cal_control.TITLE names (with
// sql_control and the fixed values of _cal_static_filter.VALUE, a two-row
// record, laid on with vdb2obj); a find that finds nothing leaves every cell
// empty. Each case goes to the cell of its date (read as three numbers in
// the configured order, so a time behind it does not matter), in find
// order; its colour is the colour of the first row of _cal_color_code.VALUE
// whose value equals the case's value of the column _cal_control.CONTROL
// names ("black" for none, and for a row without a colour); its row holds
// the date, the colour and every column _cal_control.VALUE names. The
// configuration's faults end the request with status 0 after their message,
// before any page: "_cal_control.TITLE is EMPTY", "Bad key for dataset
// keys='%s' key='%s'\n" (the result lacks the date column), and, when the
// month has cases, "_cal_control.CONTROL is EMPTY", "Bad key for color
// dataset key=\n" and "no _cal_control.VALUE object. Exiting". The other
// refusals above end with status 0 after their message as well.
//
// The calendar's objects (_cal_cm, _cal_scm, _cal_cy, _cal_pm, _cal_nm,
// _cal_py, _cal_ny, _cal_spm, _cal_snm, _cal_m1 to _cal_m12, _cal_today and
// the cells _cal_md<c>, _cal_pmd<c>, _cal_nmd<c>) make a list of their own,
// printed in front of the case objects. Returns 0, whatever the page gives.
int up_cal(const std::vector<std::string>& words, exlist* request);

}  // namespace kiv

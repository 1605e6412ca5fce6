// The calendar command: the month grid from a year record, the search over
// the shown month, and the cells filled with the found cases.
#include "commands/upcal.h"

#include <array>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>

#include "commands/upskeleton.h"
#include "engine/upcommon_find.h"
#include "engine/upcommon_query.h"
#include "engine/upflags.h"
#include "engine/upobjdb.h"
#include "engine/uprowwalk.h"
#include "platform/exit.h"
#include "toolkit/base/kivcgitrace.h"
#include "toolkit/objects/kivobj.h"
#include "toolkit/objects/objprotect.h"
#include "toolkit/pages/kivhtml.h"
#include "toolkit/pages/kivhtml_rows.h"
#include "toolkit/base/kivsettings.h"
#include "toolkit/text/kivtext.h"
#include "toolkit/text/rowcol.h"

namespace kiv {

namespace {

// The cells of a month's grid: six weeks, Sunday first.
constexpr int kCells = 42;

// The calendar's month names, with their leading blanks.
constexpr std::array<std::string_view, 12> kCalMonthNames = {
    "January", "February", " March", " April", "  May", " June",
    " July",   "August",   "September", "October", "November", "December"};

// One month of a year record: its name, the weekday of its first day (0 is
// Sunday) and its number of days.
struct CalMonth {
  std::string_view name;
  int first_weekday = 0;
  int days = 0;
};

struct YearRecord {
  int year = 0;
  std::array<CalMonth, 12> months;
};

bool leap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

// The year's months: the weekday of 1 January by the formula
// (b * 365 + b / 4 + b / 400 - b / 100 + 1) mod 7 with b = year - 1, each
// later month's first weekday from the length of the month before.
YearRecord year_record(int year) {
  static constexpr std::array<int, 12> kDays = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  YearRecord r;
  r.year = year;
  const long b = year - 1;
  int weekday = static_cast<int>((b * 365 + b / 4 + b / 400 - b / 100 + 1) % 7);
  for (size_t m = 0; m < 12; ++m) {
    CalMonth& month = r.months[m];
    month.name = kCalMonthNames[m];
    month.first_weekday = weekday;
    month.days = m == 1 && leap(year) ? 29 : kDays[m];
    weekday = (weekday + month.days) % 7;
  }
  return r;
}

// A month of a year; month 1 to 12.
struct MonthRef {
  int year = 0;
  int month = 0;
};

// The month's own record: its name, first weekday and length.
CalMonth month_of(MonthRef m) { return year_record(m.year).months[static_cast<size_t>(m.month - 1)]; }

MonthRef previous_month(MonthRef m) { return m.month == 1 ? MonthRef{m.year - 1, 12} : MonthRef{m.year, m.month - 1}; }
MonthRef next_month(MonthRef m) { return m.month == 12 ? MonthRef{m.year + 1, 1} : MonthRef{m.year, m.month + 1}; }

bool day_first() { return settings().dateformat == "dmy"; }

// A date as the calendar writes it: "%d/%d/%d", the day first under the
// "dmy" date format, else the month.
std::string date_text(int day, int month, int year) {
  return day_first() ? sformat("%d/%d/%d", day, month, year) : sformat("%d/%d/%d", month, day, year);
}

// Ends the request after the message, before any page.
template <class... A>
[[noreturn]] void stop(std::string_view format, const A&... a) {
  errmsg(format, a...);
  throw Exit{0};
}

// The number at the start of a text as atoi reads it; 0 for none.
int leading_number(std::string_view text) {
  size_t i = 0;
  int n = 0;
  return scan_int(text, i, n) ? n : 0;
}

// The three numbers of "%d / %d / %d" at the start of a text, in the order
// written; false when there are not three.
bool three_numbers(std::string_view text, std::array<int, 3>& n) {
  size_t i = 0;
  for (size_t k = 0; k < 3; ++k) {
    if (k > 0) {
      while (i < text.size() && is_space(text[i])) ++i;
      if (i >= text.size() || text[i] != '/') return false;
      ++i;
    }
    if (!scan_int(text, i, n[k])) return false;
  }
  return true;
}

// The month _cal_date.VALUE names, with every refusal of a date that is no
// day of a month.
MonthRef shown_month(const std::string& date) {
  if (date.empty()) stop("_cal_date is not present");
  const size_t first = date.find('/');
  const size_t second = first == std::string::npos ? first : date.find('/', first + 1);
  if (second == std::string::npos) stop("_cal_date is corrupted");
  const std::string one = date.substr(0, first);
  const std::string two = date.substr(first + 1, second - first - 1);
  const std::string year_text = date.substr(second + 1);
  const bool dmy = day_first();
  const std::string& day_text = dmy ? one : two;
  const std::string& month_text = dmy ? two : one;
  const int day = leading_number(day_text), month = leading_number(month_text), year = leading_number(year_text);
  if (day < 1 || day > 31) stop("Bad day number=%s", day_text);
  if (month < 1 || month > 12) stop(dmy ? "2Bad month number=%s" : "1Bad month number=%s", month_text);
  if (year < 1900 || year > 3000) stop("Bad year number=%s", year_text);
  return MonthRef{year, month};
}

void set_attr(objlist& cal, const std::string& name, std::string_view attribute, const std::string& text) {
  adduniqobj(cal, name + "." + std::string(attribute), text);
}

std::string cell_name(std::string_view prefix, int cell) { return sformat("%s%d", prefix, cell); }

// The day number (CONTROL) and the date (TITLE) of each day of the month in
// its cell of the grid counted from its own first weekday.
void month_cells(objlist& cal, std::string_view prefix, MonthRef m) {
  const CalMonth month = month_of(m);
  for (int d = 1; d <= month.days; ++d) {
    const std::string name = cell_name(prefix, month.first_weekday + d);
    set_attr(cal, name, "CONTROL", std::to_string(d));
    set_attr(cal, name, "TITLE", date_text(d, m.month, m.year));
  }
}

std::string month_title(MonthRef m) {
  return std::string(kCalMonthNames[static_cast<size_t>(m.month - 1)]) + " " + std::to_string(m.year);
}

std::string first_day(MonthRef m) { return date_text(1, m.month, m.year); }

// The names and dates of the shown month, of the months around it, and the
// three grids.
void month_objects(objlist& cal, MonthRef shown) {
  const MonthRef prev = previous_month(shown), next = next_month(shown);
  set_attr(cal, "_cal_cm", "VALUE", month_title(shown));
  set_attr(cal, "_cal_scm", "VALUE", first_day(shown));
  set_attr(cal, "_cal_cy", "VALUE", std::to_string(shown.year));
  set_attr(cal, "_cal_pm", "VALUE", month_title(prev));
  set_attr(cal, "_cal_nm", "VALUE", month_title(next));
  set_attr(cal, "_cal_py", "VALUE", std::to_string(shown.year - 1));
  set_attr(cal, "_cal_ny", "VALUE", std::to_string(shown.year + 1));
  set_attr(cal, "_cal_spm", "VALUE", first_day(prev));
  set_attr(cal, "_cal_snm", "VALUE", first_day(next));
  for (int n = 1; n <= 12; ++n) set_attr(cal, cell_name("_cal_m", n), "VALUE", first_day({shown.year, n}));
  set_attr(cal, "_cal_today", "VALUE", getdate1());
  month_cells(cal, "_cal_md", shown);
  month_cells(cal, "_cal_pmd", prev);
  month_cells(cal, "_cal_nmd", next);
}

// Restores the engine's find message switch when the calendar's find ends.
struct QuietFind {
  int was = engineflags().finderror;
  QuietFind() { engineflags().finderror = 1; }
  ~QuietFind() { engineflags().finderror = was; }
};

// The cases of the shown month as the find filed them (the key row first),
// or none when the find found none or failed.
std::optional<std::string> find_month(objlist& objs, MonthRef shown) {
  const std::string column = objtext(objs, "_cal_control.TITLE");
  if (column.empty()) {
    kivtrace("_cal_control.TITLE is EMPTY");
    stop("_cal_control.TITLE is EMPTY");
  }
  // The range ends at the last second of the month's last day: a case of
  // that day with a time of day is the month's too.
  const int days = month_of(shown).days;
  const std::string range =
      sformat("%s--%s 23:59:59", first_day(shown), date_text(days, shown.month, shown.year));
  kivtrace("up_cal: %s=%s\n", column, range);
  adduniqobj(objs, column + ".VALUE", range);
  sql_control(objs);
  const std::string filter = objtext(objs, "_cal_static_filter.VALUE");
  if (!filter.empty()) vdb2obj(objs, filter);
  // A month without cases is a calendar of empty days, not an error.
  QuietFind quiet;
  if (find(objs) != 0) {
    kivtrace("find failed or no record found\n");
    return std::nullopt;
  }
  // The calendar hands no selection on: the find's scratch data file goes.
  remove_find_file(objs);
  return objtext(objs, "findresult.VALUE");
}

// The colour codes: rows of a value and its colour.
using ColourCodes = std::vector<std::pair<std::string, std::string>>;

ColourCodes colour_codes(const std::string& text) {
  ColourCodes codes;
  RowWalk rows(text);
  while (std::optional<std::string_view> row = rows.next()) {
    const std::vector<std::string_view> cols = row_columns(*row);
    auto col = [&](size_t k) { return k < cols.size() && cols[k] != kEmptyCol ? std::string(cols[k]) : std::string(); };
    codes.emplace_back(col(0), col(1));
  }
  return codes;
}

// The colour of the first code whose value is exactly `value`; "black" for
// none and for a code without a colour.
std::string colour_of(const ColourCodes& codes, std::string_view value) {
  for (const auto& [code, colour] : codes)
    if (code == value) return colour.empty() ? "black" : colour;
  return "black";
}

// The columns of the found rows the cells show: the date, the colour and
// the shown columns, each by its place in the key row (0: not there).
struct CellColumns {
  size_t date = 0;
  size_t colour = 0;
  std::vector<size_t> shown;
  std::string header;  // the cell table's key row
};

CellColumns cell_columns(const objlist& objs, std::string_view keys) {
  CellColumns c;
  const std::string date = objtext(objs, "_cal_control.TITLE");
  c.date = static_cast<size_t>(getindex(keys, date));
  if (c.date == 0) stop("Bad key for dataset keys='%s' key='%s'\n", keys, date);
  const std::string colour = objtext(objs, "_cal_control.CONTROL");
  if (colour.empty()) {
    kivtrace("_cal_control.CONTROL is EMPTY");
    stop("_cal_control.CONTROL is EMPTY");
  }
  c.colour = static_cast<size_t>(getindex(keys, colour));
  if (c.colour == 0) stop("Bad key for color dataset key=\n");
  const std::string shown = objtext(objs, "_cal_control.VALUE");
  if (shown.empty()) stop("no _cal_control.VALUE object. Exiting");
  c.header = date + std::string(kColSep) + "_cal_color";
  for (std::string_view name : row_columns(shown)) {
    if (name.ends_with(kRowEnd)) name.remove_suffix(kRowEnd.size());
    if (name.empty() || name == kEmptyCol) continue;
    c.shown.push_back(static_cast<size_t>(getindex(keys, name)));
    c.header += kColSep;
    c.header += name;
  }
  c.header += kRowEnd;
  return c;
}

// Every cell empty ("x^$"), then each found case in the cell of its date,
// in find order.
void fill_cells(objlist& cal, const objlist& objs, MonthRef shown, const std::optional<std::string>& found) {
  for (int c = 1; c <= kCells; ++c) set_attr(cal, cell_name("_cal_md", c), "VALUE", "x^$");
  if (!found || found->empty()) return;
  RowWalk rows(*found);
  const std::optional<std::string_view> keys = rows.next();
  if (!keys) return;
  const CellColumns columns = cell_columns(objs, *keys);
  const ColourCodes codes = colour_codes(objtext(objs, "_cal_color_code.VALUE"));
  const CalMonth month = month_of(shown);
  const bool dmy = day_first();
  std::array<std::string, kCells + 1> cells;
  while (std::optional<std::string_view> row = rows.next()) {
    const std::vector<std::string_view> cols = row_columns(*row);
    auto value = [&](size_t place) -> std::string_view {
      if (place == 0 || place > cols.size()) return {};
      std::string_view v = cols[place - 1];
      if (v.ends_with(kRowEnd)) v.remove_suffix(kRowEnd.size());
      return v == kEmptyCol ? std::string_view() : v;
    };
    const std::string_view date = value(columns.date);
    if (date.empty()) {
      kivtrace("no data for date\n");
      continue;
    }
    std::array<int, 3> n{};
    if (!three_numbers(date, n)) continue;
    const int day = dmy ? n[0] : n[1], mon = dmy ? n[1] : n[0];
    if (n[2] != shown.year || mon != shown.month || day < 1 || day > month.days) continue;
    std::string& cell = cells[static_cast<size_t>(month.first_weekday + day)];
    cell += date;
    cell += kColSep;
    cell += colour_of(codes, value(columns.colour));
    for (size_t place : columns.shown) {
      const std::string_view v = value(place);
      cell += kColSep;
      cell += v.empty() ? kEmptyCol : v;
    }
    cell += kRowEnd;
  }
  for (int c = 1; c <= kCells; ++c) {
    const std::string& records = cells[static_cast<size_t>(c)];
    if (!records.empty())
      adduniqobj(cal, cell_name("_cal_md", c) + ".VALUE", columns.header + records, Origin::record);
  }
}

}  // namespace

int up_cal(const std::vector<std::string>& words, exlist* request) {
  objholder objs = handler_begin(words, {2, "Wrong usage: upadd templatefile\n"}, request, RequestCopy::none);
  if (!objs) objs = std::make_unique<objlist>();
  objlist& l = *objs;
  writeblankpage(l);
  if (request) ex2obj(*request, l);
  objlist cal;  // the calendar's own objects, printed in front of the case's

  const std::string view = objtext(l, "_cal_view.VALUE");
  if (view.empty()) stop("Not supported view");
  const bool monthly = view == "Monthly";
  if (!monthly && view != "Weekley" && view != "Daily") stop("Not supported view=%s", view);
  const MonthRef shown = shown_month(objtext(l, "_cal_date.VALUE"));
  if (monthly) {
    month_objects(cal, shown);
    const std::optional<std::string> found = find_month(l, shown);
    fill_cells(cal, l, shown, found);
  }
  const objlist* const chain[] = {&cal, &l};
  const std::string path = page_path(words.size() > 1 ? std::string_view(words[1]) : std::string_view());
  kivtrace("page=%s\n", path);
  printhtml(std::span<const objlist* const>(chain), path);
  return 0;
}

}  // namespace kiv

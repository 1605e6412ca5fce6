// The percentage and trend reports: the values of chosen fields over the
// rows of a selection, sorted (dates by their date), grouped without regard
// to case, and counted per group, or per pair of groups of two fields.
#include "engine/upreport.h"

#include <algorithm>
#include <cassert>
#include <optional>
#include <string>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "engine/upreport_date.h"
#include "engine/uprowwalk.h"
#include "toolkit/base/kivcgitrace.h"
#include "toolkit/base/kivfmt.h"
#include "toolkit/objects/kivobj.h"
#include "toolkit/pages/kivhtml_rows.h"
#include "toolkit/base/kivsettings.h"
#include "toolkit/text/kivtext.h"
#include "toolkit/text/rowcol.h"

namespace kiv {

namespace {

constexpr std::string_view kBlank = "Blank";

// The data rows of a selection split into their columns once: the names
// row, and each data row's columns as row_columns gives them.
struct Table {
  std::string_view header;
  std::vector<std::vector<std::string_view>> rows;
};

Table split(std::string_view data) {
  Table t;
  RowWalk walk(data);
  t.header = walk.next().value_or(std::string_view());
  for (std::optional<std::string_view> row = walk.next(); row; row = walk.next())
    t.rows.push_back(row_columns(*row));
  return t;
}

// The value of column `index` (from 1) of a row, trimmed, "Blank" when
// empty.
std::string cell(const std::vector<std::string_view>& row, int index) {
  std::string v;
  if (index >= 1 && static_cast<size_t>(index) <= row.size() && row[index - 1] != kEmptyCol)
    v = std::string(row[index - 1]);
  trimspace(v);
  if (v.empty()) v = kBlank;
  return v;
}

bool date_field(std::string_view name) {
  return name.find("date") != std::string_view::npos || name.find("last_mod") != std::string_view::npos;
}

// A date as the reports read a value: three numbers "%d/%d/%d", the first
// the day under the "dmy" date format, else the month; a two-digit year
// below 70 is 20xx, another 19xx.
struct Ymd {
  long long y = 0;
  int m = 0, d = 0;
  bool read = false;
  auto key() const { return std::tie(y, m, d); }
};

Ymd read_date(std::string_view v, bool dayfirst) {
  size_t i = 0;
  int a = 0, b = 0, y = 0;
  if (!scan_int(v, i, a) || i >= v.size() || v[i++] != '/') return {};
  if (!scan_int(v, i, b) || i >= v.size() || v[i++] != '/') return {};
  if (!scan_int(v, i, y)) return {};
  Ymd r;
  r.y = y;
  if (y >= 0 && y < 100) r.y += y < 70 ? 2000 : 1900;
  r.d = dayfirst ? a : b;
  r.m = dayfirst ? b : a;
  r.read = true;
  return r;
}

bool dayfirst() { return settings().dateformat == "dmy"; }

// How a date field's value is shown in the percentage report: the weekday's
// name and the date, "Blank" for a value that is no date.
std::string shown_date(std::string_view v, bool dmy) {
  const Ymd r = read_date(v, dmy);
  if (!r.read || !report::valid_date(r.y, r.m, r.d)) return std::string(kBlank);
  const char* day = report::kFullDayNames[report::weekday(report::days_from_civil(r.y, r.m, r.d))];
  return dmy ? sformat("%s %02d/%02d/%04d", day, r.d, r.m, r.y) : sformat("%s %02d/%02d/%04d", day, r.m, r.d, r.y);
}

// Sorts values as the reports order them: a date field's by the date they
// read as (a value that is no day of the calendar first, so that all values
// shown as Blank are neighbours), others by byte value; values of one date
// by byte value, so the order is the same every time.
void sort_values(std::vector<std::string>& values, bool is_date, bool dmy) {
  if (!is_date) {
    std::sort(values.begin(), values.end());
    return;
  }
  std::vector<std::pair<Ymd, std::string>> keyed;
  keyed.reserve(values.size());
  for (std::string& v : values) {
    Ymd key = read_date(v, dmy);
    if (!key.read || !report::valid_date(key.y, key.m, key.d)) key = Ymd{};
    keyed.emplace_back(key, std::move(v));
  }
  std::sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) {
    if (a.first.key() != b.first.key()) return a.first.key() < b.first.key();
    return a.second < b.second;
  });
  for (size_t i = 0; i < keyed.size(); ++i) values[i] = std::move(keyed[i].second);
}

// The title of a field in a report: its TITLE, else its name.
std::string field_title(const objlist& list, const std::string& name) {
  const std::string title = objtext(list, name, "TITLE");
  return title.empty() ? name : title;
}

// ---- percentage ----

// The fields of the percentage report: percent_report_fields, else the
// list's dates, people and menus; only columns of the data, at most
// kPercentFieldsMax.
std::vector<std::string> percent_fields(const objlist& list, std::string_view header) {
  std::vector<std::string> names;
  const std::string chosen = objtext(list, "percent_report_fields.VALUE");
  if (!chosen.empty()) {
    const int n = getcolcount(chosen);
    for (int i = 1; i <= n; ++i) names.push_back(getcol_or_empty(chosen, i));
  } else {
    for (const kivobj& o : list) {
      const std::string& name = o.name();
      if (name.starts_with("date_") || name == "assigned_to" || name == "submitted_by" ||
          (o.has(attr::DBKEY) && o.attr(attr::TYPE) == "MENU"))
        names.push_back(name);
    }
  }
  std::vector<std::string> fields;
  for (std::string& name : names) {
    if (name.empty() || getindex(header, name) == 0) continue;
    if (fields.size() >= static_cast<size_t>(kPercentFieldsMax)) break;
    fields.push_back(std::move(name));
  }
  return fields;
}

// The table of one field: a row per group of neighbours equal in any case,
// date values compared as shown.
std::string percent_table(const Table& t, const std::string& field, bool dmy) {
  const int index = getindex(t.header, field);
  const bool is_date = date_field(field);
  std::vector<std::string> values;
  values.reserve(t.rows.size());
  for (const auto& row : t.rows) values.push_back(cell(row, index));
  sort_values(values, is_date, dmy);
  std::string table = "fieldvalue^@num^@percent^$";
  const double total = static_cast<double>(t.rows.size());
  size_t i = 0;
  while (i < values.size()) {
    const std::string first = is_date ? shown_date(values[i], dmy) : values[i];
    size_t j = i + 1;
    while (j < values.size() && equal_nocase(is_date ? shown_date(values[j], dmy) : values[j], first)) ++j;
    const long long count = static_cast<long long>(j - i);
    table += sformat("%s%s%d%s%.2f%s", first, kColSep, count, kColSep, count / total * 100, kRowEnd);
    i = j;
  }
  return table;
}

// ---- trend ----

// One axis of a trend table: the groups in order (each shown as the first
// value merged into it) and the group of every distinct value.
struct Axis {
  std::vector<std::string> groups;
  std::unordered_map<std::string, size_t> group_of;
};

Axis axis_of(std::vector<std::string> values, bool is_date, bool dmy) {
  sort_values(values, is_date, dmy);
  values.erase(std::unique(values.begin(), values.end()), values.end());
  Axis a;
  for (std::string& v : values) {
    if (a.groups.empty() || !equal_nocase(a.groups.back(), v)) a.groups.push_back(v);
    a.group_of.emplace(std::move(v), a.groups.size() - 1);
  }
  return a;
}

constexpr std::string_view kWhiteBold = "<b><font color=\"white\" size=\"2\" face=\"Verdana, Arial, Helvetica\">";
constexpr std::string_view kWhiteBoldWide = "<b><font color=\"white\" size=\"2\"  face=\"Verdana, Arial, Helvetica\">";
constexpr std::string_view kBlackBoldWide = "<b><font color=\"black\" size=\"2\"  face=\"Verdana, Arial, Helvetica\">";
constexpr std::string_view kBlackWide = "<font color=\"black\" size=\"2\"  face=\"Verdana, Arial, Helvetica\">";
constexpr std::string_view kBlack = "<font color=\"black\" size=\"2\" face=\"Verdana, Arial, Helvetica\">";
constexpr std::string_view kWhite = "<font color=\"white\" size=\"2\" face=\"Verdana, Arial, Helvetica\">";
constexpr std::string_view kBoldEnd = "</b></font>";
constexpr std::string_view kHeadCell = "<td align=\"center\" bgcolor=\"black\">";

// The groups of both axes and the counts of a trend table, from its rows.
struct TrendCounts {
  Axis ax, ay;
  // The counts of the cells that hold any, one entry a data row's cell.
  std::unordered_map<size_t, long long> cells;
  std::vector<long long> xtotal, ytotal;
  size_t rows = 0;
};

// Groups the values of columns x and y of every row and counts each pair;
// dates sort as dates (dmy: day first).
TrendCounts trend_counts(const Table& t, const std::string& x, const std::string& y, bool dmy) {
  const int xi = getindex(t.header, x), yi = getindex(t.header, y);
  std::vector<std::string> xs, ys;
  xs.reserve(t.rows.size());
  ys.reserve(t.rows.size());
  for (const auto& r : t.rows) {
    xs.push_back(cell(r, xi));
    ys.push_back(cell(r, yi));
  }
  TrendCounts c{axis_of(xs, date_field(x), dmy), axis_of(ys, date_field(y), dmy), {}, {}, {}, t.rows.size()};
  c.xtotal.resize(c.ax.groups.size());
  c.ytotal.resize(c.ay.groups.size());
  for (size_t i = 0; i < t.rows.size(); ++i) {
    const size_t gx = c.ax.group_of.at(xs[i]), gy = c.ay.group_of.at(ys[i]);
    ++c.cells[gy * c.ax.groups.size() + gx];
    ++c.xtotal[gx];
    ++c.ytotal[gy];
  }
  return c;
}

// Appends the table's opening and its head row: the two field titles, then
// each x group and "Total".
void trend_head(std::string& h, const TrendCounts& c, const objlist& list, const std::string& x,
                const std::string& y) {
  h += "<table border=\"1\"><tr><td bgcolor=\"black\">";
  h += kWhiteBold;
  append_escaped(h, field_title(list, x));
  h += " / ";
  append_escaped(h, field_title(list, y));
  h += kBoldEnd;
  h += "</td>";
  auto head = [&](std::string_view text) {
    h += kHeadCell;
    h += kWhiteBoldWide;
    append_escaped(h, text);
    h += kBoldEnd;
    h += "</td>";
  };
  for (const std::string& v : c.ax.groups) head(v);
  head("Total");
  h += "</tr>";
}

// Appends the row of y group gy: its name, the count of each x group
// ("&nbsp;" for none) and its total, grey when `row` is odd.
void trend_row(std::string& h, const TrendCounts& c, size_t gy, long long row) {
  assert(gy < c.ay.groups.size());
  const bool grey = row % 2 == 1;
  const std::string_view first = grey ? "<td  bgcolor=\"c0c0c0\">" : "<td>";
  const std::string_view other = grey ? "<td align=\"center\" bgcolor=\"c0c0c0\">" : "<td align=\"center\">";
  h += "<tr>";
  h += first;
  h += kBlackBoldWide;
  append_escaped(h, c.ay.groups[gy]);
  h += kBoldEnd;
  h += "</td>";
  for (size_t gx = 0; gx < c.ax.groups.size(); ++gx) {
    h += other;
    const auto n = c.cells.find(gy * c.ax.groups.size() + gx);
    if (n == c.cells.end()) {
      h += "&nbsp;";
    } else {
      h += kBlackWide;
      h += std::to_string(n->second);
      h += "</font>";
    }
    h += "</td>";
  }
  h += other;
  h += kBlack;
  h += std::to_string(c.ytotal[gy]);
  h += "</font></td></tr>";
}

// Appends the totals row (each x group's, then all rows') and closes the table.
void trend_totals(std::string& h, const TrendCounts& c) {
  h += "<tr><td  bgcolor=\"black\">";
  h += kWhiteBold;
  h += "Total";
  h += kBoldEnd;
  h += "</td>";
  auto total = [&](long long n) {
    h += kHeadCell;
    h += kWhite;
    h += std::to_string(n);
    h += "</font></td>";
  };
  for (long long n : c.xtotal) total(n);
  total(static_cast<long long>(c.rows));
  h += "</tr></table>\n\n";
}

// The HTML table of one pair of fields. `row` counts the table rows of the
// whole report, so that the alternation of plain and grey rows runs on from
// one table to the next.
std::string trend_table(const Table& t, const objlist& list, const std::string& x, const std::string& y, bool dmy,
                        long long& row) {
  const TrendCounts c = trend_counts(t, x, y, dmy);
  std::string h;
  h.reserve(256 + (c.ax.groups.size() + 2) * (c.ay.groups.size() + 2) * 96);
  trend_head(h, c, list, x, y);
  for (size_t gy = 0; gy < c.ay.groups.size(); ++gy, ++row) trend_row(h, c, gy, row);
  trend_totals(h, c);
  return h;
}

}  // namespace

int PercentReport(objlist& list, std::string_view data) {
  if (data.empty()) return -1;
  const Table t = split(data);
  const std::vector<std::string> fields = percent_fields(list, t.header);
  if (fields.empty()) return 0;
  setobjvalue(list, "report_total", std::to_string(t.rows.size()), Origin::config);
  const bool dmy = dayfirst();
  for (const std::string& field : fields)
    setobjvalue(list, "tblresult_" + field, percent_table(t, field, dmy), Origin::record);
  return 0;
}

int trendreport(objlist& list, std::string_view data) {
  const std::string pairs = objtext(list, "trend_report_fields.VALUE");
  const bool empty = data.empty();
  const Table t = empty ? Table{} : split(data);
  if (!empty) setobjvalue(list, "report_total", std::to_string(t.rows.size()), Origin::config);
  if (pairs.empty()) {
    errmsg("bad xy_report_fields\n");
    return empty ? -1 : 0;
  }
  const bool dmy = dayfirst();
  long long row = 0;
  RowWalk walk(pairs);
  for (std::optional<std::string_view> r = walk.next(); r; r = walk.next()) {
    const std::string x = getcol_or_empty(*r, 1);
    const std::string y = getcol_or_empty(*r, 2);
    const std::string name = x + "_" + y + "_table";
    if (empty || x.empty() || y.empty()) {
      if (!empty) kivtrace("bad x y keys\n");
      setobjvalue(list, name, "", Origin::config);
      continue;
    }
    setobjvalue(list, name, trend_table(t, list, x, y, dmy, row), Origin::config);
  }
  return empty ? -1 : 0;
}

}  // namespace kiv

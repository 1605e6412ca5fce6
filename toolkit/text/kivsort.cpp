// Typed sort of the rows of a row/column text by one column.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "platform/flavour.h"
#include "toolkit/text/kivtext.h"
#include "toolkit/text/rowcol.h"

namespace kiv {

namespace {

enum class SortType { text, integer, floating, date_time };

SortType sort_type(std::string_view type) {
  if (equal_nocase(type, "INT")) return SortType::integer;
  if (equal_nocase(type, "FLOAT")) return SortType::floating;
  if (equal_nocase(type, "DATE_TIME")) return SortType::date_time;
  return SortType::text;  // CHAR and any other type
}

// The leading integer of a text as the runtime's 32-bit conversion reads it,
// held in the int range; 0 when there is none.
long long leading_int(const std::string& s) {
  long long v = std::strtoll(s.c_str(), nullptr, 10);
  return std::clamp<long long>(v, INT_MIN, INT_MAX);
}

double leading_float(const std::string& s) {
  double v = std::strtod(s.c_str(), nullptr);
  return std::isnan(v) ? 0.0 : v;
}

// A tiny scanf over one pattern of numbers and separators: "%d" reads
// optional white space, a sign and digits; a separator character skips white
// space around it. Gives how many numbers were read.
int scan_numbers(std::string_view s, const char* seps, int out[6]) {
  size_t i = 0;
  int count = 0;
  auto skip_ws = [&] {
    while (i < s.size() && is_space(s[i])) ++i;
  };
  for (int k = 0; k < 6; ++k) {
    if (k > 0) {
      char sep = seps[k - 1];
      skip_ws();
      if (sep != ' ') {
        if (i >= s.size() || s[i] != sep) return count;
        ++i;
      }
    }
    if (!scan_int(s, i, out[count])) return count;
    ++count;
  }
  return count;
}

struct DateTime {
  int n[6] = {0, 0, 0, 0, 0, 0};
};

// Reads a date-and-time column: date first ("m / d / y h : m : s"), then time
// first ("h : m : s m / d / y"); a reading of at least two numbers counts,
// the later one winning.
DateTime totime(const std::string& s) {
  DateTime t;
  int v[6];
  int got = scan_numbers(s, "// ::", v);
  if (got >= 2) {
    for (int k = 0; k < 6; ++k) t.n[k] = k < got ? v[k] : 0;
  }
  got = scan_numbers(s, ":: //", v);
  if (got >= 2) {
    for (int k = 0; k < 6; ++k) t.n[k] = k < got ? v[k] : 0;
  }
  return t;
}

int compare_dates(const DateTime& a, const DateTime& b) {
  static const int order[6] = {2, 0, 1, 3, 4, 5};
  for (int k : order) {
    if (a.n[k] != b.n[k]) return a.n[k] < b.n[k] ? -1 : 1;
  }
  return 0;
}

// One row with its sort column, read once as the type compares it.
struct Row {
  std::string text;
  std::string key;  // the sort column as text
  long long i = 0;
  double f = 0;
  DateTime d;
};

void read_key(Row& r, SortType st) {
  switch (st) {
    case SortType::integer: r.i = leading_int(r.key); break;
    case SortType::floating: r.f = leading_float(r.key); break;
    case SortType::date_time: r.d = totime(r.key); break;
    case SortType::text: break;
  }
}

}  // namespace

int kivsort(std::string& table, std::string_view keyrow, std::string_view name,
            std::string_view type) {
  if (table.empty()) return -1;
  if (keyrow.empty()) return -2;
  if (type.empty()) return -3;
  if (name.empty()) return -4;
  int col = getindex(keyrow, name);
  // No sort column: nothing to compare, the rows stay in their order.
  if (col == 0) return 0;

  // Cut the table into its rows in one pass; each keeps its "^$", and text
  // after the last "^$" is not a row.
  // The sort column of each row is read once, not at every comparison.
  const SortType st = sort_type(type);
  std::vector<Row> rows;
  for (size_t start = 0, end; (end = table.find(kRowEnd, start)) != std::string::npos;
       start = end + 2) {
    Row r;
    r.text = table.substr(start, end + 2 - start);
    r.key = getcol_or_empty(r.text, col);
    read_key(r, st);
    rows.push_back(std::move(r));
  }

  const bool int_descending = platform() == Platform::windows;
  auto less = [&](const Row& a, const Row& b) {
    switch (st) {
      case SortType::integer: return int_descending ? a.i > b.i : a.i < b.i;
      case SortType::floating: return a.f < b.f;
      case SortType::date_time: return compare_dates(a.d, b.d) < 0;
      case SortType::text: return a.key < b.key;
    }
    return false;
  };
  std::stable_sort(rows.begin(), rows.end(), less);

  std::string sorted;
  sorted.reserve(table.size());
  for (const Row& r : rows) sorted += r.text;
  table.swap(sorted);
  return 0;
}

}  // namespace kiv

// The elapsed-time report: for each case, the times of the stamp lines of
// its problem text, the durations between the first, the second and the
// last of them, and the averages over the cases.
#include <cassert>
#include <optional>
#include <string>
#include <vector>

#include "engine/upreport.h"
#include "engine/upreport_date.h"
#include "engine/uprowwalk.h"
#include "toolkit/base/kivcgitrace.h"
#include "toolkit/base/kivfmt.h"
#include "toolkit/text/kivtext.h"
#include "toolkit/text/rowcol.h"

namespace kiv {

namespace {

using report::days_from_civil;
using report::valid_date;

constexpr std::string_view kElapseNames = "r_time^@a_time^@l_time^@rs_time^@rr_time^@rl_time^@";

// Digits at `i`, as a number; false when there is none.
bool digits(std::string_view s, size_t& i, long long& out) {
  if (i >= s.size() || s[i] < '0' || s[i] > '9') return false;
  long long v = 0;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
    if (v < 100000000) v = v * 10 + (s[i] - '0');
    ++i;
  }
  out = v;
  return true;
}

bool skip_blanks(std::string_view s, size_t& i) {
  const size_t from = i;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
  return i > from;
}

// The moment "<a>/<b>/<year> <h>:<m>:<s> <word>" at `i` gives, in seconds
// from 1970 without a time zone: with `dayfirst` a is the day and b the
// month, else the other way round; a year up to 1900 counts from 1900; the
// word PM adds twelve hours but to 12, AM makes 12 hour 0. None when the
// text has not that shape or is no moment of the calendar.
std::optional<long long> moment_at(std::string_view s, size_t i, bool dayfirst) {
  long long a, b, y, h, m, sec;
  if (!digits(s, i, a) || i >= s.size() || s[i++] != '/') return std::nullopt;
  if (!digits(s, i, b) || i >= s.size() || s[i++] != '/') return std::nullopt;
  if (!digits(s, i, y) || !skip_blanks(s, i)) return std::nullopt;
  if (!digits(s, i, h) || i >= s.size() || s[i++] != ':') return std::nullopt;
  if (!digits(s, i, m) || i >= s.size() || s[i++] != ':') return std::nullopt;
  if (!digits(s, i, sec)) return std::nullopt;
  skip_blanks(s, i);
  const size_t word = i;
  while (i < s.size() && s[i] != ' ' && s[i] != '\t') ++i;
  if (i == word) return std::nullopt;
  const std::string_view half = s.substr(word, i - word);
  if (equal_nocase(half, "PM") && h != 12) h += 12;
  if (equal_nocase(half, "AM") && h == 12) h = 0;
  const long long day = dayfirst ? a : b, month = dayfirst ? b : a;
  if (y <= 1900) y += 1900;
  if (month < 1 || month > 12 || !valid_date(y, static_cast<int>(month), static_cast<int>(day))) return std::nullopt;
  if (h > 23 || m > 59 || sec > 60) return std::nullopt;
  return days_from_civil(y, static_cast<int>(month), static_cast<int>(day)) * 86400 + h * 3600 + m * 60 + sec;
}

// The moment of one stamp line. Its date and time stand after the status:
// read where the line's first word ends (the status a word of its own),
// else after the first "- " that the date follows (a status with blanks in
// it, or an empty one). A line without "-" is read after its first word.
std::optional<long long> stamp_moment(std::string_view line, bool dayfirst) {
  size_t i = 0;
  while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
  skip_blanks(line, i);
  if (std::optional<long long> t = moment_at(line, i, dayfirst)) return t;
  if (line.find('-') == std::string_view::npos) return std::nullopt;
  for (size_t p = line.find("- "); p != std::string_view::npos; p = line.find("- ", p + 1))
    if (std::optional<long long> t = moment_at(line, p + 2, dayfirst)) return t;
  return std::nullopt;
}

// The moments of a problem text's stamp lines, in their order.
std::vector<long long> stamp_moments(std::string_view problem, bool dayfirst) {
  std::vector<long long> times;
  size_t start = 0;
  int stamps = 0;
  while (start <= problem.size() && stamps < kStampsPerCase) {
    size_t end = problem.find('\n', start);
    if (end == std::string_view::npos) end = problem.size();
    std::string line(problem.substr(start, end - start));
    start = end + 1;
    trimspace(line);
    if (line.size() < 2 || line.front() != '[' || line.back() != ']') continue;
    ++stamps;
    if (std::optional<long long> t = stamp_moment(line, dayfirst))
      times.push_back(*t);
    else
      kivtrace("can't convert time\n");
  }
  return times;
}

std::string duration(long long s) {
  return sformat("%dd:%dh:%dm:%ds", s / 86400, s % 86400 / 3600, s % 3600 / 60, s % 60);
}

// A moment in the form of ctime, without its line end.
std::string ctime_text(long long t) {
  long long days = t / 86400, rest = t % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  // The date of a day count (the inverse of days_from_civil).
  const long long z = days + 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const long long doe = z - era * 146097;
  const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const long long mp = (5 * doy + 2) / 153;
  const long long d = doy - (153 * mp + 2) / 5 + 1;
  const long long m = mp < 10 ? mp + 3 : mp - 9;
  const long long y = yoe + era * 400 + (m <= 2);
  return sformat("%s %s %2d %02d:%02d:%02d %d", report::kDayNames[report::weekday(days)], kMonthNames[m - 1], d,
                 rest / 3600, rest % 3600 / 60, rest % 60, y);
}

// The sums of the averages, in 64 bits: a thousand cases of a month each
// pass what 32 bits hold.
struct Sums {
  long long r = 0, a = 0, l = 0;
  long long cases = 0;
};

// The average of `sum` over `cases` (at least one) as a duration.
std::string average(long long sum, long long cases) {
  assert(cases > 0);
  return duration(sum / cases);
}

// Appends the report row of a case whose problem stamps are at the moments
// `t`: its three elapsed times, the three moments ("0" for none) and the
// row; a case with sound times (response and assignment not negative, life
// positive) counts in the sums.
void elapse_row(std::string& table, Sums& sums, std::string_view row, const std::vector<long long>& t) {
  const size_t n = t.size();
  const bool second = n >= 2 && t[1] >= t[0];
  const bool last = second && t[n - 1] >= t[1];
  long long r = 0, a = 0, l = 0;
  if (last) {
    r = t[1] - t[0];
    a = t[n - 1] - t[1];
    l = t[n - 1] - t[0];
  }
  if (r >= 0 && a >= 0 && l > 0) {
    sums.r += r;
    sums.a += a;
    sums.l += l;
    ++sums.cases;
  }
  table += duration(r);
  table += kColSep;
  table += duration(a);
  table += kColSep;
  table += duration(l);
  table += kColSep;
  table += n ? ctime_text(t[0]) : std::string("0");
  table += kColSep;
  table += second ? ctime_text(t[1]) : std::string("0");
  table += kColSep;
  table += last ? ctime_text(t[n - 1]) : std::string("0");
  table += kColSep;
  table += row;
}

}  // namespace

ElapseReport elapsereport(std::string_view data, bool dayfirst) {
  ElapseReport report;
  if (data.empty()) return report;
  RowWalk rows(data);
  const std::string_view header = rows.next().value_or(std::string_view());
  const int problem = getindex(header, "problem");
  report.table.reserve(data.size() + data.size() / 2);
  report.table += kElapseNames;
  report.table += header;
  Sums sums;
  for (std::optional<std::string_view> row = rows.next(); row; row = rows.next()) {
    const std::string text = problem ? getcol_or_empty(*row, problem) : std::string();
    if (text.empty()) {
      kivtrace("Skiping a ticket. no problem field found\n");
      continue;
    }
    elapse_row(report.table, sums, *row, stamp_moments(text, dayfirst));
  }
  if (sums.cases == 0) {
    report.av_r_time = report.av_a_time = report.av_l_time = report.total_recs = "0";
    return report;
  }
  report.av_r_time = average(sums.r, sums.cases);
  report.av_a_time = average(sums.a, sums.cases);
  report.av_l_time = average(sums.l, sums.cases);
  report.total_recs = std::to_string(sums.cases);
  return report;
}

}  // namespace kiv

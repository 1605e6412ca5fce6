// Values and names as they are written into statements: text quoted with
// apostrophes doubled, numbers only when they are numbers, dates in the form
// of the database type, and the checks of table, column and order names.
// Nothing from a row reaches a statement except through these.
#include <array>
#include <cctype>
#include <optional>
#include <string>

#include "data/sql_pars.h"
#include "data/sql_pars_impl.h"
#include "toolkit/base/kivcgitrace.h"
#include "toolkit/base/kivsettings.h"
#include "toolkit/text/kivtext.h"
#include "toolkit/text/rowcol.h"

namespace kiv {

namespace {

constexpr int kMsAccess = 0, kMsSql = 1, kOracle = 2, kSybase = 3, kDb2 = 4;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The characters a date or time value may hold besides its numbers: clock
// digits, separators, the "@" before a time, and AM/PM. No quote, no "#",
// no ";" and no other letter can reach a statement through a date.
bool date_char(char c) {
  return is_digit(c) || c == ':' || c == '.' || c == ' ' || c == '@' || c == 'a' || c == 'A' || c == 'p' ||
         c == 'P' || c == 'm' || c == 'M';
}

// A time, or a date with its time: the date characters, "/" and "-", at
// least one digit, and no "--" (which would begin a comment).
bool time_ok(std::string_view t) {
  bool digit = false;
  for (char c : t) {
    if (!date_char(c) && c != '/' && c != '-') return false;
    digit = digit || is_digit(c);
  }
  return digit && t.find("--") == std::string_view::npos;
}

// A date read as sscanf reads "%d / %d / %d": three numbers (each with blanks
// before it and an optional sign) separated by "/" with optional blanks.
// The number texts are kept as written; `end` is where the third ends.
struct DateScan {
  bool ok = false;
  std::array<std::string, 3> text;
  std::array<long, 3> num{};
  size_t end = 0;
};

bool scan_number(std::string_view s, size_t& i, std::string& text, long& num) {
  while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
  size_t start = i;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  size_t digits = i;
  num = 0;
  while (i < s.size() && is_digit(s[i])) {
    // Numbers of a date are small; a long run of digits is no date.
    if (i - digits >= 9) return false;
    num = num * 10 + (s[i] - '0');
    ++i;
  }
  if (i == digits) return false;
  if (s[start] == '-') num = -num;
  text = std::string(s.substr(start, i - start));
  return true;
}

DateScan scan_date(std::string_view s) {
  DateScan d;
  size_t i = 0;
  for (int n = 0; n < 3; ++n) {
    if (n > 0) {
      while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
      if (i >= s.size() || s[i] != '/') return d;
      ++i;
    }
    if (!scan_number(s, i, d.text[static_cast<size_t>(n)], d.num[static_cast<size_t>(n)])) return d;
  }
  d.ok = true;
  d.end = i;
  return d;
}

// After the three numbers a date may carry only a time.
bool date_tail_ok(std::string_view tail) {
  for (char c : tail)
    if (!date_char(c)) return false;
  return true;
}

const char* month_name(long month, bool upper) {
  static const char* const upper_names[] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                            "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
  if (month < 1 || month > 12) return nullptr;
  return (upper ? upper_names : kMonthNames)[month - 1];
}

using sqlpars::Conv;
using sqlpars::Converted;

Converted value_of(std::string text) { return Converted{Conv::value, std::move(text)}; }
Converted no_value() { return Converted{Conv::none, {}}; }
Converted refused() { return Converted{Conv::refused, {}}; }

// A date that scanned but has no form for this database type (a month
// outside 1 to 12) is refused like any other date that is none.
Converted no_form() { return refused(); }

// A value holding ":" is a time: quoted for a condition, as it is otherwise.
Converted oracle_time(std::string_view t, DateUse use) {
  if (!time_ok(t)) return refused();
  if (use == DateUse::stored) return value_of(std::string(t));
  int flag = settings().mssqlflag;
  if (flag == kMsSql || flag == kSybase || flag == kDb2) return value_of(sformat("'%s'", t));
  return value_of(sformat("#%s#", t));
}

// ORACLE's day-month-year: "05-MAR-1" from 03/05/2001 (month first), or
// from 5/3/2001 with the day first. The year keeps its last two digits.
Converted oracle_form(const DateScan& d, DateUse use) {
  bool dmy = settings().dateformat == "dmy";
  const char* month = month_name(dmy ? d.num[1] : d.num[0], true);
  if (!month) return no_form();
  long year = d.num[2] < 0 ? -d.num[2] : d.num[2];
  int yy = static_cast<int>(year % 100);
  std::string form = dmy ? sformat("%d-%s-%d", static_cast<int>(d.num[0]), month, yy)
                         : sformat("%s-%s-%d", d.text[1], month, yy);
  return value_of(use == DateUse::condition ? "'" + form + "'" : form);
}

// SYBASE's "Mar 5 2001", the month always first; a time after "@" follows
// as a fourth part.
Converted sybase_date(std::string_view date, const DateScan& d, DateUse use) {
  const char* month = month_name(d.num[0], false);
  if (!month) return no_form();
  std::string form = sformat("%s %s %s", month, d.text[1], d.text[2]);
  size_t at = date.find('@');
  if (at != std::string_view::npos && at + 1 < date.size()) {
    std::string rest(date.substr(at));
    rest[0] = ' ';
    form = sformat("%s %s %s %s", month, d.text[1], d.text[2], rest);
  }
  return value_of(use == DateUse::condition ? "'" + form + "'" : form);
}

// ---- SQLite's ISO dates ----

bool leap_year(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int days_in_month(int month, int year) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && leap_year(year) ? 29 : kDays[month - 1];
}

// Reads digits at `i` (no sign, no blank); false when none are there.
bool scan_digits(std::string_view s, size_t& i, int& out, size_t& count) {
  const size_t start = i;
  int v = 0;
  while (i < s.size() && is_digit(s[i]) && i - start < 9) v = v * 10 + (s[i++] - '0');
  count = i - start;
  if (count == 0 || (i < s.size() && is_digit(s[i]))) return false;
  out = v;
  return true;
}

void skip_blanks(std::string_view s, size_t& i) {
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
}

// A time of day from `i` to the end: "H:M" or "H:M:S" (a fraction of a
// second is dropped), optionally followed by AM or PM in any case, blanks
// allowed around the parts; as "HH:MM:SS". None for anything else.
std::optional<std::string> iso_time(std::string_view s, size_t i) {
  int part[3] = {0, 0, 0};
  size_t n = 0;
  for (int k = 0; k < 3; ++k) {
    if (k > 0) {
      skip_blanks(s, i);
      if (i >= s.size() || s[i] != ':') break;
      ++i;
      skip_blanks(s, i);
    }
    if (!scan_digits(s, i, part[k], n)) return std::nullopt;
    if (k == 0 && (i >= s.size() || s.substr(i).find(':') == std::string_view::npos)) return std::nullopt;
  }
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && is_digit(s[i])) ++i;
  }
  skip_blanks(s, i);
  int hour = part[0];
  if (i < s.size()) {
    const std::string_view half = s.substr(i);
    const bool am = equal_nocase(half, "am"), pm = equal_nocase(half, "pm");
    if (!am && !pm) return std::nullopt;
    if (hour < 1 || hour > 12) return std::nullopt;
    hour = hour % 12 + (pm ? 12 : 0);
  }
  if (hour > 23 || part[1] > 59 || part[2] > 59) return std::nullopt;
  return sformat("%02d:%02d:%02d", hour, part[1], part[2]);
}

// The three numbers of a date at the start of `s` with the separator `sep`,
// each as written; `i` past the third.
bool scan_three(std::string_view s, char sep, size_t& i, int (&num)[3], size_t (&digits)[3]) {
  for (int k = 0; k < 3; ++k) {
    if (k > 0) {
      skip_blanks(s, i);
      if (i >= s.size() || s[i] != sep) return false;
      ++i;
    }
    skip_blanks(s, i);
    if (!scan_digits(s, i, num[k], digits[k])) return false;
  }
  return true;
}

// A date for SQLite as ISO text: an ISO date as given, or the three numbers
// of "%d/%d/%d" in the configured order; a year of one or two digits read as
// PostgreSQL reads it (00 to 69 this century, 70 to 99 the last). A time of
// day may follow, after blanks or "@". None unless the date is a day of the
// calendar and the time a time of day.
std::optional<std::string> iso_date(std::string_view s) {
  int num[3] = {0, 0, 0};
  size_t digits[3] = {0, 0, 0};
  size_t i = 0;
  int year = 0, month = 0, day = 0;
  if (scan_three(s, '-', i, num, digits) && digits[0] == 4) {
    year = num[0], month = num[1], day = num[2];
  } else {
    i = 0;
    if (!scan_three(s, '/', i, num, digits)) return std::nullopt;
    const bool dmy = settings().dateformat == "dmy";
    day = dmy ? num[0] : num[1];
    month = dmy ? num[1] : num[0];
    year = num[2];
    if (digits[2] <= 2) year += year < 70 ? 2000 : 1900;
  }
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > days_in_month(month, year))
    return std::nullopt;
  std::string iso = sformat("%04d-%02d-%02d", year, month, day);
  skip_blanks(s, i);
  if (i < s.size() && s[i] == '@') ++i;
  skip_blanks(s, i);
  if (i == s.size()) return iso;
  std::optional<std::string> time = iso_time(s, i);
  if (!time) return std::nullopt;
  return iso + " " + *time;
}

// The value for a date column of SQLite, quoted in a condition.
Converted sqlite_date(std::string_view date, DateUse use) {
  const std::string_view d = trim_blanks(date);
  std::optional<std::string> iso = iso_date(d);
  if (!iso) iso = iso_time(d, 0);
  if (!iso) return refused();
  return value_of(use == DateUse::condition ? "'" + *iso + "'" : *iso);
}

bool sqlite_dates() { return starts_nocase(sqlbuf().dbms, "SQLite"); }

// A value that is no date is refused, in a condition and in an insert or
// update alike: it is never written, and an update never turns it into NULL
// silently. Blanks alone are no value.
Converted date_value(std::string_view date, DateUse use) {
  if (trim_blanks(date).empty()) return no_value();
  int flag = settings().mssqlflag;
  if (flag == kOracle && date == "00/00/00") return no_value();
  if (sqlite_dates()) return sqlite_date(date, use);
  if (date.find(':') != std::string_view::npos) return oracle_time(date, use);
  // ORACLE and SYBASE read an "@" as a blank.
  std::string scanned(date);
  if (flag == kOracle || flag == kSybase)
    for (char& c : scanned)
      if (c == '@') c = ' ';
  DateScan d = scan_date(scanned);
  if (!d.ok) return refused();
  if (!date_tail_ok(std::string_view(scanned).substr(d.end))) return refused();
  if (flag == kOracle) return oracle_form(d, use);
  if (flag == kSybase) return sybase_date(date, d, use);
  if (use == DateUse::stored) return value_of(std::string(date));
  if (flag == kMsAccess) return value_of(sformat("#%s#", date));
  return value_of(sformat("'%s'", date));
}

std::optional<std::string> escaped(std::string_view text) {
  if (text.empty()) return std::nullopt;
  bool access = settings().mssqlflag == kMsAccess;
  std::string out;
  out.reserve(text.size() + 8);
  for (char c : text) {
    if (c == '\'') {
      out += "''";
    } else if (c == '|' && access) {
      out += "0x7C";
    } else {
      out += c;
    }
  }
  return out;
}

// One name: letters, digits, "_", "$", "#" and bytes of other scripts; or a
// name in double quotes or brackets without its closing mark inside.
bool name_ok(std::string_view n) {
  if (n.empty()) return false;
  if (n.size() >= 2 && n.front() == '"' && n.back() == '"')
    return n.size() > 2 && n.substr(1, n.size() - 2).find('"') == std::string_view::npos;
  if (n.size() >= 2 && n.front() == '[' && n.back() == ']')
    return n.size() > 2 && n.substr(1, n.size() - 2).find(']') == std::string_view::npos;
  for (char c : n) {
    unsigned char u = static_cast<unsigned char>(c);
    if (!(std::isalnum(u) || c == '_' || c == '$' || c == '#' || u >= 0x80)) return false;
  }
  return true;
}

// Names joined by "." (schema.table, table.column); `star` allows a last
// part "*".
bool dotted_ok(std::string_view n, bool star) {
  size_t start = 0;
  while (true) {
    size_t dot = n.find('.', start);
    std::string_view part = n.substr(start, dot == std::string_view::npos ? n.npos : dot - start);
    bool last = dot == std::string_view::npos;
    if (!(name_ok(part) || (star && last && part == "*"))) return false;
    if (last) return true;
    start = dot + 1;
  }
}

std::string lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// Items separated by ","; each is a dotted name followed by at most one word
// (an alias, or "asc"/"desc" in an order list; "as alias" in a table list).
enum class ListKind { tables, order, distinct };

// Where the first word of an item ends: at a blank outside quotes or
// brackets; npos at the end of the item.
size_t word_end(std::string_view item) {
  for (size_t i = 0; i < item.size(); ++i) {
    char c = item[i];
    if (c == '"' || c == '[') {
      size_t close = item.find(c == '"' ? '"' : ']', i + 1);
      if (close == std::string_view::npos) return std::string_view::npos;
      i = close;
    } else if (c == ' ' || c == '\t') {
      return i;
    }
  }
  return std::string_view::npos;
}

bool item_ok(std::string_view item, ListKind kind) {
  item = trim_blanks(item);
  size_t blank = word_end(item);
  std::string_view head = item.substr(0, blank);
  if (!dotted_ok(head, kind == ListKind::distinct)) return false;
  if (blank == std::string_view::npos) return true;
  std::string_view rest = trim_blanks(item.substr(blank));
  if (kind == ListKind::order) {
    std::string word = lower(rest);
    return word == "asc" || word == "desc";
  }
  if (kind == ListKind::tables && lower(rest.substr(0, 3)) == "as ") rest = trim_blanks(rest.substr(3));
  return name_ok(rest);
}

bool list_ok(std::string_view list, ListKind kind) {
  size_t start = 0;
  while (true) {
    size_t comma = list.find(',', start);
    if (!item_ok(list.substr(start, comma == std::string_view::npos ? list.npos : comma - start), kind))
      return false;
    if (comma == std::string_view::npos) return true;
    start = comma + 1;
  }
}

}  // namespace

namespace sqlpars {

bool is_number(std::string_view t) {
  size_t i = 0;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
  size_t before = i;
  while (i < t.size() && is_digit(t[i])) ++i;
  size_t whole = i - before;
  size_t fraction = 0;
  if (i < t.size() && t[i] == '.') {
    ++i;
    size_t f = i;
    while (i < t.size() && is_digit(t[i])) ++i;
    fraction = i - f;
  }
  if (whole == 0 && fraction == 0) return false;
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    ++i;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
    size_t e = i;
    while (i < t.size() && is_digit(t[i])) ++i;
    if (i == e) return false;
  }
  return i == t.size();
}

Converted convert(const dbconfig_column& column, std::string_view value, DateUse use) {
  if (column.type == kDateColumn) {
    Converted c = date_value(value, use);
    if (c.kind == Conv::refused) errmsg("Bad date '%s' for column %s\n", value, column.name);
    return c;
  }
  if (column.type == kIntColumn || column.type == kFloatColumn) {
    std::string_view n = trim_blanks(value);
    if (n.empty()) return no_value();
    if (!is_number(n)) {
      errmsg("Bad number '%s' for column %s\n", value, column.name);
      return refused();
    }
    return value_of(*num2str(n));
  }
  std::optional<std::string> t = textnl(value);
  return t ? value_of(std::move(*t)) : no_value();
}

std::string first_row_value(std::string_view data, std::string_view keys, std::string_view name) {
  std::optional<std::string> row = getrow(data, 1);
  if (!row || row->empty()) return {};
  return getvaluebykey_or_empty(*row, keys, name);
}

bool has_key(std::string_view keys, std::string_view name) { return getindex(keys, name) != 0; }

}  // namespace sqlpars

std::optional<std::string> textnl(std::string_view text) { return escaped(text); }

std::optional<std::string> num2str(std::string_view text) { return escaped(text); }

std::optional<std::string> oracle_date(std::string_view date, DateUse use) {
  Converted c = date_value(date, use);
  if (c.kind != Conv::value) return std::nullopt;
  return c.text;
}

bool sql_table_ok(std::string_view tables) {
  if (list_ok(tables, ListKind::tables)) return true;
  errmsg("Bad table name '%s'\n", tables);
  return false;
}

bool sql_single_table_ok(std::string_view name) {
  if (name_ok(name)) return true;
  errmsg("Bad table name '%s'\n", name);
  return false;
}

bool sql_column_ok(std::string_view name) {
  if (name_ok(name)) return true;
  errmsg("Bad column name '%s'\n", name);
  return false;
}

bool sql_order_ok(std::string_view order) {
  if (list_ok(order, ListKind::order)) return true;
  errmsg("Bad order list '%s'\n", order);
  return false;
}

// The distinct list and the join condition, used by the select.
namespace sqlpars {

bool distinct_ok(std::string_view list) {
  if (list_ok(list, ListKind::distinct)) return true;
  errmsg("Bad distinct list '%s'\n", list);
  return false;
}

// A join condition is configured SQL; it may not end the statement and
// begin another.
bool join_ok(std::string_view join) {
  bool quoted = false;
  for (char c : join) {
    if (c == '\'') quoted = !quoted;
    if (c == ';' && !quoted) {
      errmsg("Bad join condition '%s'\n", join);
      return false;
    }
  }
  return true;
}

}  // namespace sqlpars

}  // namespace kiv

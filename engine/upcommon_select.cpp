// Row selection out of a found result's scratch data file, typed ranges
// turned into ticks, and the report file of a chosen report title.
#include "engine/upcommon_select.h"

#include <climits>
#include <vector>

#include "engine/title2var.h"
#include "engine/upfile.h"
#include "engine/uprowwalk.h"
#include "toolkit/base/kivcgitrace.h"
#include "toolkit/base/kivfmt.h"
#include "toolkit/objects/kivobj.h"
#include "toolkit/text/rowcol.h"

namespace kiv {

namespace {

constexpr std::string_view kSelrow = "selrow";
constexpr std::string_view kHidedatafile = "hidedatafile";

// A number as atoi reads it (blanks, a sign, digits up to the first other
// character; none gives 0), held within int: a longer number stands as the
// largest (or smallest) int, so that it is refused as out of range rather
// than wrapping round to a row that exists.
int row_number(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long long n = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    n = n * 10 + (text[i] - '0');
    if (n > INT_MAX) {
      n = static_cast<long long>(INT_MAX) + 1;
      break;
    }
  }
  if (negative) return n > INT_MAX ? INT_MIN : static_cast<int>(-n);
  return n > INT_MAX ? INT_MAX : static_cast<int>(n);
}

// The data row a "selrow_N" name picks: N digits only, 1 to `highest`;
// 0 when it names none.
int picked_row(std::string_view digits, int highest) {
  if (digits.empty()) return 0;
  long long n = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return 0;
    n = n * 10 + (c - '0');
    if (n > highest) return 0;
  }
  return static_cast<int>(n);
}

}  // namespace

int addrange(objlist& list, int first, int last, int highest) {
  if (first > highest || last > highest) {
    errmsg("range '%d-%d' exceed max row='%d'", first, last, highest);
    errmsg("range must be less or equal to max records");
    return -1;
  }
  if (first < 1 || last < 1) {
    errmsg("range '(%d)-(%d)' can not be negative or zero", first, last);
    return -1;
  }
  if (first > last) {
    errmsg("range '(%d)-(%d)' start row number is larger than end row number ", first, last);
    return -1;
  }
  for (int i = first; i <= last; ++i) adduniqobj(list, sformat("%s_%d.%s", kSelrow, i, "VALUE"), "checked");
  return 0;
}

int range2obj(objlist& list, std::string_view text, int highest) {
  if (highest == 0) return 1;
  if (text.empty()) {
    kivtrace("Bad Range NULL\n");
    return 1;
  }
  size_t start = 0;
  while (start < text.size()) {
    size_t comma = text.find(',', start);
    if (comma == std::string_view::npos) comma = text.size();
    const std::string_view item = text.substr(start, comma - start);
    start = comma + 1;
    kivtrace("TOCK=%s", item);
    int first, last;
    const size_t dash = item.find('-');
    if (dash == std::string_view::npos) {
      first = last = row_number(item);
    } else {
      first = row_number(item.substr(0, dash));
      const size_t after = dash + 1 < item.size() && item[dash + 1] == '-' ? dash + 2 : dash + 1;
      const std::string_view rest = item.substr(after);
      last = rest.empty() ? first : row_number(rest);
    }
    if (addrange(list, first, last, highest) != 0) return -1;
  }
  return 0;
}

std::optional<std::string> filter_data(objlist& list) {
  const std::string named = objtext(list, "hidedatafile.VALUE");
  if (named.empty()) {
    errmsg("No data for object '%s'\n", kHidedatafile);
    return std::nullopt;
  }
  const std::optional<std::string> path = hidedatafile_path(named);
  std::optional<std::string> text = path ? up_readfile(*path) : std::nullopt;
  if (!text) {
    errmsg("No data for object '%s' from file %s\n", kHidedatafile, named);
    return std::nullopt;
  }
  kivtrace("data_filter='%s'", *text);
  const std::vector<std::string_view> rows = table_rows(*text);
  const int highest = rows.empty() ? 0 : static_cast<int>(rows.size()) - 1;
  kivtrace(" data_filter MAXROWCOUNT=%d", highest);
  if (!objtext(list, "select_all.VALUE").empty()) return text;
  const std::string range = objtext(list, "select_range.VALUE");
  if (!range.empty() && range2obj(list, range, highest) != 0) return std::nullopt;
  if (rows.empty() || rows[0] == kRowEnd) {
    errmsg("BAD SELECT DATA\n");
    return std::nullopt;
  }
  std::string result;
  result.reserve(text->size());
  result += rows[0];
  std::vector<bool> taken(rows.size(), false);
  for (const kivobj& o : list) {
    const std::string& name = o.name();
    if (!name.starts_with(kSelrow)) continue;
    const size_t underscore = name.find('_');
    if (underscore == std::string::npos) {
      errmsg("BAD SELECT ROW NAME. Must have '_'\n");
      return std::nullopt;
    }
    const int n = picked_row(std::string_view(name).substr(underscore + 1), highest);
    if (n < 1) {
      errmsg("BAD SELECT ROW NAME. Must have int after '_'\n");
      return std::nullopt;
    }
    if (taken[n]) continue;
    taken[n] = true;
    result += rows[n];
  }
  return result;
}

std::optional<std::string> getprintfilename(const objlist& list) {
  const std::string choice = objtext(list, "reports_menu.VALUE");
  if (choice.empty()) {
    errmsg("Missing print object '%s'\n", "reports_menu");
    return std::nullopt;
  }
  const std::string titles = objtext(list, "reports.TITLE");
  if (titles.empty()) {
    errmsg("Missing report titles for '%s' object \n", "reports");
    return std::nullopt;
  }
  const std::string values = objtext(list, "reports.VALUE");
  if (values.empty()) {
    errmsg("Missing report values for '%s' object \n", "reports");
    return std::nullopt;
  }
  std::optional<std::string> file = title2var(choice, titles, values);
  if (!file || file->empty()) {
    errmsg("Inconsistent report object '%s'\n", "reports");
    return std::nullopt;
  }
  return file;
}

}  // namespace kiv

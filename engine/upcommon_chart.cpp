// Chart files: making one, counting found values into it, and reordering it
// by count.
#include "engine/upcommon_chart.h"

#include <algorithm>
#include <cerrno>
#include <unistd.h>
#include <vector>

#include "engine/upclock.h"
#include "engine/upfile.h"
#include "platform/flavour.h"
#include "toolkit/base/kivcontext.h"
#include "toolkit/base/kivcgitrace.h"
#include "toolkit/base/kivsettings.h"
#include "toolkit/text/kivtext.h"
#include "toolkit/text/rowcol.h"

namespace kiv {

namespace {

constexpr std::string_view kBlank = "Blank";

int three_way(int a, int b) { return a < b ? -1 : a > b ? 1 : 0; }

}  // namespace

chartfile gen_chartfile(std::time_t now) {
  sweep_scratchfiles();
  const std::string base =
      sformat("%s/tmp/chartfile.%d", reqctx().nvhome, static_cast<long long>(now));
  const numbered_file f = create_numbered(base);
  chartfile made;
  made.path = f.path;
  if (f.fd < 0) return made;
  made.file.reset(::fdopen(f.fd, "w"));
  if (!made.file) {
    int e = errno;
    ::close(f.fd);
    ::unlink(made.path.c_str());
    errno = e;
  }
  return made;
}

chartfile gen_chartfile() { return gen_chartfile(std::time(nullptr)); }

int ctotime(std::string_view text, chartdate& date) {
  int n[3] = {0, 0, 0};
  int count = 0;
  size_t i = 0;
  while (count < 3) {
    if (count > 0) {
      if (i >= text.size() || text[i] != '/') break;
      ++i;
    }
    if (!scan_int(text, i, n[count])) break;
    ++count;
  }
  date = chartdate{};
  if (settings().idateflag) {
    date.day = n[0];
    date.month = n[1];
  } else {
    date.month = n[0];
    date.day = n[1];
  }
  date.year = n[2];
  return count;
}

std::string getsortmonth(std::string_view text) {
  chartdate d;
  ctotime(text, d);
  if (d.month < 1 || d.month > 12) return std::string(kBlank);
  return sformat("%s %d", kMonthNames[d.month - 1], d.year);
}

int kivchartstrcmp(std::string_view a, std::string_view b) {
  int r = compare_nocase(a, b);
  return platform() == Platform::windows ? -r : r;
}

int kivchartdatecmp(std::string_view a, std::string_view b) {
  chartdate x, y;
  ctotime(a, x);
  ctotime(b, y);
  if (int r = three_way(x.year, y.year)) return r;
  if (int r = three_way(x.month, y.month)) return r;
  return three_way(x.day, y.day);
}

int producechartdata(std::FILE* chart, std::string_view rows, std::string_view keys, std::string_view key) {
  // Without a key there is no column to count: an empty chart would pass for
  // a chart of nothing found.
  if (key.empty()) {
    errmsg("Bad chart key\n");
    return -1;
  }
  if (rows.empty() || !chart) return -1;
  const int column = getindex(keys, key);
  const bool dates = key.find("date") != std::string_view::npos;

  std::vector<std::string> values;
  size_t start = 0;
  for (size_t end = rows.find(kRowEnd); end != std::string_view::npos; end = rows.find(kRowEnd, start)) {
    std::string v = getcol_or_empty(rows.substr(start, end - start + kRowEnd.size()), column);
    trimspace(v);
    // A date that gives no month is counted as Blank, and sorted with the
    // blank dates, so that a chart never shows two Blank records.
    if (dates && !v.empty() && getsortmonth(v) == kBlank) v.clear();
    values.push_back(v.empty() ? std::string(kBlank) : std::move(v));
    start = end + kRowEnd.size();
  }
  if (values.empty()) return -1;
  if (dates)
    std::stable_sort(values.begin(), values.end(),
                     [](const std::string& a, const std::string& b) { return kivchartdatecmp(a, b) < 0; });
  else
    std::stable_sort(values.begin(), values.end(),
                     [](const std::string& a, const std::string& b) { return kivchartstrcmp(a, b) < 0; });

  std::string text;
  auto label_of = [dates](const std::string& v) { return dates ? getsortmonth(v) : v; };
  std::string run = label_of(values.front());
  int count = 0;
  for (const std::string& v : values) {
    std::string label = label_of(v);
    if (compare_nocase(label, run) != 0) {
      text += sformat("%s%s%d%s", run, kColSep, count, kRowEnd);
      run = std::move(label);
      count = 0;
    }
    ++count;
  }
  text += sformat("%s%s%d%s", run, kColSep, count, kRowEnd);
  text += '\n';
  bool ok = std::fwrite(text.data(), 1, text.size(), chart) == text.size();
  ok = std::fflush(chart) == 0 && ok;
  return ok ? 0 : -1;
}

int sortchartbyvalue(objlist& list, const std::string& path) {
  std::optional<std::string> recs = up_readfile(path);
  if (!recs) return -1;
  kivtrace("recs='%s'", *recs);
  std::string table = *recs;
  while (!table.empty() && (table.back() == '\n' || table.back() == '\r')) table.pop_back();
  const std::string header = "title^@value^$";
  kivtrace("vbuf=%s", header + table);
  if (!table.empty()) kivsort(table, header, "value", "INT");
  kivtrace("recs after sort='%s'", table);
  if (up_writefile(path, table + "\n") != 0) return -1;
  return adduniqobj(list, "chartfile.VALUE", path);
}

}  // namespace kiv

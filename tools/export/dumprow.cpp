// The export tool: its start, the filter words of its command line, and the
// two ways it writes what the find found (a file per case, or one
// percentage report).
#include "tools/export/dumprow.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <optional>
#include <span>
#include <sys/stat.h>

#include "commands/up.h"
#include "commands/upfind.h"
#include "commands/upskeleton.h"
#include "toolkit/objects/kivobj.h"
#include "engine/upclock.h"
#include "engine/upcommon.h"
#include "engine/upcommon_find.h"
#include "engine/upcommon_query.h"
#include "engine/upobjdb.h"
#include "engine/upreport.h"
#include "toolkit/cgi/kivcgi.h"
#include "toolkit/base/kivcgitrace.h"
#include "toolkit/base/kivcontext.h"
#include "toolkit/base/kivfmt.h"
#include "toolkit/pages/kivhtml.h"
#include "toolkit/base/kivpath.h"
#include "toolkit/text/kivtext.h"

namespace kiv {

namespace {

constexpr std::string_view kUsage[] = {
    "Usage: dumprow export_templatefile[:table[:join_condition_object_name]] output_dir [optional filter]\n\n",
    "export_templatefile: kivhtml file in NVHOME/client/kivhtml/tk.\n",
    "table: database table name.\n",
    "join_condition_object_name: the object name that controls the sql contol object.\n",
    "output_dir: The directory where the data will be exported to.\n",
    "optional filter: rules to limit the export functionality. The format is: key1 value1 key2 value2 ....\n",
};

// The export's lines and failures on the console's standard error.
int console_say(std::string_view format, std::span<const FmtArg> args) {
  err() << vformat(format, args);
  return 0;
}

bool iequals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (ascii_lower(a[i]) != ascii_lower(b[i])) return false;
  return true;
}

// A local date "%m/%d/%Y"; none when the moment has no local date.
std::optional<std::string> us_date(std::time_t t) {
  std::tm tm{};
  if (!localtime_r(&t, &tm)) return std::nullopt;
  return sformat("%02d/%02d/%d", tm.tm_mon + 1, tm.tm_mday, static_cast<long long>(tm.tm_year) + 1900);
}

// The range N days back (or ahead) of now, from the number at `at`; none
// without a number or a local date at either end.
std::optional<std::string> day_range(std::string_view value, size_t at, bool back) {
  int days = 0;
  if (!scan_int(value, at, days)) return std::nullopt;
  const std::time_t now = engine_now();
  const std::time_t shift = static_cast<std::time_t>(days) * 86400;
  const std::optional<std::string> today = us_date(now);
  const std::optional<std::string> other = us_date(back ? now - shift : now + shift);
  if (!today || !other) return std::nullopt;
  return back ? *other + "--" + *today : *today + "--" + *other;
}

// "<template>[:<table>[:<stored query>]]" onto the objects; the template
// name.
std::string template_argument(objlist& list, const std::string& word) {
  const size_t first = word.find(':');
  if (first == std::string::npos) return word;
  const std::string rest = word.substr(first + 1);
  const size_t second = rest.find(':');
  const std::string table = rest.substr(0, second);
  if (!table.empty()) setobjvalue(list, "db_table_name", table, Origin::config);
  if (second != std::string::npos && second + 1 < rest.size())
    setobjvalue(list, "sql_control", rest.substr(second + 1), Origin::config);
  return word.substr(0, first);
}

// 0 when `folder` is a folder; else 1 after the system's message for it.
int check_folder(const std::string& folder) {
  struct stat st {};
  int e = 0;
  if (::stat(folder.c_str(), &st) != 0)
    e = errno;
  else if (!S_ISDIR(st.st_mode))
    e = ENOTDIR;
  if (e == 0) return 0;
  err() << folder << ": " << std::strerror(e) << "\n";
  return 1;
}

// The percentage report of the found rows through "<home>/<template>" into
// "<folder>/percent_report_export_<today as m-d-Y>.html", written whole.
int percent_export(objlist& list, const std::string& templ, const std::string& folder) {
  remove_find_file(list);
  const std::string data = objtext(list, "findresult.VALUE");
  PercentReport(list, data);
  setobjvalue(list, "printresult", data, Origin::record);
  const std::tm today = local_time(engine_now());
  const std::string path = sformat("%s/percent_report_export_%02d-%02d-%d.html", folder, today.tm_mon + 1,
                                   today.tm_mday, today.tm_year + 1900);
  StringSink page;
  Sink* before = set_out(&page);
  const int printed = printhtml(&list, reqctx().nvhome + "/" + templ);
  set_out(before);
  if (printed != 0) {
    // The template's own message, and no file.
    out() << page.text();
    return 1;
  }
  AtomicWrite how;
  how.durable = false;
  if (write_file_atomic(path, page.text(), nullptr, how)) return 0;
  const int e = errno;
  err() << path << ": " << std::strerror(e) << "\n";
  return 1;
}

}  // namespace

std::string dumprow_filter_value(std::string_view value, Sink& progress) {
  if (iequals(value, "TODAY")) {
    progress << "TODAY";
    return getdate1(engine_now());
  }
  for (const bool back : {true, false}) {
    const std::string_view marker = back ? "TODAY-" : "TODAY+";
    const size_t at = value.find(marker);
    if (at == std::string_view::npos) continue;
    progress << (back ? "OTDAY-" : "OTDAY+");
    const std::optional<std::string> range = day_range(value, at + marker.size(), back);
    if (!range) return std::string(value);
    progress << "casenum=" << *range;
    return *range;
  }
  return std::string(value);
}

int dumprow(const std::vector<std::string>& words) {
  if (words.size() < 3) {
    out() << sformat("%s: Version 5.8\n\n", words.empty() ? std::string("dumprow") : words[0]);
    for (std::string_view line : kUsage) out() << line;
    return 2;
  }
  setdateandtime();
  console_start(words[0]);
  objholder objs = get_prog_param();
  loadobj(objs);
  if (!objs) return 1;
  const std::string& folder = words[2];
  if (check_folder(folder) != 0) return 1;
  objlist& list = *objs;
  writeblankpage(list);
  const std::string templ = template_argument(list, words[1]);
  const bool percent = templ.find("percent") != std::string::npos || templ.find("Percent") != std::string::npos;
  for (size_t i = 3; i + 1 < words.size(); i += 2)
    adduniqobj(list, words[i] + ".VALUE", dumprow_filter_value(words[i + 1], err()));
  sql_control(list);
  if (find(list) != 0) {
    errmsg("No records found\n");
    return 1;
  }
  if (percent) return percent_export(list, templ, folder);
  return export_found_cases(list, page_path(templ), folder, console_say, console_say);
}

}  // namespace kiv

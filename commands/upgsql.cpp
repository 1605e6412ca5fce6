// The query macro loop, the stored-query page and the chart page.
#include "commands/upgsql.h"

#include <memory>

#include "commands/upskeleton.h"
#include "engine/gsqlexec.h"
#include "engine/upcommon_find.h"
#include "engine/upcommon_query.h"
#include "engine/upfile.h"
#include "engine/upflags.h"
#include "toolkit/base/kivcgitrace.h"
#include "toolkit/base/kivfmt.h"
#include "toolkit/objects/kivobj.h"
#include "toolkit/objects/objprotect.h"
#include "toolkit/pages/kivhtml.h"
#include "toolkit/text/rowcol.h"

namespace kiv {

namespace {

constexpr std::string_view kMacroPrefix = "query_";

// The header row of chartresult.VALUE, as the chart file's records are read
// when they are sorted by count.
constexpr std::string_view kChartHeader = "title^@value^$";

// The chart file's records as a table for a page: the header row, then the
// records without the file's closing line end. Empty when the file cannot
// be read (its message shown).
std::string chart_table(const std::string& path) {
  std::optional<std::string> text = up_readfile(path);
  if (!text) return std::string();
  while (!text->empty() && (text->back() == '\n' || text->back() == '\r')) text->pop_back();
  return std::string(kChartHeader) + *text;
}

}  // namespace

int runsqlqueries(objlist& objs) {
  int result = 0;
  for (int n = 1;; ++n) {
    const std::string slot = objtext(objs, sformat("sqlquery%d.VALUE", n));
    if (slot.empty()) break;
    std::string text = slot;
    if (slot.starts_with(kMacroPrefix)) {
      text = objtext(objs, slot, "VALUE");
      if (text.empty()) {
        errmsg("Wrong syntax for macro sqlquery%d\n", n);
        continue;
      }
    }
    const size_t eq = text.find('=');
    if (eq == std::string::npos) {
      errmsg("Wrong syntax for sqlquery%d\n", n);
      continue;
    }
    kivtrace("sqlquery%d: dataset '%s'\n", n, text.substr(0, eq));
    result = gsqlexec(objs, std::string_view(text).substr(0, eq), std::string_view(text).substr(eq + 1));
  }
  return result;
}

int up_gsql(const std::vector<std::string>& words, exlist* request) {
  EngineFlags& flags = engineflags();
  flags.errorpageflag = 0;
  objholder objs = handler_begin(words, {2, "Wrong usage: upgsql templatefile\n"}, request, RequestCopy::none);
  if (!objs) objs = std::make_unique<objlist>();
  std::string errorpage = page_path("finderror.html");
  flags.errorpageflag = statfile(errorpage) == 0 ? 1 : 0;
  if (words.size() > 2) {
    errorpage = page_path(words[2]);
    flags.errorpageflag = 1;
  }
  if (request) ex2obj(*request, *objs);
  if (runsqlqueries(*objs) != 0) {
    if (flags.errorpageflag)
      printhtml(objs.get(), errorpage);
    else
      errmsg("No records found\n");
    return 1;
  }
  return handler_page(objs.get(), words);
}

int up_chart(const std::vector<std::string>& words, exlist* request) {
  objholder objs = handler_begin(words, {2, "Wrong usage: upfind templatefile\n"}, request, RequestCopy::none);
  if (!objs) objs = std::make_unique<objlist>();
  engineflags().chartflag = 1;
  if (request) ex2obj(*request, *objs);
  sql_control(*objs);
  if (find(*objs) != 0) {
    errmsg("No records found\n");
    return 1;
  }
  const std::string chart = objtext(*objs, "chartfile.VALUE");
  if (!chart.empty()) adduniqobj(*objs, "chartresult.VALUE", chart_table(chart), Origin::record);
  return handler_page(objs.get(), words);
}

}  // namespace kiv

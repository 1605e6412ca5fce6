// The print command and its choice of report.
#include "commands/upprint.h"

#include <memory>
#include <optional>

#include "commands/upskeleton.h"
#include "engine/upcommon_select.h"
#include "engine/upfile.h"
#include "engine/upreport.h"
#include "toolkit/base/kivcgitrace.h"
#include "toolkit/base/kivcontext.h"
#include "toolkit/objects/kivobj.h"
#include "toolkit/pages/kivhtml.h"
#include "toolkit/base/kivsettings.h"

namespace kiv {

namespace {

bool names(const std::string& file, std::string_view word, std::string_view capital) {
  return file.find(word) != std::string::npos || file.find(capital) != std::string::npos;
}

// The selection's whole text, or an empty one when no file of the
// request's own is named.
std::string selection_text(const objlist& objs) {
  const std::string named = objtext(objs, "hidedatafile.VALUE");
  if (named.empty()) return std::string();
  const std::optional<std::string> path = hidedatafile_path(named);
  if (!path) {
    kivtrace("up_print: '%s' is no scratch file of the request's\n", named);
    return std::string();
  }
  return up_readfile(*path).value_or(std::string());
}

void store(objlist& objs, std::string_view name, const std::string& value) {
  if (!value.empty()) setobjvalue(objs, name, value, Origin::config);
}

}  // namespace

int up_print(const std::vector<std::string>& words, exlist* request) {
  objholder objs = handler_begin(words, {0, {}}, request, RequestCopy::all);
  if (!objs) objs = std::make_unique<objlist>();
  objlist& l = *objs;
  const std::optional<std::string> file = getprintfilename(l);
  std::string data = selection_text(l);
  if (!file) {
    kivtrace("BAD REPORT FILE NAME\n");
    return 1;
  }
  if (names(*file, "elapse", "Elapse")) {
    ElapseReport r = elapsereport(data, settings().dateformat == "dmy");
    store(l, "av_r_time", r.av_r_time);
    store(l, "av_a_time", r.av_a_time);
    store(l, "av_l_time", r.av_l_time);
    store(l, "elapse_total_recs", r.total_recs);
    data = std::move(r.table);
  } else if (names(*file, "percent", "Percent")) {
    PercentReport(l, data);
  } else if (names(*file, "trend", "Trend")) {
    trendreport(l, data);
  }
  setobjvalue(l, "printresult", data, Origin::record);
  const std::string page = reqctx().nvhome + "/" + *file;
  kivtrace("page=%s\n", page);
  return printhtml(objs.get(), page);
}

}  // namespace kiv

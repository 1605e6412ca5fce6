// addclosedate, auto_match and signature.
#include "engine/upcommon_rules.h"

#include <string>
#include <string_view>

#include "engine/title2var.h"
#include "engine/upcommon.h"
#include "engine/upfile.h"
#include "toolkit/base/kivcontext.h"
#include "toolkit/base/kivcgitrace.h"
#include "toolkit/base/kivpath.h"
#include "toolkit/base/kivsettings.h"
#include "toolkit/objects/kivobj.h"

namespace kiv {

namespace {

void apply_pair(objlist& list, std::string_view pair) {
  kivtrace("auto_match:pair=%s", pair);
  size_t eq = pair.find('=');
  if (eq == std::string_view::npos) return;
  std::string_view target = pair.substr(0, eq);
  std::string_view source = pair.substr(eq + 1);
  if (target.empty()) return;  // no field to set
  if (source.empty()) {
    kivtrace("auot_match: n2 is blank");
    return;
  }
  kivtrace("n2=%s", source);
  objattr_text v;
  size_t bar = source.find('|');
  if (bar != std::string_view::npos) {
    kivtrace("Pipe Type");
    objattr_text a = objattr(list, source.substr(0, bar), "VALUE");
    objattr_text b = objattr(list, source.substr(bar + 1), "VALUE");
    v.text = a.text + b.text;
    // Marked as the first field that is marked, so that pages escape the
    // joined value as they would escape the field.
    v.origin = origin_of_both(a.origin, b.origin);
  } else {
    kivtrace("Single Type");
    v = objattr(list, source, "VALUE");
  }
  kivtrace("auot_match: Val insert");
  if (v.text.empty()) {
    kivtrace("auot_match: val is blank");
    return;
  }
  kivtrace("auot_match: n1='%s' val='%s' ", target, v.text);
  std::string key(target);
  key += ".VALUE";
  adduniqobj(list, key, v.text, v.origin);
}

}  // namespace

int addclosedate(objlist& list) {
  if (!objtext(list, "date_closed_flag.VALUE").empty()) return 0;
  std::string status = objtext(list, "status.VALUE");
  const std::string& closed = settings().closedstate;
  if (status.empty() || status.compare(0, closed.size(), closed) != 0) return 0;
  adduniqobj(list, "date_closed.VALUE", getdate1());
  return 0;
}

int auto_match(objlist& list) {
  std::string m = objtext(list, "auto_match.VALUE");
  if (m.empty()) {
    kivtrace("auto_match: no name found");
    return 0;
  }
  kivtrace("auto_match:name=%s", m);
  std::string match = objtext(list, m + ".VALUE");
  if (match.empty()) {
    kivtrace("auto_match: match string is null");
    return 0;
  }
  kivtrace("auto_match: match string='%s'", match);
  std::string_view rest = match;
  while (!rest.empty()) {
    size_t comma = rest.find(',');
    std::string_view pair = rest.substr(0, comma);
    if (!pair.empty()) apply_pair(list, pair);
    if (comma == std::string_view::npos) break;
    rest.remove_prefix(comma + 1);
  }
  return 0;
}

int signature(objlist& list) {
  std::string files = objtext(list, "signature_control_problem.VALUE");
  if (files.empty()) {
    kivtrace("No signature value");
    return 0;
  }
  std::string titles = objtext(list, "signature_control_problem.TITLE");
  if (titles.empty()) {
    kivtrace("No signature TITLE");
    return 0;
  }
  std::string chosen = objtext(list, "signature_problem.VALUE");
  if (chosen.empty()) {
    kivtrace("No signature variable");
    return 0;
  }
  kivtrace("rept='%s'  titles='%s' repnames='%s'\n", chosen, titles, files);
  std::optional<std::string> file = title2var(chosen, titles, files);
  // The file name is configuration, but it is still read only as a plain
  // name inside the signature folder.
  const std::string folder = reqctx().nvhome + "/signature";
  const std::string path = file ? folder + "/" + *file : std::string();
  if (!file || !safe_name(*file) || !path_under(folder, path)) {
    kivtrace("Inconsistent signature object \n");
    return 0;
  }
  std::optional<std::string> text = up_readfile(path);
  if (!text || text->empty()) return 0;
  objattr_text problem = objattr(list, "problem", "VALUE");
  if (problem.text.empty()) {
    adduniqobj(list, "problem.VALUE", *text);
    return 0;
  }
  adduniqobj(list, "problem.VALUE", problem.text + "\n" + *text, problem.origin);
  return 0;
}

}  // namespace kiv

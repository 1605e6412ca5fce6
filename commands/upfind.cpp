// The find command: search and show, and the export of found cases into one
// HTML file each.
#include "commands/upfind.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <unistd.h>
#include <unordered_map>

#include "commands/upskeleton.h"
#include "engine/upattachments.h"
#include "engine/upcommon_find.h"
#include "engine/upcommon_query.h"
#include "engine/upfile.h"
#include "engine/upflags.h"
#include "engine/uprowwalk.h"
#include "engine/upobjdb.h"
#include "platform/output.h"
#include "toolkit/base/kivcgitrace.h"
#include "toolkit/base/kivcontext.h"
#include "toolkit/base/kivfmt.h"
#include "toolkit/objects/kivobj.h"
#include "toolkit/pages/kivhtml.h"
#include "toolkit/base/kivpath.h"
#include "toolkit/text/rowcol.h"

namespace kiv {

namespace {

template <class... A>
void tell(Say say, std::string_view format, const A&... a) {
  const std::array<FmtArg, sizeof...(A)> args{FmtArg(a)...};
  say(format, args);
}

// A template name a configuration object gives: relative, each of its parts
// a plain name.
bool template_name(std::string_view name) {
  if (name.empty() || name.front() == '/') return false;
  size_t start = 0;
  while (true) {
    const size_t slash = name.find('/', start);
    const std::string_view part = name.substr(start, slash == std::string_view::npos ? name.npos : slash - start);
    if (!safe_name(part)) return false;
    if (slash == std::string_view::npos) return true;
    start = slash + 1;
  }
}

// Prints the export copy over the objects and writes the page whole into
// `path` (write_file_atomic, not synced: an export is made again at will),
// replacing what stands there and never writing through a link. False after
// the message of what failed, with the path as it was.
bool print_case_file(const objlist& objs, const std::string& copy, const std::string& path, Say say) {
  StringSink page;
  Sink* before = set_out(&page);
  const int printed = printhtml(&objs, copy);
  set_out(before);
  if (printed != 0) {
    tell(say, "Can't write file '%s' errno=%d\n", path, EIO);
    return false;
  }
  AtomicWrite how;
  how.durable = false;
  if (write_file_atomic(path, page.text(), nullptr, how)) return true;
  const int e = errno;
  tell(say, "%s: %s\n", path, std::strerror(e));
  return false;
}

// One found case into its file; false when it was not written (after the
// message saying why). `written` maps each file name this run wrote to its
// case number: two case numbers that make one file name ("2024/7" and
// "2024-7") must not overwrite each other, so the later one is refused.
bool export_case(objlist& objs, const std::string& header, std::string_view row, const std::string& casenum,
                 const std::string& copy, const std::string& folder, Say say,
                 std::unordered_map<std::string, std::string>& written) {
  const std::optional<std::string> name = attachfolder_part(casenum);
  const std::string path = name ? folder + "/" + *name + ".html" : std::string();
  if (!name || !path_under(folder, path)) {
    tell(say, "Bad case number '%s': no export file\n", casenum);
    return false;
  }
  if (const auto first = written.find(*name); first != written.end()) {
    tell(say, "Case number '%s' not written: '%s' already holds case number '%s'\n", casenum, path,
         first->second);
    return false;
  }
  setobjvalue(objs, "case_num", casenum, Origin::record);
  addattachdata(objs);
  setobjvalue(objs, "findresult", header + std::string(row), Origin::record);
  if (!print_case_file(objs, copy, path, say)) return false;
  written.emplace(*name, casenum);
  return true;
}

// A part of the export's own page, the installation's template of that
// name printed over the objects; false when the installation has none.
bool print_report_part(const objlist& objs, std::string_view name) {
  const std::string path = page_path(name);
  if (statfile(path) != 0) return false;
  printhtml(&objs, path);
  return true;
}

int export_cases(objlist& objs, const std::vector<std::string>& words) {
  writeblankpage(objs);
  for (size_t i = 3; i + 1 < words.size(); i += 2) adduniqobj(objs, words[i] + ".VALUE", words[i + 1]);
  if (find(objs) != 0) {
    errmsg("No records found\n");
    return 1;
  }
  // The report lines are the page of an export that ran, not a refusal:
  // with the installation's head before them, the refusal frame stays out.
  const bool framed = print_report_part(objs, kExportHead);
  const int status = export_found_cases(objs, page_path(words[1]), words[2], errmsg_v, errmsg_v);
  if (framed) print_report_part(objs, kExportFoot);
  return status;
}

}  // namespace

int export_found_cases(objlist& objs, const std::string& templ, const std::string& folder, Say progress, Say say) {
  remove_find_file(objs);
  const std::string result = objtext(objs, "findresult.VALUE");
  const std::vector<std::string_view> rows = table_rows(result);
  const int cases = rows.empty() ? 0 : static_cast<int>(rows.size()) - 1;
  tell(progress, "Total Cases=%d\n", cases);
  if (cases == 0) return 0;
  const std::string header(rows[0]);
  const int column = getindex(header, "case_num");
  // One export copy for the whole run: every case is printed over it.
  const std::string copy = sformat("%s/tmp/export.%d", reqctx().nvhome, static_cast<int>(::getpid()));
  if (fixexportform(templ, copy) != 0) {
    const int e = errno;
    tell(say, "Can't make the export form '%s' of '%s' errno=%d\n", copy, templ, e);
    return 1;
  }
  bool failed = false;
  std::unordered_map<std::string, std::string> written;
  for (int n = 1; n <= cases; ++n) {
    const std::string casenum = getcol_or_empty(rows[n], column);
    if (casenum.empty()) {
      kivtrace("CONTINUE");
      continue;
    }
    tell(progress, "Count=%d Case num=%s\n", n, casenum);
    if (!export_case(objs, header, rows[n], casenum, copy, folder, say, written)) failed = true;
  }
  ::unlink(copy.c_str());
  return failed ? 1 : 0;
}

std::optional<std::string> finderror_page(const objlist& objs) {
  const std::string folder = page_path("");
  const std::string named = objtext(objs, "error_template.VALUE");
  if (!named.empty()) {
    const std::string path = page_path(named);
    if (template_name(named) && path_under(folder, path)) {
      if (statfile(path) == 0) return path;
    } else {
      kivtrace("error_template '%s' is no template name: not used\n", named);
    }
  }
  const std::string standard = page_path("finderror.html");
  if (statfile(standard) == 0) return standard;
  return std::nullopt;
}

int up_find(const std::vector<std::string>& words, exlist* request) {
  EngineFlags& flags = engineflags();
  flags.finderror = 0;
  const bool exporting = words.size() >= 3;
  objholder objs = handler_begin(words, {2, "Wrong usage: upfind templatefile\n"}, request,
                                 exporting ? RequestCopy::none : RequestCopy::all);
  if (!objs) objs = std::make_unique<objlist>();
  if (exporting) return export_cases(*objs, words);
  const std::optional<std::string> errorpage = finderror_page(*objs);
  flags.finderror = errorpage ? 1 : 0;
  sql_control(*objs);
  if (find(*objs) == 0) return handler_page(objs.get(), words);
  if (errorpage)
    printhtml(objs.get(), *errorpage);
  else
    errmsg("No records found\n");
  return 1;
}

}  // namespace kiv

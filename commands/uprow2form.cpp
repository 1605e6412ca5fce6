// One stored case onto its form, for a change or for viewing.
#include "commands/uprow2form.h"

#include <memory>

#include "commands/upgsql.h"
#include "commands/upskeleton.h"
#include "data/sql_pars.h"
#include "engine/upattachments.h"
#include "engine/upcommon_find.h"
#include "engine/upcommon_query.h"
#include "engine/upflags.h"
#include "engine/upobjdb.h"
#include "engine/upprofile.h"
#include "toolkit/base/kivcgitrace.h"
#include "toolkit/objects/kivobj.h"
#include "toolkit/pages/kivhtml.h"
#include "toolkit/objects/objprotect.h"
#include "toolkit/text/rowcol.h"
#include "toolkit/security/security.h"

namespace kiv {

namespace {

constexpr std::string_view kFindMyRecord = "findmyrec";
constexpr std::string_view kViewOnly = "-v";

// The error page of the command line, when it names one: the third word
// unless it is "-v", else the fourth. Sets the error-page flag as the words
// say; two words leave it as it was.
std::string error_page(const std::vector<std::string>& words) {
  EngineFlags& flags = engineflags();
  const size_t n = words.size();
  if (n == 3) {
    flags.errorpageflag = words[2] == kViewOnly ? 0 : 1;
    return flags.errorpageflag ? page_path(words[2]) : std::string();
  }
  if (n >= 4) {
    flags.errorpageflag = 1;
    return page_path(words[3]);
  }
  return std::string();
}

// The fetched record onto a form for a change: its values, the user's staff
// defaults where a field is still empty, and today as the closing date
// unless the configuration keeps closing dates.
void onto_form(objlist& objs, const std::string& result, const std::string& group) {
  db2obj(objs, result);
  if (std::optional<std::string> login = getuserlogin()) {
    if (std::optional<std::string> si = getdefuser(*login, kStaffProfile)) {
      kivtrace("CALL catdb2obj si=%s", *si);
      catdb2obj(objs, *si, request_record(group));
    }
  }
  if (objtext(objs, "date_closed_flag.VALUE").empty()) setobjvalue(objs, "date_closed", getdate1(), Origin::config);
}

}  // namespace

std::optional<std::string> findmyrec_criteria(std::string_view value, const std::optional<std::string>& login) {
  const size_t cut = value.find('_');
  if (cut == std::string_view::npos || !login) return std::nullopt;
  const std::string_view column = value.substr(cut + 1);
  if (column.empty() || column.find('^') != std::string_view::npos) return std::nullopt;
  const std::optional<std::string> mine = literal_criterion(*login);
  if (!mine) return std::nullopt;
  std::string criteria(column);
  criteria += kRowEnd;
  criteria += *mine;
  criteria += kRowEnd;
  return criteria;
}

int up_row2form(const std::vector<std::string>& words, exlist* request) {
  objholder objs = handler_begin(words, {2, "Wrong usage: upfind templatefile\n"}, request, RequestCopy::none);
  if (!objs) objs = std::make_unique<objlist>();
  objlist& l = *objs;
  kivtrace("NEW with GSQ");
  if (request) ex2obj(*request, *objs);
  const std::string errorpage = error_page(words);
  // A command with an error page of its own shows it in place of the
  // find's message.
  engineflags().finderror = engineflags().errorpageflag && !errorpage.empty() ? 1 : 0;

  const std::string record = objtext(l, "row2form_rec.VALUE");
  kivtrace("RECORD='%s'", record);
  if (record.empty()) {
    errmsg("OBJ_CAST_REC is empty\n");
    return 1;
  }
  std::optional<std::string> criteria = record;
  if (record.starts_with(kFindMyRecord)) {
    criteria = findmyrec_criteria(record, getuserlogin());
    if (!criteria) kivtrace("findmyrec: no login or no column in '%s'\n", record);
  }

  kivtrace("NEW with GSQ");
  runsqlqueries(l);
  sql_control(l);
  if (criteria && row2formfind(l, *criteria) == 0) {
    const std::string result = objtext(l, "findresult.VALUE");
    kivtrace("row2findresult OBJ_FIND_RESULT=%s", result);
    if (words.size() >= 3 && words[2] == kViewOnly)
      vdb2obj(l, result);
    else
      onto_form(l, result, group_object(request));
    addattachdata(l);
    return handler_page(objs.get(), words);
  }
  if (engineflags().errorpageflag && !errorpage.empty()) return printhtml(objs.get(), errorpage);
  errmsg("No records found\n");
  return 1;
}

}  // namespace kiv

// The assignment and release of a selection of cases.
#include "commands/upassign.h"

#include <memory>
#include <optional>

#include "commands/upskeleton.h"
#include "engine/upcommon_modify.h"
#include "engine/upcommon_query.h"
#include "engine/upflags.h"
#include "engine/upobjdb.h"
#include "engine/upprofile.h"
#include "engine/uprowwalk.h"
#include "engine/upstamp.h"
#include "toolkit/base/kivcgitrace.h"
#include "toolkit/base/kivsettings.h"
#include "toolkit/objects/kivobj.h"
#include "toolkit/objects/objprotect.h"
#include "toolkit/text/rowcol.h"

namespace kiv {

namespace {

constexpr std::string_view kNoRecords = "No records to Assign. Illogical condition. Please try again";
constexpr std::string_view kNotRead = "No records read from temp file. Illogical condition. Please try again";

// The status a case takes: the open status on release, the assigned status
// (when configured) on an assignment.
void set_status(objlist& objs, bool release) {
  if (release) {
    const std::string open = objtext(objs, "open_state.VALUE");
    setobjvalue(objs, "status", open.empty() ? settings().openstate : open, Origin::config);
    return;
  }
  const std::string assigned = objtext(objs, "assigned_state.VALUE");
  if (!assigned.empty()) setobjvalue(objs, "status", assigned, Origin::config);
}

}  // namespace

int up_assign(const std::vector<std::string>& words, exlist* request) {
  const bool release = words.size() == 3 && words[2] == "-d";
  EngineFlags& flags = engineflags();
  flags.doingassign = kDoingAssign;
  objholder objs = handler_begin(words, {0, {}}, request, RequestCopy::all);
  if (!objs) objs = std::make_unique<objlist>();
  objlist& l = *objs;
  if (check_separators(request, l) != 0) {
    errmsg("Assign failed.Try Again.");
    return 1;
  }
  const std::string staff = objtext(l, "assigned_to.VALUE");
  kivtrace("STAFFF=%s", staff);
  writeblankpage(l);

  const std::optional<std::string> text = selection_rows(l, kNoRecords, kNotRead, kNoRecords);
  if (!text) return -1;
  const std::string group = group_object(request);
  RowWalk rows(*text);
  const std::string header(rows.next().value_or(std::string_view()));
  for (std::optional<std::string_view> row = rows.next(); row; row = rows.next()) {
    std::string record = header;
    record += *row;
    // The row's own columns fill the addresses; none is left from the case
    // before.
    setobjvalue(l, "sub_e_mail", "", Origin::config);
    setobjvalue(l, "sa_e_mail", "", Origin::config);
    readdb2obj(l, record, request_record(group));
    setobjvalue(l, "row2form_rec", record, Origin::record);
    if (request) ex2obj(*request, *objs);
    if (!staff.empty()) {
      primary_func(l);
      if (!settings().row_number) {
        setobjvalue(l, "assigned_to", staff, Origin::request);
        if (std::optional<std::string> profile = getdefuser(staff, kStaffProfile))
          defaultdb2obj(l, *profile, request_record(group));
      }
    } else {
      setobjvalue(l, "assigned_to", "", Origin::config);
    }
    set_status(l, release);
    flags.multiassignflag = 1;
    if (respond(l) != 0) {
      errmsg("Assign failed.Try Again.");
      return 1;
    }
  }
  handler_page(objs.get(), words);
  return 0;
}

}  // namespace kiv

// The change of a shown case by its submitter, its plain change, and its
// answer by staff.
#include "commands/upmodify.h"

#include <memory>
#include <optional>

#include "commands/upskeleton.h"
#include "engine/upcommon_modify.h"
#include "engine/upobjdb.h"
#include "engine/upprofile.h"
#include "engine/upstamp.h"
#include "toolkit/base/kivcgitrace.h"
#include "toolkit/objects/kivobj.h"
#include "toolkit/objects/objprotect.h"
#include "toolkit/text/rowcol.h"

namespace kiv {

namespace {

constexpr std::string_view kModifyFailed = "Modify failed";
constexpr std::string_view kShownRecord = "row2form_rec";

// The shared start of both commands: the objects with the request on them,
// none after "Invalid characters in '%s'\n" and "Modify failed" when a
// value the form sent could not be stored as typed.
objholder begin_change(const std::vector<std::string>& words, const exlist* request) {
  objholder objs = handler_begin(words, {2, "Wrong usage: upmodify templatefile\n"}, request, RequestCopy::all);
  if (!objs) objs = std::make_unique<objlist>();
  if (check_separators(request, *objs, kShownRecord) != 0) {
    errmsg(kModifyFailed);
    return nullptr;
  }
  return objs;
}

}  // namespace

int up_modify(const std::vector<std::string>& words, exlist* request) {
  objholder objs = begin_change(words, request);
  if (!objs) return 1;
  objlist& l = *objs;
  const bool plain = words.size() == 3;
  const std::string record = objtext(l, "row2form_rec.VALUE");
  if (record.empty()) {
    errmsg("Missing OBJ_CAST_REC \n");
    return -1;
  }
  if (getrowcount(record) != 2) {
    errmsg("pre_modify: Bad record format \n");
    return -1;
  }
  // The shown record is the form's: it sets fields only, never
  // configuration. The stored problem comes back through the problem log,
  // so the form's box holds only the new note.
  db2obj(l, record, request_record(group_object(request)));
  setobjvalue(l, "problem", "", Origin::config);
  if (request) ex2obj(*request, *objs);
  kivtrace("gflag==%d", plain ? 1 : 0);
  if ((plain ? gmodify(l) : modify(l)) != 0) {
    errmsg(kModifyFailed);
    return 1;
  }
  return handler_page(objs.get(), words);
}

int up_respond(const std::vector<std::string>& words, exlist* request) {
  objholder objs = begin_change(words, request);
  if (!objs) return 1;
  objlist& l = *objs;
  kivtrace("Calling the staff default\n");
  const std::string staff = objtext(l, "assigned_to.VALUE");
  if (!staff.empty()) {
    kivtrace("Calling the staff default 1\n");
    if (std::optional<std::string> profile = getdefuser(staff, kStaffProfile)) {
      kivtrace("Calling the staff default: Staff has defaults\n");
      defaultdb2obj(l, *profile, request_record(group_object(request)));
    }
  }
  if (respond(l) != 0) {
    errmsg(kModifyFailed);
    return 1;
  }
  return handler_page(objs.get(), words);
}

}  // namespace kiv

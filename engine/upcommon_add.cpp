// The add of a new case with its checks, hooks, case number, attachments
// and mail, and the plain add of a record of any table.
#include "engine/upcommon_add.h"

#include <memory>

#include "data/packet.h"
#include "data/webhandle_db_ops.h"
#include "engine/nvsend_mail.h"
#include "engine/tk_autoassign.h"
#include "engine/upattachments.h"
#include "engine/upcasenum.h"
#include "engine/upcommon_ops.h"
#include "engine/upcommon_query.h"
#include "engine/upcommon_rules.h"
#include "engine/uphook.h"
#include "engine/upobjdb.h"
#include "engine/upstamp.h"
#include "toolkit/base/kivcgitrace.h"
#include "toolkit/base/kivsettings.h"
#include "toolkit/objects/kivobj.h"
#include "toolkit/text/rowcol.h"

namespace kiv {

namespace {

addhandle make_addhandle(const dbconnection& c, const packet* rec) {
  addhandle h;
  set_connection(h, c);
  h.rec = rec;
  return h;
}

// The status of a new case: none, the status menu's row that nothing was
// chosen from (a form value never holds the row markers: they are refused),
// or any text holding the open state's name ("Open - urgent") is the open
// state. The row counts also when the menu does not offer the open state,
// so that a renamed open state never leaves a new case without a status.
void new_status(objlist& list) {
  const std::string& open = settings().openstate;
  const std::string status = objtext(list, "status.VALUE");
  const bool unchosen_menu = status.ends_with(kRowEnd);
  if (status.empty() || unchosen_menu || (!open.empty() && status.find(open) != std::string::npos))
    adduniqobj(list, "status.VALUE", open);
}

}  // namespace

int pre_add(objlist& list) {
  if (!objtext(list, "slackvar.VALUE").empty()) slackvar(list);
  if (enforce(list) != 0) return -1;
  if (blankform(list) != 0) return -1;
  new_status(list);
  timestamp(list, "problem");
  fieldstamp(list);
  tk_autoassign(list);
  addclosedate(list);
  return 0;
}

int post_add(objlist&) { return 0; }

int add(objlist& list) {
  // Too many attachments stop the add before its hooks, assignment and
  // case number.
  hold_attachment_limit(list);
  primary_func(list);
  std::optional<dbconnection> c = connection_objects(list);
  if (!c) return -1;
  if (pre_add(list) != 0) {
    errmsg("Pre submit failed\n");
    return -1;
  }
  // The record before it has a number: what the pre-add hook judges.
  const std::unique_ptr<packet> first = obj2db(list);
  if (run_hook(list, Hook::pre_add, nullptr, first.get()) != 0) return 1;  // its message is shown

  // A number may carry field values (a picture's items): it is the case's
  // data, not configuration.
  const std::string casenum = casenum_manage(list);
  adduniqobj(list, "case_num.VALUE", casenum, Origin::record);
  auto_match(list);
  attach_files(list);

  const std::unique_ptr<packet> second = obj2db(list);
  if (handle_add(make_addhandle(*c, second.get())) != 0) {
    errmsg("submit operation failed\n");
    return 1;
  }
  run_hook(list, Hook::post_add, nullptr, second.get());
  post_add(list);
  adduniqobj(list, "your_case_num.VALUE", casenum, Origin::record);
  nvsend_mail(list);
  return 0;
}

int gadd(objlist& list) {
  hold_attachment_limit(list);
  if (enforce(list) != 0 || blankform(list) != 0) return -1;
  std::optional<dbconnection> c = connection_objects(list);
  if (!c) return -1;
  fieldstamp(list);
  auto_match(list);
  attach_files(list, kAttachNewFolder);
  const std::unique_ptr<packet> rec = obj2db(list);
  primary_func(list);
  if (handle_add(make_addhandle(*c, rec.get())) != 0) {
    errmsg("submit operation failed\n");
    return 1;
  }
  return 0;
}

}  // namespace kiv

// The changes of an existing case: the modify by its submitter and the
// respond by staff, both over the record check_lock read again from the
// database, and the plain modify of a record of any table.
#include "engine/upcommon_modify.h"

#include <memory>

#include "engine/nvsend_mail.h"
#include "engine/tk_autoassign.h"
#include "engine/upattachments.h"
#include "engine/upcommon_lock.h"
#include "engine/upcommon_ops.h"
#include "engine/upcommon_query.h"
#include "engine/upcommon_rules.h"
#include "engine/uphook.h"
#include "engine/upobjdb.h"
#include "engine/upstamp.h"
#include "toolkit/base/kivcgitrace.h"
#include "toolkit/base/kivsettings.h"
#include "toolkit/objects/kivobj.h"
#include "toolkit/text/kivtext.h"
#include "toolkit/text/rowcol.h"
#include "toolkit/security/security.h"

namespace kiv {

namespace {

bool row_number_set() { return settings().row_number.has_value(); }

// The record of the form, row2form_rec.VALUE, as a packet: row 1 its keys,
// row 2 its data. -1 after "Missing OBJ_CAST_REC \n", `badformat` for a text
// that has not exactly two rows, or the mismatch message when the rows
// differ in column count.
int form_record(const objlist& list, std::string_view badformat, packet& out) {
  const std::string rec = objtext(list, "row2form_rec.VALUE");
  if (rec.empty()) {
    errmsg("Missing OBJ_CAST_REC \n");
    return -1;
  }
  if (getrowcount(rec) != 2) {
    errmsg(badformat);
    return -1;
  }
  out.keys = getrow_or_empty(rec, 1);
  out.data = getrow_or_empty(rec, 2);
  const int datacount = getcolcount(out.data);
  const int keycount = getcolcount(out.keys);
  if (datacount != keycount) {
    errmsg("Error: Mismatch count  between data and \tkeys datacount=%d keycount=%d\n", datacount, keycount);
    return -1;
  }
  return 0;
}

// The old record of a modify or respond: the row check_lock read from the
// database. The form's copy is never taken in its place, so without that row
// the change stops.
bool locked_record(const std::optional<packet>& stored, packet& old) {
  if (!stored) {
    kivtrace("no record was read back for the change: it stops\n");
    return false;
  }
  old = *stored;
  return true;
}

// The value of the old record in the column that `field`'s DBKEY names;
// empty when the field has no DBKEY or the record no such column.
std::string old_value(const objlist& list, const packet& old, std::string_view field) {
  const std::string column = objtext(list, std::string(field) + ".DBKEY");
  if (column.empty()) return std::string();
  return getvaluebykey_or_empty(old.data, old.keys, column);
}

// True when `field` has a DBKEY; false after `missing` when it has none.
bool keyed(const objlist& list, std::string_view field, std::string_view missing) {
  if (!objtext(list, std::string(field) + ".DBKEY").empty()) return true;
  errmsg(missing);
  return false;
}

// id_num needs a DBKEY unless row_number names the row instead.
bool id_keyed(const objlist& list) { return row_number_set() || keyed(list, "id_num", "No OBJ_IDNUM found\n"); }

// The user's login, or none after the two messages of an unknown user.
std::optional<std::string> known_login() {
  std::optional<std::string> login = getuserlogin();
  if (!login) {
    errmsg("Pre_Modify: The system can't determine who are you");
    errmsg("Pre_Modify: Can't change your case ");
  }
  return login;
}

// id_num.VALUE := the old record's id, so that the update finds its row and
// writes the row's own id back, whatever id the form sent. A record without
// an id: false after `missing`, unless row_number names the row instead.
bool take_old_id(objlist& list, const packet& old, std::string_view missing) {
  const std::string id = old_value(list, old, "id_num");
  if (!id.empty()) {
    adduniqobj(list, "id_num.VALUE", id, Origin::record);
    return true;
  }
  if (row_number_set()) return true;
  errmsg(missing);
  return false;
}

// The old record's value in the column `name`; the ODBC road gives column
// names in lower case, so a name that differs only in case is the same
// column. Empty when the record has no such column or nothing in it.
std::string old_column(const packet& old, std::string_view name) {
  if (std::optional<std::string> v = getvaluebykey(old.data, old.keys, name)) return *v;
  const int count = getcolcount(old.keys);
  for (int i = 1; i <= count; ++i)
    if (equal_nocase(getcol_or_empty(old.keys, i), name))
      return getcol_or_empty(old.data, i);
  return std::string();
}

// Where row_number names the row, the update names the row check_lock read:
// row_number_value := that row's value in the row-number column, and the
// object of that name takes it as its VALUE, so a form can neither aim the
// update at another row nor move this row's identity. False after "<prefix>
// row_number column '<name>' MUST has value\n" when the row holds none. The
// last step of a pre-step, after the checks that judge the form's values.
bool take_old_row_number(objlist& list, const packet& old, std::string_view prefix) {
  if (!row_number_set()) return true;
  const std::string& name = *settings().row_number;
  const std::string value = old_column(old, name);
  if (value.empty()) {
    errmsg("%s row_number column '%s' MUST has value\n", prefix, name);
    return false;
  }
  settings().row_number_value = value;
  adduniqobj(list, name + ".VALUE", value, Origin::record);
  return true;
}

// The refusal of a form that names another case number than the stored one.
void refuse_other_case(std::string_view stored, std::string_view sent) {
  errmsg("You can't change case.");
  errmsg("This case is '%s'and you trying to change it to '%s'", stored, sent);
}

// A modify keeps the stored case's number: the attachments go into that
// case's folder and the row keeps it. A form without a number takes the
// stored one; a form that names another is refused with the messages of a
// respond, since the number names the case a user changes.
bool keep_case_number(objlist& list, const packet& old) {
  const std::string stored = old_value(list, old, "case_num");
  const std::string sent = objtext(list, "case_num.VALUE");
  if (sent.empty()) {
    if (!stored.empty()) adduniqobj(list, "case_num.VALUE", stored, Origin::record);
    return true;
  }
  if (sent == stored) return true;
  refuse_other_case(stored, sent);
  return false;
}

enum class Change { modify, respond };

// The steps modify and respond share around their pre-steps.
int change_case(objlist& list, Change kind) {
  // Too many attachments stop the change before its lock check, assignment
  // and hooks.
  hold_attachment_limit(list);
  primary_func(list);
  std::optional<dbconnection> c = connection_objects(list);
  if (!c) return -1;
  // check_lock ends the request itself when the case changed or went.
  const LockCheck lock = check_lock(list);
  packet old;
  if (kind == Change::modify ? pre_modify(list, lock.stored, old) != 0 : pre_respond(list, lock.stored, old) != 0) {
    errmsg(kind == Change::modify ? "Pre modify failed\n" : "Pre respond failed\n");
    return 1;
  }
  attach_files(list);
  const std::unique_ptr<packet> fresh = kind == Change::modify ? modify_obj2db(list) : obj2db(list);
  if (run_hook(list, Hook::pre_modify, fresh.get(), &old) != 0) return 1;  // its message is shown

  modifyhandle h;
  set_connection(h, *c);
  h.new_ = fresh.get();
  h.all = &old;
  const int flag = handle_modify(h);
  if (flag != 0) {
    errmsg("Modify operation failed\n");
    return 1;
  }
  const int result = kind == Change::modify ? post_modify(h, flag, list) : post_respond(h, flag, list);
  run_hook(list, Hook::post_modify, fresh.get(), &old);
  nvsend_mail(list);
  return result;
}

}  // namespace

int modify(objlist& list) { return change_case(list, Change::modify); }

int respond(objlist& list) { return change_case(list, Change::respond); }

int pre_modify(objlist& list, const std::optional<packet>& stored, packet& old) {
  const std::optional<std::string> login = known_login();
  if (!login) return -1;
  if (!id_keyed(list) || !keyed(list, "submitted_by", "No OBJ_SUB_BY found\n") ||
      !keyed(list, "problem", "No OBJ_PROBLEM found\n") || !keyed(list, "case_num", "No OBJ_CASENUM found\n"))
    return -1;
  packet shown;
  if (form_record(list, "pre_modify: Bad record format \n", shown) != 0) return -1;
  if (!locked_record(stored, old)) return -1;
  if (!take_old_id(list, old, "pre_modify OBJ_IDNUM MUST has value\n")) return -1;

  const std::string owner = old_value(list, old, "submitted_by");
  if (owner.empty()) {
    errmsg("pre_modify:Orig OBJ_SUB_BY MUST has value\n");
    return -1;
  }
  if (objtext(list, "allow_modify.VALUE") != "ON" && *login != owner) {
    errmsg("Can't change this case.");
    errmsg("This case is owned by '%s'and you are '%s'", owner, *login);
    return -1;
  }
  if (!keep_case_number(list, old)) return -1;
  if (objtext(list, "mod_status_by_user.VALUE") != "ON") {
    // A modified case goes back to the open state and is assigned anew.
    kivtrace("pre_modify: change status");
    adduniqobj(list, "status.VALUE", settings().openstate);
    tk_autoassign(list);
  }
  addclosedate(list);
  if (catproblem(list, old_value(list, old, "problem")) != 0) return -1;
  if (enforce(list) != 0 || blankform(list) != 0) return -1;
  if (!take_old_row_number(list, old, "pre_modify")) return -1;
  return 0;
}

int post_modify(const modifyhandle&, int, objlist&) { return 0; }

int pre_respond(objlist& list, const std::optional<packet>& stored, packet& old) {
  signature(list);
  if (!known_login()) return -1;
  if (!id_keyed(list) || !keyed(list, "problem", "No OBJ_PROBLEM found\n") ||
      !keyed(list, "case_num", "No OBJ_CASENUM found\n"))
    return -1;
  const std::string casenum = objtext(list, "case_num.VALUE");
  if (casenum.empty()) {
    errmsg("Illogical condition: case # cant be empty\n");
    return -1;
  }
  packet shown;
  if (form_record(list, "pre_respond: Bad record format \n", shown) != 0) return -1;
  if (!locked_record(stored, old)) return -1;
  if (!take_old_id(list, old, "pre_respond OBJ_IDNUM MUST has value\n")) return -1;

  fieldlog(list, old.keys, old.data);
  if (catproblem(list, old_value(list, old, "problem")) != 0) return -1;
  if (catresolution(list, old_value(list, old, "resolution")) != 0) return -1;
  const std::string oldcase = old_value(list, old, "case_num");
  if (casenum != oldcase) {
    refuse_other_case(oldcase, casenum);
    return -1;
  }
  if (enforce(list) != 0 || blankform(list) != 0) return -1;
  kivtrace("origassigned=%s assigned=%s\n", old_value(list, old, "assigned_to"),
           objtext(list, "assigned_to.VALUE"));
  tk_workflow(list);
  addclosedate(list);
  if (!take_old_row_number(list, old, "pre_respond")) return -1;
  return 0;
}

int post_respond(const modifyhandle&, int, objlist&) { return 0; }

int gmodify(objlist& list) {
  kivtrace("Gmodify\n");
  hold_attachment_limit(list);
  primary_func(list);
  if (enforce(list) != 0 || blankform(list) != 0) return -1;
  kivtrace("Modify\n");
  if (!id_keyed(list)) return -1;
  kivtrace("BEFORE pre_modifyr\n");
  packet old;
  if (form_record(list, "pre_modify: Bad record format \n", old) != 0) return -1;
  if (!row_number_set() && !take_old_id(list, old, "pre_modify OBJ_IDNUM MUST has value\n")) return -1;
  std::optional<dbconnection> c = connection_objects(list);
  if (!c) return -1;
  fieldstamp(list);
  attach_files(list, kAttachCaseFolder);
  const std::unique_ptr<packet> fresh = modify_obj2db(list);
  modifyhandle h;
  set_connection(h, *c);
  h.new_ = fresh.get();
  h.all = &old;
  kivtrace("MODIFY befor\n");
  const int flag = handle_modify(h);
  kivtrace("GMODIFY  after\n");
  if (flag != 0) {
    errmsg("Modify operation failed\n");
    return 1;
  }
  kivtrace("GMODIFY POST after\n");
  return 0;
}

}  // namespace kiv

// Changing a case: the modify as its submitter, the respond as staff, their
// checks and hook points, and the plain modify of a record of any table.
#pragma once

#include <optional>

#include "data/packet.h"
#include "data/webhandle_db_ops.h"
#include "toolkit/objects/kivobj.h"

namespace kiv {

// Changes a case as its submitter, in this order: primary_func and the
// connection objects (-1); check_lock, which ends the request itself when
// the case changed or went since the form was built; pre_modify (1 after
// "Pre modify failed\n"); attach_files; the new packet of the fields that
// carry a value (modify_obj2db); the tk_pre_modify hook with the new and the
// old packet (1 when it refuses); handle_modify (1 after "Modify operation
// failed\n"); post_modify, whose result is the result; the tk_post_modify
// hook (not judged); nvsend_mail.
//
// The old record is the row check_lock read from the database
// (its `stored`), never the form's copy in row2form_rec: that copy only
// finds the row and is compared with it, so a forged copy cannot choose the
// owner, the row updated, the case number, the logged texts or the hooks'
// old record. Without that row (check_lock hit a database error) the modify
// stops in its pre-step. The row updated is that row, by its id or, where
// row_number is set, by its value in the row-number column; its case number
// stays, so the attachments go into that case's folder.
int modify(objlist& list);

// The checks of a modify, filling `old` with `stored`, the record check_lock
// read;
// each refusal shows its message and gives -1: the user's login must be
// known; the objects id_num (unless row_number is set), submitted_by,
// problem and case_num need a DBKEY; row2form_rec.VALUE must be a two-row
// record whose rows agree in column count; the row check_lock read must be
// there; its id_num (unless row_number is set) must be non-empty; it becomes
// id_num.VALUE; its owner (the submitted_by column) must be non-empty and be
// the user, unless allow_modify.VALUE is "ON". The case number is the
// stored one: an empty case_num.VALUE takes it, another one is refused with
// "You can't change case." and "This case is '%s'and you trying to change
// it to '%s'" (stored, sent). Then, unless mod_status_by_user.VALUE is "ON",
// the status goes back to the open state and tk_autoassign runs again;
// addclosedate; catproblem with the old problem text, enforce and blankform
// (-1 when one refuses). Last, where row_number is set, the row's value in
// that column becomes the settings' row_number_value and the VALUE of the
// object of that name (-1 after "pre_modify row_number column '%s' MUST has
// value\n" when the row has none). 0 to go on.
int pre_modify(objlist& list, const std::optional<packet>& stored, packet& old);

// The hook point after a modify; `updateflag` is handle_modify's result. 0.
int post_modify(const modifyhandle& handle, int updateflag, objlist& list);

// Answers a case as staff: modify with pre_respond (1 after "Pre respond
// failed\n") and a new packet of every field (obj2db, empty ones as "^^");
// the same hooks and the same old record.
int respond(objlist& list);

// The checks of a respond, filling `old` with `stored`, the record
// check_lock read;
// each refusal shows its message and gives -1: signature; the login must be
// known; id_num (unless row_number is set), problem and case_num need a
// DBKEY and case_num.VALUE a value; row2form_rec.VALUE as for pre_modify;
// the row check_lock read must be there, its id_num non-empty (unless
// row_number is set), becoming id_num.VALUE; fieldlog, catproblem and
// catresolution with the old texts; case_num.VALUE must equal the old
// record's case number; enforce and blankform; then tk_workflow and
// addclosedate; last the row number as in pre_modify ("pre_respond
// row_number column '%s' MUST has value\n"). 0 to go on.
int pre_respond(objlist& list, const std::optional<packet>& stored, packet& old);

// The hook point after a respond. 0.
int post_respond(const modifyhandle& handle, int updateflag, objlist& list);

// Changes a record of any table without the help-desk rules: primary_func;
// enforce and blankform (-1); id_num's DBKEY (unless row_number is set: "No
// OBJ_IDNUM found\n", -1); the old record from row2form_rec.VALUE ("Missing
// OBJ_CAST_REC \n", "pre_modify: Bad record format \n", the column-count
// mismatch message; -1); its id_num (unless row_number is set) non-empty
// ("pre_modify OBJ_IDNUM MUST has value\n", -1) into id_num.VALUE; the
// connection objects (-1); fieldstamp; attach_files; the new packet of the
// fields that carry a value; handle_modify (1 after "Modify operation
// failed\n"). No lock, ownership rule, hooks or mail. 0 stored.
int gmodify(objlist& list);

}  // namespace kiv

// The case operations: add, find, modify, respond and delete of one case over
// the object list a handler loaded (loadobj) and filled from its request, each
// with its pre-step, hook scripts and post-step, and the plain add and modify
// that store a record of any table without the help-desk rules. Every failure
// is told in the page through errmsg; the handler decides what page follows.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "data/packet.h"
#include "data/webhandle_db_ops.h"
#include "toolkit/objects/kivobj.h"

namespace kiv {

// The connection objects as a handle takes them.
struct dbconnection {
  std::string host;
  int timeout = 0;
  std::string database;
  std::string table;
};

// Reads dbserver_hostname, network_timeout (a whole number as atoi reads
// it), db_name and, when `with_table`, db_table_name (each object.VALUE), in
// this order. The first one missing or empty stops the reading: "Missing
// dbhost name object\n", "Missing timeout name object\n", "Missing database
// name object\n" or "Missing table name object\n", and none. Without the
// table (a free statement names its own) `table` stays empty.
std::optional<dbconnection> connection_objects(const objlist& list, bool with_table = true);

// Gives the handle of an operation (addhandle, findhandle, modifyhandle,
// deletehandle) the connection: host, timeout, database and table.
template <class Handle>
void set_connection(Handle& h, const dbconnection& c) {
  h.host = c.host;
  h.timeout = c.timeout;
  h.database = c.database;
  h.table = c.table;
}

// ---- add ----

// A new case, in this order: primary_func and the connection objects (-1);
// pre_add (-1 after "Pre submit failed\n"); a first packet (obj2db); the
// tk_pre_add hook with that packet as the record (1 when it refuses); the
// case number into case_num.VALUE; auto_match; attach_files; the second
// packet, now with the number, matches and attachment fields; handle_add (1
// after "submit operation failed\n"); the tk_post_add hook with the second
// packet (its result not judged); post_add; your_case_num.VALUE := the
// number; nvsend_mail. 0 added. The pre-add hook sees case_num as the form
// sent it; a refusal after the number was drawn leaves the counter advanced
// and stored attachments in place, but the table as it was.
int add(objlist& list);

// The checks and defaults of a new case: slackvar (when slackvar.VALUE is
// set); enforce and blankform (-1 when either refuses); the status (empty:
// the open state; holding the open state's text anywhere: exactly the open
// state; else as submitted); the problem's stamp and fieldstamp;
// tk_autoassign and addclosedate (their results not looked at). 0 to go on.
// A null list: "pre_add head is NULL\n", -1.
int pre_add(objlist* list);

// The hook point after an add. 0.
int post_add(objlist& list);

// ---- find ----

// Finds the cases the search form describes: the connection objects (-1);
// the order (getsortlist; in chart mode, engineflags().chartflag, it is also
// kept as engineflags().chartkey, and no order stops the find with "No
// Chart Key define." and 1; no order means " ", no ordering); pre_find (1
// after "Pre find failed\n"); every DBKEY object of the form as a criterion
// (obj2db, "^^" meaning none); primary_func and join_func; handle_find (1
// after "Find operation failed\n"); then post_find's result.
int find(objlist& list);

// As find, for the one record of a two-row record text (names, then values)
// as criteria instead of the form, and without a chart key: 1 after
// "row2formfind Bad record format \n" when the text has not exactly 2 rows.
int row2formfind(objlist& list, std::string_view record);

// The hook point before a find. 0.
int pre_find(objlist& list);

// Files what a find found. No rows (or no column names): "No record to
// display\n" unless engineflags().finderror is set, 1. In chart mode:
// findresultnum.VALUE := the number of rows, a new chart file
// (gen_chartfile) gets the chart of the chartkey column (producechartdata),
// and chartfile.VALUE := its path, unless the key names no date column and
// chart_sort_by_value.VALUE is "ON", when sortchartbyvalue reorders the
// file and sets it; -1 after "Cannot open file <%s> errno=%d \n" when the
// file cannot be made, or "Cannot write file <%s> errno=%d \n" when it does
// not take the chart whole. Otherwise the names row and the rows go into a
// new scratch data file (gen_tmpdatafile), -1 after "Cannot write file <%s>
// errno=%d \n" when it cannot be written (and no file is left); then
// findresult.VALUE := that text, hidedatafile.VALUE := the file's path
// relative to the home (hidedatafile_value) and findresultnum.VALUE := the
// number of rows. 0 done.
int post_find(findhandle& handle, const findreply& reply, objlist& list);

// Removes the scratch data file (and its owner file) a find filed in
// hidedatafile.VALUE, for a run that shows no next page (a console run, an
// export), and clears hidedatafile. A value that names no scratch data file
// of the home (hidedatafile_path) is only cleared.
void remove_find_file(objlist& list);

// ---- modify and respond ----

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
// (lockrecord()), never the form's copy in row2form_rec: that copy only
// finds the row and is compared with it, so a forged copy cannot choose the
// owner, the row updated, the case number, the logged texts or the hooks'
// old record. Without that row (check_lock hit a database error) the modify
// stops in its pre-step. The row updated is that row, by its id or, where
// row_number is set, by its value in the row-number column; its case number
// stays, so the attachments go into that case's folder.
int modify(objlist& list);

// The checks of a modify, filling `old` with the record check_lock read;
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
int pre_modify(objlist& list, packet& old);

// The hook point after a modify; `updateflag` is handle_modify's result. 0.
int post_modify(const modifyhandle& handle, int updateflag, objlist& list);

// Answers a case as staff: modify with pre_respond (1 after "Pre respond
// failed\n") and a new packet of every field (obj2db, empty ones as "^^");
// the same hooks and the same old record.
int respond(objlist& list);

// The checks of a respond, filling `old` with the record check_lock read;
// each refusal shows its message and gives -1: signature; the login must be
// known; id_num (unless row_number is set), problem and case_num need a
// DBKEY and case_num.VALUE a value; row2form_rec.VALUE as for pre_modify;
// the row check_lock read must be there, its id_num non-empty (unless
// row_number is set), becoming id_num.VALUE; fieldlog, catproblem and
// catresolution with the old texts; case_num.VALUE must equal the old
// record's case number; enforce and blankform; then tk_workflow and
// addclosedate; last the row number as in pre_modify ("pre_respond
// row_number column '%s' MUST has value\n"). 0 to go on.
int pre_respond(objlist& list, packet& old);

// The hook point after a respond. 0.
int post_respond(const modifyhandle& handle, int updateflag, objlist& list);

// ---- delete ----

// Deletes the cases the form selects (the system's `delete`): the connection
// objects (-1), every DBKEY object as a criterion (obj2db), primary_func,
// handle_delete (1 after "Delete operation failed\n"). 0 deleted. A form
// whose criteria are all empty deletes nothing: the statement generator
// refuses a delete without a condition.
int delete_(objlist& list);

// ---- the plain variants ----

// Stores a record of any table without the help-desk rules: enforce and
// blankform (-1), the connection objects (-1), fieldstamp, auto_match, the
// attachments (attach_files with kAttachNewFolder: the record's case number
// is the form's own), the packet (obj2db), primary_func, handle_add (1
// after "submit operation failed\n"). No case number, hooks or mail. 0
// stored.
int gadd(objlist& list);

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

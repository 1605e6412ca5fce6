// Field stamps, logs and form checks. Text fields of a case grow over its
// life: a stamp line (status, date, time, login, action) is appended to them,
// and the problem and resolution fields can keep their old text in front of
// the new. The checks refuse a form that lacks a required field or holds no
// field at all, and slackvar folds extra problem questions into the problem.
//
// The case operations use them in this order:
//   add:     slackvar (when slackvar.VALUE is set), enforce, blankform,
//            timestamp of "problem", fieldstamp;
//   modify:  catproblem (with its stamps), enforce, blankform;
//   respond: fieldlog, catproblem, catresolution, enforce, blankform.
#pragma once

#include <string>
#include <string_view>

#include "toolkit/request/kivexfile.h"
#include "toolkit/objects/kivobj.h"

namespace kiv {

// The stamp line "\n[-%s- %s %s - %s - %s-]": status.VALUE ("*" when it
// begins with "^", a menu with nothing chosen; " " when empty), the date as
// getdate1 gives it, the time as gettime2 gives it, the user's login
// (getuserlogin) or "Unknown", and the request's action or "Unknown", all at
// the engine clock's moment. Nothing is cut, however long the status.
std::string stampline(const objlist& objs);

// Carriage returns before line feeds are dropped from the field's VALUE, and
// the stamp line is appended when the field's rule says so: "problem" when
// problem_timestamp.VALUE reads as the number 1, "resolution" likewise with
// resolution_timestamp, any other field always. A non-empty result becomes
// the field's VALUE (the object is created when missing); an empty one
// leaves the field alone. 0.
int timestamp(objlist& objs, std::string_view field);

// timestamp of every non-empty name in the row field_stamp.VALUE (a text
// that is not a row ended by "^$" names nothing). 0.
int fieldstamp(objlist& objs);

// For every non-empty name in the row field_log.VALUE: the field's VALUE
// becomes the old record's value of the column of that name (from the old
// key and data rows), a line feed and the current VALUE; only one of them
// when the other is empty. 0.
int fieldlog(objlist& objs, std::string_view oldkeys, std::string_view olddata);

// With problem_log.VALUE exactly "ON" and no assignment running (doingassign
// not kDoingAssign), problem.VALUE becomes the old problem text joined with
// the current one as fieldlog joins; then, always, timestamp of "problem"
// and fieldstamp. 0.
int catproblem(objlist& objs, std::string_view oldproblem);

// As catproblem for resolution_log and the field "resolution", with
// timestamp of "resolution" and no fieldstamp. 0.
int catresolution(objlist& objs, std::string_view oldresolution);

// 0 when some object has both a DBKEY and a VALUE; else -1 after
// "blankform: Blank form".
int blankform(const objlist& objs);

// 0 when every required field has a value as its packet column would carry
// it (packetcolumn gives more than "^^": a value of separators only, or a
// menu's item list with nothing chosen, is blank): the non-empty names of
// the row enforce_fields.VALUE when that object has a value (a text that is
// not a row then requires nothing), else every object with a DBKEY and an
// ENFORCE attribute. The first that lacks one gives "'%s' can't be
// blank\n" with its TITLE and -1.
int enforce(const objlist& objs);

// The values a request gives fields must be plain text: row/column text has
// no escape, so "^@", "^$" or "^^" in one would store another value than
// the one typed, or none. Looks at every form variable of the request that
// sets a VALUE ("<name>.VALUE" or "<name>"); the first that holds one of the
// three gives "Invalid characters in '%s'\n" with the TITLE of the object of
// that name (the name itself when it has none) and -1. 0 when none does, or
// without a request. The object `record_object`, when given, carries a
// whole record text (row2form_rec, the case a form was built from), whose
// separators are its own rows and columns: it is passed over.
int check_separators(const exlist* request, const objlist& objs, std::string_view record_object = {});

// Puts one line per extra problem field in front of problem.VALUE: every
// object, in list order, whose NAME holds both ":" and "problem" (a numbered
// question such as "problem:1"), except the rule objects (names beginning
// with maillist_, autoassign_, workflow_, alarmlist_ or message_). A line is
// "%s:%s\n" (TITLE, VALUE), "No Title" standing for a missing TITLE and
// nothing for a missing VALUE. 0.
int slackvar(objlist& objs);

}  // namespace kiv

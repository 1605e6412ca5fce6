// Field rules applied before a case is written: the closing date of a case
// that reaches the closed state, the automatic matches that copy or join
// field values into other fields, and the signature a form chose, appended
// to the problem text.
#pragma once

#include "toolkit/objects/kivobj.h"

namespace kiv {

// date_closed.VALUE := today's date (getdate1) when date_closed_flag.VALUE
// is absent or empty and status.VALUE begins with the closed state
// (settings().closedstate, compared with case over its length). It is set
// again at every operation that finds the case closed. 0.
int addclosedate(objlist& list);

// Applies the match string of the object that auto_match.VALUE names: pairs
// "target=source" separated by ","; a source is a field name or two names
// joined by "|" (their values run together). A non-empty value becomes
// target.VALUE (the object is made when missing); an empty one, a pair
// without "=" and an empty source change nothing. Traced at every step. 0.
int auto_match(objlist& list);

// Appends the signature chosen on the form: the title signature_problem.VALUE
// picks, by its position in signature_control_problem.TITLE, the file name
// at the same position in signature_control_problem.VALUE; the file
// <home>/signature/<name> is read and problem.VALUE becomes the problem text,
// a line end and the signature (the signature alone for an empty problem).
// A missing piece, a title the row lacks, a file name that is not a plain
// name in that folder, and a missing or empty file change nothing. 0.
int signature(objlist& list);

}  // namespace kiv

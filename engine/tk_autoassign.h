// Automatic assignment and workflow: who a new or reopened case goes to (the
// assignment rules, or a card file per category that hands out its logins in
// turn), and who an answered case passes to (the workflow rules). Both set
// assigned_to and what the page shows in showassignedlist, and lay a single
// assignee's staff profile over the form.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "toolkit/objects/kivobj.h"

namespace kiv {

// By autoassign_control.VALUE: "ON" evaluates the assignment rules when
// assigned_to is empty or begins with "nobody" (the three-table model keeps
// the first login only), then stamps date_assigned and time_assigned;
// "CARD" takes the next login of the category's card file when assigned_to
// is empty or exactly "nobody". A single login's staff profile goes onto the
// objects, and a non-empty assigned_state.VALUE becomes status.VALUE.
// 0; -1 when the control is missing ("Auto Assignment is not defined") or
// another word ("Auto Assignment is OFF").
int tk_autoassign(objlist& list);

// With workflow_control.VALUE "ON": the workflow rules' list, when not
// empty, replaces assigned_to as the "ON" assignment does (without status,
// date or time). 0; -1 when the control is missing or not "ON".
int tk_workflow(objlist& list);

// The next login of the card file <home>/client/config/assign_<category>, or
// of <home>/client/config/assign when the category is empty, fails the path
// check or has no file. The marked login ("*" in front) is handed out and the
// mark moves to the next one (the first after the last); without a mark the
// first login is handed out and marked. The file is read and rewritten under
// a lock ("<file>.lock") through a synced temporary file, so concurrent
// requests take turns and the file stays whole. None after "Cannot open assin
// file <%s> \n" when neither file opens, for a file without any login (left
// as it is), and when the lock or the rewrite fails (after its message).
std::optional<std::string> card_assign(std::string_view category);

}  // namespace kiv

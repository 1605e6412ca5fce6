// The two maintenance runs of the dispatcher's console: every user or staff
// profile file copied into the users or staff table of the three-table
// model, and the resolution text of every case folded into its problem text.
// Both load the case objects as a command does and write their progress
// lines to standard output.
#pragma once

#include <functional>
#include <string_view>

namespace kiv {

// Copies every profile under <home>/users (flag kUserProfile) or
// <home>/staff (kStaffProfile) into its table, one plain add (gadd) each,
// entries in the order of their names. A folder, a file that is no profile
// (not two rows, or a name that is no login) and a profile that lays nothing
// onto the form are passed over without a word. For a user:
// enforce_fields.VALUE "submitted_by^$"; date_subnew and date_submod today
// (getdate1, taken once); sub_login := submitted_by.VALUE. For staff:
// enforce_fields.VALUE "assigned_to^$"; sa_permissions "staff", sa_access
// "active", date_sanew and date_samod today; sa_login := assigned_to.VALUE.
// The table is db_users_table_name.VALUE (db_staff_table_name.VALUE), as
// the three-table model reads it, else "users" ("staff"). Prints
// "converting profile for '%s' \n" before each add.
// 0 when every add was done; 1 when one was refused or failed (its message
// shown; the others are still added), when tk_obj cannot be read, or when
// the folder cannot be listed ("Can't open dir='%s' errno=%d. \n", with the
// pattern "<home>/users/*.*" or "<home>/staff/*.*").
int convertprofiles(int flag);

// Folds each case's resolution into its problem: the problem becomes
// "<problem>\n\n---Resolution---\n<resolution>" and the resolution empty.
// Prints "Finding Records\n", shows "NVHOME=%s", finds every case with an
// empty form (failure: "Error finding records\n", the process ends with
// status 1), prints "Total Cases=%d\n", then per case "Merging ticket
// id_num=%s:" and "ticket needs to be merged\n" or "ticket does not need to
// be merged\n". Each case is read again by its id_num just before it is
// changed, and merged from that row, so that an answer given since the find
// is neither lost nor merged twice; a case whose resolution is empty then,
// or that is gone, is left alone. The find's scratch file is removed.
// 0 after the last case; 1 when a case could not be read again or updated
// ("Modify operation failed\n"; the cases after it stay unmerged); -1 when
// tk_obj cannot be read or a connection object is missing.
int merge_problem_resolution();

// A test's look at the merge between its find and each case: called with
// the case's id_num right before the case is read again. Empty outside
// tests.
std::function<void(std::string_view id)>& merge_before_case();

}  // namespace kiv

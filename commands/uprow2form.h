// The command that puts one stored case onto a form: the record that the
// criteria of row2form_rec find, shown for a change (its menus kept, the
// staff member's defaults in the empty fields) or for viewing only.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "toolkit/request/kivexfile.h"
#include "toolkit/objects/kivobj.h"

namespace kiv {

// up_row2form <template> [-v | <error page>] [<error page>]. The request
// goes onto the objects; row2form_rec.VALUE holds the criteria of the record
// to fetch as a two-row record text (column names, then criteria), or
// "findmyrec_<column>", which asks for the record whose <column> is the
// user's login (findmyrec_criteria). Then the query macros run
// (runsqlqueries), the stored query of sql_control applies and row2formfind
// fetches the record.
// - Found: with the third word "-v" the record goes onto the objects for
//   viewing (vdb2obj: "*" for an empty field); otherwise for a change
//   (db2obj, menus keeping their items), the user's staff profile filling
//   the fields still empty (catdb2obj), and date_closed.VALUE := today when
//   no date_closed_flag value is configured. Then the case's attachments are
//   listed (addattachdata) and the page of the template gives the status.
// - Not found: the error page when there is one, printed over the objects
//   without the find's own message (engineflags().finderror), and its
//   status; else "No records found\n" and 1.
// The error page is the third word when it is not "-v", else the fourth
// word, both under client/kivhtml/tk; engineflags().errorpageflag says
// whether there is one (two words leave it as it was, 0 in a new process).
// Messages and statuses: fewer than 2 words "Wrong usage: upfind
// templatefile\n" and 2; an empty row2form_rec.VALUE "OBJ_CAST_REC is
// empty\n" and 1.
int up_row2form(const std::vector<std::string>& words, exlist* request);

// The criteria of "findmyrec_<column>" (anything after the value's first
// "_" names the column): the column, "^$", the login written as a literal
// criterion (literal_criterion: it matches that login alone, whatever
// commas, dashes or carets it holds) and "^$". None without a login, for a
// column that is no plain name, and for a login no row can carry.
std::optional<std::string> findmyrec_criteria(std::string_view value, const std::optional<std::string>& login);

}  // namespace kiv

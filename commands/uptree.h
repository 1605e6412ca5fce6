// The record tree: found cases grouped by up to four fields the user picks,
// each group labelled with the number of cases below it and every case a
// leaf that links to the page that opens it. The handler builds the tree
// and writes it as the body of a JavaScript function, buildtree, which the
// page template runs with drawing functions of its own (newnode,
// insertnode, insertleaf, buildleaf, clickonnode).
#pragma once

#include <string>
#include <vector>

#include "toolkit/request/kivexfile.h"

namespace kiv {

// up_tree <template> [action] [query]: fewer than 2 words: "Wrong usage:
// uptree templatefile\n", status 2. The request goes onto the objects
// (ex2obj); status 1 when tk_obj cannot be read.
//
// Levels: the titles sort_titles1_menu to sort_titles4_menu hold (a menu
// still holding its item list gives its selected item, sortmenu_title).
// Level 1 must have one, and no level may follow a missing one: "Tree has
// bad levels.\n", status 1. Each title must be the TITLE of a field with a
// DBKEY: "Tree level title does not match dbkey.\n", status 1. Traced as
// "SORTKEY<n>=<column>".
//
// The find of the form's criteria (find, ordered by the same menus): "No
// records found\n" after a failure, status 1. The login (getuserlogin)
// must be known: "up_tree: The system can't determine who are you",
// status -1.
//
// Each case is a leaf below the nodes of its level values, in the order the
// rows came; a value's "/" is shown as "-", an empty value as "Blank", and
// values that differ only in the case of their letters share the node of
// the first one met. A node's count is the number of leaves below it; the
// root is "Start Summary". Each leaf links to link_program.VALUE with the
// action words[2] (three words), the query words[3] in front and the action
// words[2] (four words), or the action "vrow2form" (any other count), the
// session key (html_skey), the login, and the record's own case number as
// the one-row criterion of row2form_rec.VALUE (literal_criterion); the
// key, the login and the record are URL-encoded. Every text written into
// the code is escaped as JavaScript (js_escape); a shown name has each
// apostrophe as a grave accent and each double quote as two. The code goes
// into treeresult.VALUE; then the page words[1], whose result is the
// status. Without a find result: "FIND RESULT is NULL\n" and a tree of the
// root alone.
int up_tree(const std::vector<std::string>& words, exlist* request);

}  // namespace kiv

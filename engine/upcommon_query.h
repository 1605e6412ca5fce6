// Query settings: the per-operation values that the SQL generator and the
// case operations read when they build a statement, filled from
// configuration objects: a join condition and a distinct column list, a
// stored query, the column that identifies a row, and the order of a find.
// They only fill settings(); every value reaches SQL through the generator,
// which checks names, lists and conditions and writes values by column type.
#pragma once

#include <optional>
#include <string>

#include "toolkit/objects/kivobj.h"

namespace kiv {

// join_condition and distinct_condition of the settings: a copy of
// join_condition.VALUE and distinct_condition.VALUE, none when empty. 0.
int join_func(const objlist& list);

// Applies the stored query that sql_control.VALUE names (object Q): Q.VALUE
// becomes join_condition.VALUE, Q.CONTROL db_table_name.VALUE and Q.TITLE the
// settings' sql_control_sort; an empty attribute leaves its target as it
// was. No name: nothing changes. Traced at every step. 0.
int sql_control(objlist& list);

// row_number of the settings: a copy of row_number.VALUE, none when empty;
// row_number_value: the VALUE of the object that row_number names, none
// when row_number is none or that object has no value. 0.
int primary_func(const objlist& list);

// The title sort_titles<menu>_menu.VALUE holds: the menu's selected item
// (its first column) when the VALUE still carries the item list
// ("chosen^@item^@...^$"), else the VALUE itself; empty when there is none.
// The sort menus of a find and the levels of the record tree read it.
std::string sortmenu_title(const objlist& list, int menu);

// The order list of a find: the stored query's order when sql_control set
// one; else the columns (DBKEYs, found by getsortkey) of the titles chosen in
// sort_titles1_menu to sort_titles4_menu joined by ", ", stopping at the
// first menu without a title or a column. The Linux flavour reads the first
// menu only. None when there is no column. Each menu's title is
// sortmenu_title's.
std::optional<std::string> getsortlist(const objlist& list);

// getsortlist, "" when there is no column.
inline std::string getsortlist_or_empty(const objlist& list) { return getsortlist(list).value_or(std::string()); }

}  // namespace kiv

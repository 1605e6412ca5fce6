// The field settings pages: the fields of the case form are objects of
// tk_obj whose DBKEY names their column in the case table; a menu field has
// TYPE "MENU" and its choices in VALUE; a dynamic menu field is an object
// named "dynamic-menu_..." without a DBKEY of its own. These operations list,
// add, modify and delete them from the field form (admin_obj: dbkey_name,
// dbkey_title, enforce, dbkey_value); the frame saves tk_obj after a change
// and lists the fields again.
//
// A field's name is also its object name and its column, so a name the
// editor creates is a lower-case letter followed by lower-case letters,
// digits and "_" (at most 63), and its column must already exist in the
// case table; the editor changes no table. A dynamic menu's name is
// "dynamic-menu_" followed by such characters. Objects that are no field
// (settings, hooks, rules) are never changed by these pages.
#pragma once

#include <string>
#include <string_view>

#include "toolkit/objects/kivobj.h"

namespace kiv {

// "Dynamic": the first ten characters of the name are those of
// "dynamic-menu_".
bool is_dynamic_field(std::string_view name);

// Add (0) or modify (1) a plain field: NAME and DBKEY the name, TITLE the
// title (required), ENFORCE the enforce value when one is sent. Refusals,
// each ending the process with status 0 before anything is saved: "Missing
// field name object\n", "field '%s' already exists. add field faild\n" (add),
// "Bad field name '%s'\n" (a name it would create), "'%s' is not a field\n"
// (modify of an object without a DBKEY), "Missing field title object\n", and
// for a new field the column check ("Field '%s' has no column in the table
// '%s'. Add the column to the database first.\n", "Cannot read the columns
// of the table '%s'\n", or the connection objects' own message).
void addflatfield(int modify);

// The same for a menu field (TYPE "MENU", the choices of dbkey_value, one a
// line, as VALUE) or a dynamic one (name and VALUE only; no title needed;
// "***" opens each row). The choices are required ("Missing field title
// object\n", this same wording). A modify keeps the menu's selected item
// while it is still one of the choices.
void addmenufield(int modify);

// admin_alldbfields.VALUE on tk_obj: the header row "name", "title", "type",
// "enforce", then a row per field (id_num left out) with its NAME, TITLE ("*"
// when none), TYPE ("MENU" or "TEXT") and ENFORCE ("Yes" or "No"); with the
// flag 1 also every dynamic menu field (TYPE "DYNAMIC"). The objects get
// these values in memory, for the page.
void listdbfields(int flag);

// Appends the row of one field to a field list: NAME, TITLE ("*" put on the
// object when it has none), `type` and ENFORCE ("Yes" for "1", else "No",
// put on the object too), each made safe for row/column text.
void append_field_row(std::string& list, kivobj& field, std::string_view type);

// The field form filled from the field dbkey_name names, and the template of
// the modify page chosen ("database/mod_flat_field.html" or
// "database/mod_menu_field.html"); a name no field bears leaves the template
// empty. A menu's choices are shown one a line without its selected item; a
// dynamic menu's rows with "***" before each first column.
void modfield();

// The checks a new field passes, for an editor that makes an object a field
// (gives it a DBKEY): its name as the field editor may create one ("Bad
// field name '%s'\n"), then its column in the case table (the column
// check's messages). Each refusal ends the process with status 0.
void check_new_field(std::string_view name);

// Removes the field dbkey_name names from tk_obj; an unknown name, id_num and
// an object that is no field change nothing.
void delfield();

}  // namespace kiv

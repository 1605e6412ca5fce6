// Menus of the case objects chosen at start-up: item lists picked by the
// entry point's trigger (MENUTRIG), and the scripts of dependent menus that
// refill one selection list when another changes.
#pragma once

#include <string>
#include <string_view>

#include "toolkit/objects/kivobj.h"

namespace kiv {

// For every object whose TYPE (looked up by its name in the list) is "MENU":
// its VALUE, then its TITLE, when it has more than one row, becomes the row
// after the first odd row whose first column is the trigger, or row 2 when
// no odd row names it. 0.
int build_menu(objlist& objs, std::string_view trigger);

// For every object named "dynamic-menu_<field>": its TITLE becomes the
// script of the function <field>_updatemenu, which refills the options of
// the form's <field> with the items of the VALUE row whose first column is
// the chosen text of the controlling list. Items are escaped as JavaScript
// and the script is valid for any rows. 0.
int dynamic_menu(objlist& objs);

// The script dynamic_menu builds for the field and rows.
std::string dynamic_menu_script(std::string_view field, std::string_view rows);

}  // namespace kiv

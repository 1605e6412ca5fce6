// The save of the chart settings page: the folder the chart pictures are
// written to, the web address under which that folder is shown, and the
// program a chart links to, copied from the submitted form into ce_obj.
#pragma once

#include <string_view>

namespace kiv {

// "mod_chartssettings": copies pictmpdir.VALUE, pref_pictmpdir.VALUE and
// link_program.VALUE from admin_obj (the submitted form) into ce_obj, marked
// as request text, for the frame to save. All three are required, checked
// before anything changes: a blank one prints "Error:<name> can't be blank\n"
// through errmsg and ends the process with status 0, so nothing is written.
// Without a ce_obj file the values go into a new list, which the save
// creates.
void modchartssettings(std::string_view word);

}  // namespace kiv

// The default profile commands: the case form of a new case filled from the
// profiles of its submitter and its assignee (up_df), a person's own
// defaults put on a form for editing (up_getdf), and a submitted form saved
// as a profile (up_sedf). Profiles are the two-row records of
// engine/upprofile.h under <home>/users and <home>/staff.
#pragma once

#include <string>
#include <vector>

#include "toolkit/request/kivexfile.h"

namespace kiv {

// up_df <template> <flag>. Fewer than 3 words: "Wrong usage: up_df
// templatefile flags\n", status 2.
//   -ss  the request is not copied onto the objects: nv_remote_user.VALUE
//        takes the request variable nv_remote_user, and the request
//        variables submitted_by.VALUE and assigned_to.VALUE name the user and
//        the staff member (the last non-empty variable of each name). The
//        user's profile goes onto the objects (db2obj), then the staff
//        member's into the fields still empty (catdefdb2obj); a field the
//        user's profile filled keeps that value, a menu included.
//   -us  the request onto the objects (ex2obj), then the profile of the
//        request's login (db2obj).
//   -as  the request onto the objects, then the staff profile of
//        assigned_to.VALUE into the fields still empty (catdefdb2obj).
// With these three date_open.VALUE becomes today (getdate1). Any other flag
// only loads the objects. A missing or unreadable profile is none. Then the
// page of the template gives the status; 1 when tk_obj cannot be read.
int up_df(const std::vector<std::string>& words, exlist* request);

// up_getdf <template> <flag>: the login's own profile on the form, without
// the request: the staff profile for "-s", the user profile for any other
// flag. Each non-empty value of the profile becomes its field's VALUE (a
// menu keeps its items behind it). Without a profile the login itself goes
// into assigned_to (staff) or submitted_by (user), a menu keeping its items.
// Fewer than 3 words: "Wrong usage: up_df templatefile\n", status 2. The
// page gives the status; 1 when tk_obj cannot be read.
int up_getdf(const std::vector<std::string>& words, exlist* request);

// up_sedf <template> <flag>: the form (ex2obj) saved as a profile, its text
// the key row and the data row of obj2db. The flag chooses the kind and
// whose profile it is: "-u" the login's user profile, "-s" the login's
// staff profile, each only when the form's owner (submitted_by.VALUE for a
// user, assigned_to.VALUE for staff) is empty or the login ("You can't
// submit/edit other people defaults\n", -1); "-uf" the user profile of the
// form's submitted_by, "-sf" the staff profile of its assigned_to; any other
// flag as "-u". In this order: no login: "You are not authenticated. You
// can't submit/edit defaults.\n", -1; the owner rule; when
// enforce_on_profile.VALUE is set, enforce (-1 after its message); an empty
// text: "Error submit/edit defaults\n", -1. An empty owner under "-uf" or
// "-sf" saves nothing, and the page follows. A profile that update_user
// does not write (an invalid name, a file that cannot be written) ends with
// 1 after its message and no page: a save that failed is never shown as
// saved. Else the page gives the status. Fewer than 3 words: "Wrong usage:
// up_df templatefile\n", status 2.
int up_sedf(const std::vector<std::string>& words, exlist* request);

}  // namespace kiv

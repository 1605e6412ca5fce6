// The administration command. up_admin loads the administration's three
// object lists (admin_obj for its forms, tk_obj and ce_obj for the settings it
// edits), runs the operation that the request's action word names in the
// action table (upadmin_table.h), writes the edited object files back through
// saveobjfile and prints the answer page from an administration template.
// The state, the loading and the saving every editor shares are in
// upadmin_state.h, below the editors; this module sits on top of them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "admin/upadmin_state.h"
#include "toolkit/request/kivexfile.h"
#include "toolkit/objects/kivobj.h"

namespace kiv {

// The handler the dispatcher calls for every action whose command line begins
// with "up_admin". The action word is the request's (KIVACTION, kept in the
// request context); words[1] is the template of the answer page. Gives the
// result of the page print (0, or 1 when the template cannot be read), also
// for a word no built action answers, which gets the ordinary page; the
// dispatcher ends the request with 0 after any of them.
// Ends the process itself (kiv::Exit): before anything is loaded, -1 for a
// request without a login the web server checked (kAdminNeedsLogin) and for
// a writing action (one whose row saves a file) that is not a POST from this
// site's own pages (kAdminOwnPages); -1 when admin_obj or tk_obj cannot be
// loaded; 0 without an action word ("No KIVACTION is defined\n"); -1 with
// kObjFileChanged for a writing action whose form lacks the current
// admin_version.VALUE; 0 when an operation finds a form value missing
// (before anything is written); and when a save fails (see saveobjfile).
int up_admin(const std::vector<std::string>& words, exlist* request);

// Prints "<home>/client/kivhtml/admin/<template>" over the page chain tk_obj,
// ce_obj (when loaded), admin_obj, so that a tk_obj value wins over a ce_obj
// value over a form value; admin_obj's admin_version.VALUE is set to the
// files' version first. `objs` is not used. 0, or 1 when the template cannot
// be read (or would lie outside the administration templates).
int showadminpage(const objlist* objs, const std::string& templ);

// The same template printed over `objs` alone (the chart settings, ce_obj),
// and behind it a list holding nothing but the page's admin_version.
int showcepage(const objlist* objs, const std::string& templ);

// The refusals of the administrator check, each with status -1: no login
// that the web server checked (AUTH_TYPE and REMOTE_USER), and a change that
// did not come by POST from a page of this site (HTTP_ORIGIN, or else
// HTTP_REFERER, naming another host than HTTP_HOST).
inline constexpr std::string_view kAdminNeedsLogin = "The administration needs a login checked by the web server\n";
inline constexpr std::string_view kAdminOwnPages = "The administration takes changes only from its own pages\n";

}  // namespace kiv

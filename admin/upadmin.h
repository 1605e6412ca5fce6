// The administration command. up_admin loads the administration's three
// object lists (admin_obj for its forms, tk_obj and ce_obj for the settings it
// edits), runs the operation that the request's action word names in the
// action table (upadmin_table.h), writes the edited object files back through
// saveobjfile and prints the answer page from an administration template.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/upcommon.h"
#include "toolkit/request/kivexfile.h"
#include "toolkit/base/kivlock.h"
#include "toolkit/objects/kivobj.h"

namespace kiv {

// The handler the dispatcher calls for every action whose command line begins
// with "up_admin". The action word is the request's (KIVACTION, kept in the
// request context); words[1] is the template of the answer page. Gives the result of the page print (0, or 1 when the template
// cannot be read), also for a word no built action answers, which gets the
// ordinary page; the dispatcher ends the request with 0 after any of them.
// Ends the process itself (kiv::Exit): before anything is loaded, -1 for a
// request without a login the web server checked (kAdminNeedsLogin) and for
// a writing action (one whose row saves a file) that is not a POST from this
// site's own pages (kAdminOwnPages); -1 when admin_obj or tk_obj cannot be
// loaded; 0 without an action word ("No KIVACTION is defined\n"); -1 with
// kObjFileChanged for a writing action whose form lacks the current
// admin_version.VALUE; 0 when an operation finds a form value missing
// (before anything is written); and when a save fails (see saveobjfile).
int up_admin(const std::vector<std::string>& words, exlist* request);

// What the administration knows of an object file it may write back: the
// bytes the loader read (none: there was no file), so that a save can tell
// whether someone else changed the file since, and the lock held on it.
struct objfile_state {
  bool loaded = false;
  std::optional<std::string> text;
  FileLock lock;  // held on <name>.lock from load to save
};

// The administration's process-wide state, one per request.
struct AdminState {
  // The command start-up's holder; loadadminobj puts admin_obj into it. The
  // request variables land here; it is never written back.
  objholder admin_obj;
  // The lists the operations edit and saveobjfile writes back.
  objholder tk_obj;
  objholder ce_obj;
  // The template modfield chose, relative to the administration templates.
  std::string modfield_template;
  // By object file name ("tk_obj", "ce_obj").
  std::map<std::string, objfile_state, std::less<>> files;
};

AdminState& admin();
// Back to a new process's state: lists dropped, locks released.
void reset_admin();

// Each loads "<home>/client/config/<name>" into its list and gives it, or
// gives none after the loader's message ("Cannot open object file '%s'.
// errno=%d\n"). loadtkobj and loadceobj remember the bytes they read for
// saveobjfile's check.
objlist* loadadminobj();
objlist* loadtkobj();
objlist* loadceobj();

// Prints "<home>/client/kivhtml/admin/<template>" over the page chain tk_obj,
// ce_obj (when loaded), admin_obj, so that a tk_obj value wins over a ce_obj
// value over a form value; admin_obj's admin_version.VALUE is set to the
// files' version first. `objs` is not used. 0, or 1 when the template cannot
// be read (or would lie outside the administration templates).
int showadminpage(const objlist* objs, const std::string& templ);

// The same template printed over `objs` alone (the chart settings, ce_obj),
// and behind it a list holding nothing but the page's admin_version.
int showcepage(const objlist* objs, const std::string& templ);

// Writes `objs` back as the object file "<home>/client/config/<name>" in the
// canonical object-file form, so that a reader always finds either the old
// or the new file whole:
// - under an exclusive lock on "<name>.lock" beside it (the one up_admin took
//   at load time, or one taken for the save);
// - refused when the file is no longer what loadtkobj/loadceobj read, so that
//   no one's change is overwritten unseen;
// - the new text goes to a new temporary file beside the live one, written,
//   synced and closed;
// - the live file's bytes are copied to a backup under "<home>/tmp" named
//   "<name>.<time>", or "<name>.<time>.<n>" when that name is taken (a file
//   that does not exist yet needs no backup and is created);
// - the temporary file is renamed over the live one.
// 0 on success. Any failure prints its message through errmsg, removes what
// the save had begun and ends the process (kiv::Exit): -1 when the temporary
// file cannot be created ("Cannot open file '%s' for writing. errno=%d\n")
// or the file changed since it was loaded; 1 when the list cannot be written
// as an object file, the backup cannot be made, a write fails or the rename
// fails ("Can't rename %s to %s errno=%d\n").
int saveobjfile(const objlist* objs, std::string_view name);

// Takes the exclusive lock of an object file for the rest of the request (or
// until unlock_objfiles). Waits while another process holds it. A lock file
// that cannot be opened leaves the file unlocked (the save-time check still
// guards it); -1 then, else 0.
int lock_objfile(std::string_view name);
void unlock_objfiles();

// The version of the object files a page was printed from: 32 hexadecimal
// digits, a digest of the tk_obj bytes and one of the ce_obj bytes (sixteen
// zeros for a file that does not exist). Every page carries the request's in
// admin_version.VALUE; a writing action is refused unless its form sends
// back the version of the files as they are now, so that a page another
// save overtook cannot overwrite that change.
std::string objfiles_version(const std::optional<std::string>& tk, const std::optional<std::string>& ce);
// The version of the files as this request loaded or last saved them.
std::string admin_version();
// The half of a version that one file's bytes give (16 hexadecimal digits,
// zeros for a file that does not exist), for a page that shows another file
// than the object files and must not overwrite a change made after it.
std::string file_version(const std::optional<std::string>& text);

// The refusals of the administrator check, each with status -1: no login
// that the web server checked (AUTH_TYPE and REMOTE_USER), and a change that
// did not come by POST from a page of this site (HTTP_ORIGIN, or else
// HTTP_REFERER, naming another host than HTTP_HOST).
inline constexpr std::string_view kAdminNeedsLogin = "The administration needs a login checked by the web server\n";
inline constexpr std::string_view kAdminOwnPages = "The administration takes changes only from its own pages\n";

// The message of a save refused because the file changed since it was loaded.
inline constexpr std::string_view kObjFileChanged =
    "The file '%s' was changed by someone else after this page loaded it; nothing was saved. "
    "Reload the page and make the change again.\n";

}  // namespace kiv

// The administration's per-request state and its object files: the lists
// the editors work on, their loading, the locks held from load to save, the
// versions a page carries, and the save that writes a list back whole. Every
// editor builds on this; the command that dispatches to them (upadmin.h)
// sits above.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "engine/upcommon.h"
#include "toolkit/base/kivlock.h"
#include "toolkit/objects/kivobj.h"

namespace kiv {

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

// The message of a save refused because the file changed since it was loaded.
inline constexpr std::string_view kObjFileChanged =
    "The file '%s' was changed by someone else after this page loaded it; nothing was saved. "
    "Reload the page and make the change again.\n";

}  // namespace kiv

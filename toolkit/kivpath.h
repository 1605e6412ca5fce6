// Checks for path parts that come from a request or a record, and the safe
// rewrite of a file (temporary file beside it, synced, renamed over it).
#pragma once

#include <string>
#include <string_view>
#include <sys/types.h>

namespace kiv {

// True when `part` may name one entry inside a folder: not empty, no "/",
// no "\", no "..", no control characters, and no leading "." unless allowed.
bool safe_name(std::string_view part, bool allow_leading_dot = false);

// True when `path`, taken lexically, lies inside `folder` (or is it).
bool path_under(std::string_view folder, std::string_view path);

// How write_file_atomic writes: the mode of a file that is new (a file it
// replaces keeps its own), and whether the file and its folder are synced so
// that a reported save survives a crash (a scratch copy that is read once
// and removed needs no sync).
struct AtomicWrite {
  mode_t new_mode = 0644;
  bool durable = true;
};

// What write_file_atomic did: true when the file was replaced. A failure
// says whether the temporary file could be made at all (`created` false:
// nothing could be opened for writing) or the failure came later (writing,
// syncing, renaming); errno holds the reason either way.
struct AtomicWritten {
  bool done = false;
  bool created = false;
  explicit operator bool() const { return done; }
};

// Writes `content` to a unique temporary file beside `path` (created
// exclusively, never through a link), syncs it, renames it over `path` and
// syncs the folder, so readers see the old or the new file whole and a
// reported save survives a crash. Whatever stands at `path` is replaced,
// never written through: a link there is not followed.
// False (and `path` untouched) on any failure; `error` then says why.
AtomicWritten write_file_atomic(const std::string& path, std::string_view content, std::string* error = nullptr,
                                const AtomicWrite& how = {});

// True when `path` names a regular file or nothing; else false with errno
// set (ELOOP for a link, EISDIR for a folder, EINVAL for anything else).
// For writers that replace only files.
bool replaceable_file(const std::string& path);

}  // namespace kiv

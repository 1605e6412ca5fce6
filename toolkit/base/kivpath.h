// Checks for path parts that come from a request or a record, the safe
// rewrite of a file (temporary file beside it, synced, renamed over it), and
// the removal of the stale files a killed writer leaves behind.
#pragma once

#include <chrono>
#include <span>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace kiv {

// True when `part` may name one entry inside a folder: not empty, no "/",
// no "\", no "..", no control characters, and no leading "." unless allowed.
bool safe_name(std::string_view part, bool allow_leading_dot = false);

// The path taken lexically, without asking the file system: runs of "/" as
// one, "." parts dropped, each "name/.." pair removed, ".." directly under
// the root dropped. A "/" stays at the end after a name (also where a "."
// or a removed pair stood last), never after "..". A path that comes to
// nothing is "." ("/" under the root); an empty path stays empty. These are
// the rules of std::filesystem's lexically_normal on POSIX, written out so
// that no program carries that library for two string checks.
std::string lexical_normal(std::string_view path);

// True when `path`, taken lexically (lexical_normal), lies inside `folder`
// (or is it).
bool path_under(std::string_view folder, std::string_view path);

// How write_file_atomic writes: the mode of a file that is new (a file it
// replaces keeps its own), whether the file and its folder are synced so
// that a reported save survives a crash (a scratch copy that is read once
// and removed needs no sync), and whether an entry already at the path is
// replaced. Without `replace` the file is made only where nothing stands
// (the new file is linked to its name, which fails with EEXIST when the name
// is taken, whatever it names), so two writers can never both create it.
struct AtomicWrite {
  mode_t new_mode = 0644;
  bool durable = true;
  bool replace = true;
};

// What write_file_atomic did: true when the file was written and, when
// durable, synced with its folder. A failure says whether the temporary
// file could be made at all (`created` false: nothing could be opened for
// writing) and whether the new content stands at the path all the same
// (`in_place`: it was renamed or linked there, but the folder could not be
// synced afterwards, so the change may not survive a crash); errno holds
// the reason either way.
struct AtomicWritten {
  bool done = false;
  bool created = false;
  bool in_place = false;
  explicit operator bool() const { return done; }
};

// Writes `content` to a unique temporary file beside `path` (created
// exclusively, never through a link), syncs it, renames it over `path` (or
// links it there when `how.replace` is false) and syncs the folder, so
// readers see the old or the new file whole and a reported save survives a
// crash. Whatever stands at `path` is replaced, never written through: a link
// there is not followed. On a failure `error` says why, the temporary file is
// gone, and `path` is as it was unless `in_place` says that only the folder
// sync failed.
AtomicWritten write_file_atomic(const std::string& path, std::string_view content, std::string* error = nullptr,
                                const AtomicWrite& how = {});

// Removes the litter a writer that was killed left in `folder`: every entry
// whose name begins with `prefix` and that is a regular file last changed
// more than `age` ago. Links, folders and anything else stay; entries are
// looked at and removed by name inside the opened folder, so nothing is
// followed through a link. The number removed (0 when the folder cannot be
// read).
//
// With a `marker` (a name inside the folder that does not begin with
// `prefix`), the folder is looked through at most once per `age`: a regular
// file of that name changed less than `age` ago says it was done lately, and
// otherwise the marker is renewed first. For folders that grow with the
// data, where reading every entry on every call would cost more than it
// saves.
int remove_stale_files(const std::string& folder, std::string_view prefix, std::chrono::seconds age,
                       std::string_view marker = {});

// The same sweep over the entries beginning with any of `prefixes`, its
// marker (when given) renewed at most once per `interval`, which may be
// shorter than `age`; an entry removed takes the regular file
// "<name><companion>" with it (when a companion is given), whatever that
// one's age, so a file and its side file go together.
struct StaleFiles {
  std::span<const std::string_view> prefixes;
  std::chrono::seconds age{};
  std::string_view marker{};
  std::chrono::seconds interval{};
  std::string_view companion{};
};
int remove_stale_files(const std::string& folder, const StaleFiles& which);

// The age past which a writer's own scratch or temporary file is litter: no
// request runs that long.
inline constexpr std::chrono::seconds kStaleFileAge{3600};

// True when `path` names a regular file or nothing; else false with errno
// set (ELOOP for a link, EISDIR for a folder, EINVAL for anything else).
// For writers that replace only files.
bool replaceable_file(const std::string& path);

}  // namespace kiv

// File operations that the engine, the handlers and the administration
// share: scratch data files under the home's tmp folder (and the check of a
// scratch file path that comes back in a request), an existence test,
// reading and writing a whole file, and the export copy of a template.
#pragma once

#include <chrono>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace kiv {

// A file made new for writing: `base`, else "<base>.<n>" with the first free
// n from 1 to 1000 when the name is taken; created exclusively and never
// through a link (mode 0600), so that no two callers share one. `fd` is open
// for writing, or -1 (errno set; EEXIST when every name was taken) with
// `path` the name last tried.
struct numbered_file {
  std::string path;
  int fd = -1;
};
numbered_file create_numbered(const std::string& base);

// A new scratch data file "<home>/tmp/tmp_datafile.<time>.<pid>", created
// empty and exclusively (mode 0600) so that no two callers share one: when
// that name is taken (a second call within the same second), ".<n>" is added
// with the next free n. When the file cannot be created for another reason
// (no tmp folder) the name is still given, so the caller's write reports the
// failure with it; empty only when no free name was found. The name is also
// kept for last_tmpdatafile(). `now` is the time the name is made from.
std::string gen_tmpdatafile();
std::string gen_tmpdatafile(std::time_t now);
const std::string& last_tmpdatafile();

// A new scratch data file, named and made as gen_tmpdatafile makes it, that
// holds `text`, written through the descriptor that made it, and bound to
// the request that made it by its owner file (write_ownerfile). Nothing
// reads it before the page that names it is printed, and nothing is lost
// when a crash takes it, so it is neither copied nor synced. Making one
// first sweeps the old scratch files (sweep_scratchfiles). `path` is the
// name as gen_tmpdatafile gives it; `written` false (errno set, neither the
// file nor its owner file left behind) when it could not be made, written
// whole or bound. The caller says so in its own words.
struct written_file {
  std::string path;
  bool written = false;
};
written_file write_tmpdatafile(std::string_view text);

// The owner file of a scratch data file: "<path>.owner".
std::string ownerfile_path(std::string_view path);

// Binds the scratch file `path` to the request: "<path>.owner" gets the
// request's login (getuserlogin) and a line end, made new, never through a
// link (mode 0600). A request without a login leaves no owner file (one
// that stands there is removed). False with errno set when it cannot be
// written.
bool write_ownerfile(const std::string& path);

// How old a scratch file of tmp gets before the sweep removes it; and how
// often the sweep looks through the folder at most, which the marker
// kScratchSweepMarker under tmp records.
inline constexpr std::chrono::seconds kScratchFileAge{24 * 3600};
inline constexpr std::chrono::seconds kScratchSweepInterval{3600};
inline constexpr std::string_view kScratchSweepMarker = ".scratch-swept";

// Removes the scratch files that nothing else removes: the regular files
// "tmp_datafile.*", "out.*" and "chartfile.*" of "<home>/tmp" last changed
// more than kScratchFileAge ago, each with its owner file; never through a
// link, and nothing else of tmp. The folder is looked through at most once
// per kScratchSweepInterval. The number of files removed.
int sweep_scratchfiles();

// Creates `path` empty and exclusively (mode 0600, never through a link),
// as create_numbered makes each name it tries. 1: made; 0: the name is
// taken; -1: it cannot be made for another reason (errno says why).
int create_exclusive(const std::string& path);

// The path of a scratch data file that a request names (hidedatafile.VALUE),
// when it is one and the request's own: a file directly in "<home>/tmp"
// whose name is a plain name beginning with "tmp_datafile." (gen_tmpdatafile)
// or "out." (the bar-code reader's result file), no owner file itself, and
// none of this request's uploads; whose owner file names the request's
// login, or, for a request without a login, that has no owner file. The
// value is the file's whole path, or a path relative to the home
// (hidedatafile_value), checked alike; one with a ".." part is refused. Any
// other value is refused: none (the callers treat it as a file that cannot
// be read).
std::optional<std::string> hidedatafile_path(std::string_view value);

// The value under which a file of the home travels from page to page in
// hidedatafile.VALUE: its path relative to the home ("tmp/tmp_datafile..."),
// so that no page (a hidden field among them) shows where the home lies;
// a path outside the home as it stands. hidedatafile_path turns it back
// into the path.
std::string hidedatafile_value(std::string_view path);

// Removes the scratch data file that `value` names when it is the request's
// own (hidedatafile_path), with its owner file; any other value is left
// alone.
void remove_tmpdatafile(std::string_view value);

// 0 when the path exists, else -1.
int statfile(const std::string& path);

// The file's whole text up to its first NUL byte, or none after an errmsg:
// "up_readfile: can't stat '%s' errno=%d\n", "Cannot open file <%s>
// errno=%d \n", and in the Linux flavour "up_readfile: read error for '%s'
// errno=%d\n" when fewer bytes than the file's size arrive (the Windows
// flavour gives what was read). An empty file gives an empty text.
std::optional<std::string> up_readfile(const std::string& path);

// Writes the text as the file's whole content, by the scratch files' rules:
// a new file beside it, made exclusively and renamed over it, so that a link
// planted at the path is never followed and readers see the old or the new
// text whole. A file it replaces keeps its mode; a new one is the process
// user's only (0600). Only a regular file or nothing may stand at the path.
// 0; -1 after "Cannot open file <%s> errno=%d \n" when the path is no
// regular file or nothing can be created beside it, or "Cannot write file
// <%s> errno=%d \n" when the text does not all reach the disk (the old file
// is left as it was).
int up_writefile(const std::string& path, std::string_view text);


// Copies the export template to `copy` line by line, with the line holding
// "<title>" moved to just after the first line holding "TB{" (and an empty
// line after it), written by the same rules as up_writefile. 0, or -1 on any
// failure (traced only; no copy is left behind then).
int fixexportform(const std::string& templ, const std::string& copy);

}  // namespace kiv

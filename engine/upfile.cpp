// Scratch data files, whole-file reading and writing, and the export copy of
// a template.
#include "engine/upfile.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/flavour.h"
#include "platform/output.h"
#include "toolkit/base/kivcgitrace.h"
#include "toolkit/base/kivcontext.h"
#include "toolkit/base/kivfmt.h"
#include "toolkit/pages/kivhtml.h"
#include "toolkit/base/kivio.h"
#include "toolkit/base/kivpath.h"
#include "toolkit/base/kivsettings.h"
#include "toolkit/security/security.h"

namespace kiv {

namespace {

// Export templates are read in lines of this many bytes at most (a longer
// line is taken in pieces).
constexpr size_t kExportLine = 10240;

// Names tried after the first one before giving up.
constexpr int kMaxTries = 1000;

// The ending of an owner file's name, and the most an owner file may hold.
constexpr std::string_view kOwnerSuffix = ".owner";
constexpr off_t kOwnerMax = 4096;

std::string& last_name() {
  static std::string name;
  return name;
}

bool contains(const std::string& line, std::string_view part) {
  return line.find(part) != std::string::npos;
}

// A new empty file of mode 0600 opened for writing, never through a link;
// -1 with errno set (EEXIST when the name is taken).
int open_exclusive(const std::string& path) {
  return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
}

// The name of a scratch data file made at `now`, before a number is added.
std::string tmpdatafile_base(std::time_t now) {
  return sformat("%s/tmp/tmp_datafile.%d.%d", reqctx().nvhome, static_cast<long long>(now),
                 static_cast<int>(getpid()));
}

}  // namespace

int create_exclusive(const std::string& path) {
  const int fd = open_exclusive(path);
  if (fd >= 0) {
    ::close(fd);
    return 1;
  }
  return errno == EEXIST ? 0 : -1;
}

numbered_file create_numbered(const std::string& base) {
  numbered_file made;
  for (int n = 0; n <= kMaxTries; ++n) {
    made.path = n == 0 ? base : sformat("%s.%d", base, n);
    made.fd = open_exclusive(made.path);
    if (made.fd >= 0 || errno != EEXIST) return made;
  }
  errno = EEXIST;
  return made;
}

std::string gen_tmpdatafile(std::time_t now) {
  const numbered_file f = create_numbered(tmpdatafile_base(now));
  std::string made;
  if (f.fd >= 0) {
    ::close(f.fd);
    made = f.path;
  } else if (errno != EEXIST) {
    made = f.path;  // failing for a reason the caller's write will report
  }
  last_name() = made;
  return made;
}

std::string gen_tmpdatafile() { return gen_tmpdatafile(std::time(nullptr)); }

written_file write_tmpdatafile(std::string_view text) {
  sweep_scratchfiles();
  const numbered_file f = create_numbered(tmpdatafile_base(std::time(nullptr)));
  written_file made;
  made.path = f.fd >= 0 || errno != EEXIST ? f.path : std::string();
  last_name() = made.path;
  if (f.fd < 0) return made;
  const bool whole = write_all(f.fd, text);
  int error = errno;
  const bool closed = ::close(f.fd) == 0;
  if (whole && !closed) error = errno;
  made.written = whole && closed && write_ownerfile(f.path);
  if (!made.written) {
    if (whole && closed) error = errno;
    ::unlink(f.path.c_str());
    errno = error;
  }
  return made;
}

std::string ownerfile_path(std::string_view path) {
  std::string owner(path);
  owner += kOwnerSuffix;
  return owner;
}

bool write_ownerfile(const std::string& path) {
  const std::string owner = ownerfile_path(path);
  const std::optional<std::string> login = getuserlogin();
  if (!login) {
    if (::unlink(owner.c_str()) != 0 && errno != ENOENT) return false;
    return true;
  }
  // A stale owner file of an earlier file of this name goes first, so the
  // new one is made exclusively.
  ::unlink(owner.c_str());
  const int fd = open_exclusive(owner);
  if (fd < 0) return false;
  const bool whole = write_all(fd, *login + "\n");
  int error = errno;
  const bool closed = ::close(fd) == 0;
  if (whole && closed) return true;
  if (whole) error = errno;
  ::unlink(owner.c_str());
  errno = error;
  return false;
}

int sweep_scratchfiles() {
  static constexpr std::string_view kPrefixes[] = {"tmp_datafile.", "out.", "chartfile."};
  return remove_stale_files(reqctx().nvhome + "/tmp", {.prefixes = kPrefixes,
                                                       .age = kScratchFileAge,
                                                       .marker = kScratchSweepMarker,
                                                       .interval = kScratchSweepInterval,
                                                       .companion = kOwnerSuffix});
}

const std::string& last_tmpdatafile() { return last_name(); }

namespace {

// Whose scratch file `path` is: its owner file's login, none when it has no
// owner file; false when the owner file cannot be read as one (a link, no
// regular file, unreadable, too long to be a login's).
bool scratch_owner(const std::string& path, std::optional<std::string>& owner) {
  owner.reset();
  const std::string name = ownerfile_path(path);
  const int fd = ::open(name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return errno == ENOENT;
  struct stat st {};
  std::string text;
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= kOwnerMax;
  if (ok) {
    text.resize(static_cast<size_t>(st.st_size));
    ok = ::read(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  }
  ::close(fd);
  if (!ok || !text.ends_with('\n')) return false;
  text.pop_back();
  owner = std::move(text);
  return true;
}

}  // namespace

namespace {

// True when one of the path's parts is "..".
bool has_parent_part(std::string_view path) {
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    if (path.substr(start, end - start) == "..") return true;
    start = end + 1;
  }
  return false;
}

}  // namespace

std::optional<std::string> hidedatafile_path(std::string_view value) {
  const std::string& home = reqctx().nvhome;
  if (home.empty() || value.empty()) return std::nullopt;
  // A relative value is taken from the home, as the pages hand it on.
  const std::string path = value.starts_with('/') ? std::string(value) : home + "/" + std::string(value);
  // The file's name is what follows the last "/"; its folder is what comes
  // before the run of "/" in front of the name ("/" itself for a name
  // directly under the root).
  const size_t slash = path.rfind('/');
  const std::string_view name = std::string_view(path).substr(slash + 1);
  size_t end = slash;
  while (end > 0 && path[end - 1] == '/') --end;
  const std::string_view folder = std::string_view(path).substr(0, end == 0 ? 1 : end);
  // No ".." part of its own: a whole path is looked at past the home, which
  // the installation may have named with one.
  std::string_view own = value;
  if (own.starts_with(home) && own.size() > home.size() && own[home.size()] == '/') own.remove_prefix(home.size());
  const bool scratch = (name.starts_with("tmp_datafile.") || name.starts_with("out.")) && !name.ends_with(kOwnerSuffix);
  if (!scratch || !safe_name(name) || value.find('\\') != std::string_view::npos || has_parent_part(own) ||
      lexical_normal(folder) != lexical_normal(home + "/tmp")) {
    kivtrace("hidedatafile '%s' is not a scratch data file", value);
    return std::nullopt;
  }
  if (is_saved_upload(path)) {
    kivtrace("hidedatafile '%s' is an upload of this request", value);
    return std::nullopt;
  }
  std::optional<std::string> owner;
  const std::optional<std::string> login = getuserlogin();
  if (!scratch_owner(path, owner) || owner != login) {
    kivtrace("hidedatafile '%s' is not the scratch file of '%s'", value, login.value_or(std::string()));
    return std::nullopt;
  }
  return path;
}

std::string hidedatafile_value(std::string_view path) {
  std::string_view home = reqctx().nvhome;
  while (home.size() > 1 && home.ends_with('/')) home.remove_suffix(1);
  if (!home.empty() && path.size() > home.size() && path.starts_with(home) && path[home.size()] == '/') {
    size_t start = home.size();
    while (start < path.size() && path[start] == '/') ++start;
    return std::string(path.substr(start));
  }
  return std::string(path);
}

void remove_tmpdatafile(std::string_view value) {
  const std::optional<std::string> path = hidedatafile_path(value);
  if (!path) return;
  ::unlink(path->c_str());
  ::unlink(ownerfile_path(*path).c_str());
}

int statfile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? 0 : -1;
}

std::optional<std::string> up_readfile(const std::string& path) {
  return readfile_sized(path, platform() == Platform::linux);
}

int up_writefile(const std::string& path, std::string_view text) {
  kivtrace("writefile=%s", path);
  if (!replaceable_file(path)) {
    errmsg("Cannot open file <%s> errno=%d \n", path, errno);
    return -1;
  }
  AtomicWritten w = write_file_atomic(path, text, nullptr, {.new_mode = 0600});
  if (!w) {
    errmsg(w.created ? "Cannot write file <%s> errno=%d \n" : "Cannot open file <%s> errno=%d \n", path, errno);
    return -1;
  }
  return 0;
}

namespace {

// The export copy's text: the template's lines with the title line moved.
std::string export_copy(std::FILE* in) {
  std::string text, line, title;
  bool table_seen = false;
  while (getline_limited(in, line, kExportLine)) {
    if (contains(line, "<title>")) {
      title = line;  // written after the first table line, or dropped
      continue;
    }
    text += line;
    if (!table_seen && contains(line, "TB{")) {
      table_seen = true;
      text += title;
      text += '\n';
    }
  }
  return text;
}

}  // namespace

int fixexportform(const std::string& templ, const std::string& copy) {
  if (templ.empty()) {
    kivtrace("bad export form\n");
    return -1;
  }
  if (copy.empty()) {
    kivtrace("bad tmp export form\n");
    return -1;
  }
  if (!replaceable_file(copy)) {
    kivtrace("Can't open %s file for writing errno=%d\n", copy, errno);
    return -1;
  }
  FilePtr in = open_file(templ, "rb");
  if (!in) {
    kivtrace("Can't open %s file for reading errno=%d\n", templ, errno);
    return -1;
  }
  const std::string text = export_copy(in.get());
  if (std::ferror(in.get())) {
    kivtrace("Can't open %s file for reading errno=%d\n", templ, errno);
    return -1;
  }
  // A scratch copy, printed once and removed: for the process's user only,
  // and not worth a sync.
  AtomicWritten w = write_file_atomic(copy, text, nullptr, {.new_mode = 0600, .durable = false});
  if (!w) {
    kivtrace(w.created ? "Can't write %s file errno=%d\n" : "Can't open %s file for writing errno=%d\n", copy, errno);
    return -1;
  }
  return 0;
}

}  // namespace kiv

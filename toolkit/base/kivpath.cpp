// Path-part checks and the atomic file rewrite.
#include "toolkit/base/kivpath.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/output.h"
#include "toolkit/base/kivlock.h"

namespace kiv {

bool safe_name(std::string_view part, bool allow_leading_dot) {
  if (part.empty()) return false;
  if (!allow_leading_dot && part[0] == '.') return false;
  if (part.find("..") != std::string_view::npos) return false;
  for (char c : part) {
    unsigned char u = static_cast<unsigned char>(c);
    if (c == '/' || c == '\\' || u < 0x20 || u == 0x7f) return false;
  }
  return true;
}

namespace {

// Where the last part of a normalised path (no "/" at its end) begins.
size_t last_part(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? 0 : slash + 1;
}

}  // namespace

std::string lexical_normal(std::string_view path) {
  if (path.empty()) return {};
  const bool root = path[0] == '/';
  std::string normal = root ? "/" : "";
  const size_t base = normal.size();  // the parts begin here
  bool trailing = false;              // a "/" ends the path after its last part
  size_t i = 0;
  while (i < path.size()) {
    if (path[i] == '/') {
      ++i;
      continue;
    }
    size_t end = path.find('/', i);
    if (end == std::string_view::npos) end = path.size();
    const std::string_view part = path.substr(i, end - i);
    const bool followed = end < path.size();
    i = end;
    if (part == ".") {
      trailing = true;  // the "/" before it stays
      continue;
    }
    if (part == "..") {
      const size_t start = last_part(normal);
      if (normal.size() > base && std::string_view(normal).substr(start) != "..") {
        normal.erase(start > base ? start - 1 : base);  // the part and the "/" before it
        trailing = true;
        continue;
      }
      if (root) continue;  // nothing lies above the root (a rooted path holds no "..")
    }
    if (normal.size() > base) normal += '/';
    normal.append(part);
    trailing = followed;
  }
  if (normal.size() == base) return root ? "/" : ".";
  if (trailing && std::string_view(normal).substr(last_part(normal)) != "..") normal += '/';
  return normal;
}

bool path_under(std::string_view folder, std::string_view path) {
  std::string f = lexical_normal(folder);
  const std::string p = lexical_normal(path);
  while (f.size() > 1 && f.back() == '/') f.pop_back();
  if (p == f) return true;
  return p.size() > f.size() && p.compare(0, f.size(), f) == 0 && (f == "/" || p[f.size()] == '/');
}

namespace {

// Removes the file at `path`, keeping errno.
void unlink_keeping_errno(const std::string& path) {
  const int e = errno;
  ::unlink(path.c_str());
  errno = e;
}

// Gives the open temporary file `fd` its mode (the live file's when `path`
// is a regular file, not those of a link's target) and `content`, syncs it
// when durable, and closes it: nullptr, or what failed (errno kept, the file
// closed either way).
const char* fill_temporary(int fd, const std::string& path, std::string_view content, const AtomicWrite& how) {
  struct stat st;
  const bool live = ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
  const char* what = nullptr;
  if (::fchmod(fd, live ? st.st_mode & 07777 : how.new_mode) != 0)
    what = "cannot set the mode of the temporary file";
  else if (!write_all(fd, content))
    what = "cannot write temporary file";
  else if (how.durable && ::fsync(fd) != 0)
    what = "cannot sync temporary file";
  if (what) {
    const int e = errno;
    ::close(fd);
    errno = e;
    return what;
  }
  return ::close(fd) != 0 ? "cannot close temporary file" : nullptr;
}

// Puts the closed temporary file `tmp` at `path` (rename over the old file,
// or link, which never replaces what stands at the name) and removes the
// temporary name where it remains: nullptr, or what failed (errno kept).
const char* put_in_place(const std::string& tmp, const std::string& path, bool replace) {
  if (replace) {
    if (::rename(tmp.c_str(), path.c_str()) == 0) return nullptr;
    unlink_keeping_errno(tmp);
    return "cannot rename temporary file";
  }
  const bool linked = ::link(tmp.c_str(), path.c_str()) == 0;
  unlink_keeping_errno(tmp);
  return linked ? nullptr : "cannot link temporary file";
}

}  // namespace

AtomicWritten write_file_atomic(const std::string& path, std::string_view content, std::string* error,
                                const AtomicWrite& how) {
  AtomicWritten r;
  auto fail = [&](const char* what) {
    if (error) *error = std::string(what) + ": " + std::strerror(errno);
    return r;
  };
  std::string tmp = path + ".tmpXXXXXX";
  int fd = mkostemp(tmp.data(), O_CLOEXEC);
  if (fd < 0) return fail("cannot create temporary file");
  r.created = true;
  // Every failure after the temporary file was made removes it, keeping errno.
  if (const char* what = fill_temporary(fd, path, content, how)) {
    unlink_keeping_errno(tmp);
    return fail(what);
  }
  if (const char* what = put_in_place(tmp, path, how.replace)) return fail(what);
  r.in_place = true;
  r.done = true;
  if (!how.durable) return r;
  // The new entry lives in the folder: sync the folder too, so that a crash
  // after a reported save cannot bring the old file back.
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  if (!sync_folder(folder)) {
    r.done = false;
    return fail("cannot sync folder");
  }
  return r;
}

namespace {

// True when the entry `name` of the open folder is a regular file (never
// what a link names) last changed before `before`.
bool old_file(int dir, const char* name, std::time_t before) {
  struct stat st;
  return ::fstatat(dir, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) && st.st_mtime < before;
}

// False when the marker says the folder was looked through since `since`;
// else the marker is renewed (made when missing) and the answer is true. A
// marker that cannot be renewed (a link stands there, the folder is not
// writable) does not stop the sweep.
bool sweep_due(int dir, std::string_view marker, std::time_t since) {
  const std::string name(marker);
  struct stat st;
  if (::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) && st.st_mtime >= since)
    return false;
  const int fd = ::openat(dir, name.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
  if (fd >= 0) {
    ::futimens(fd, nullptr);
    ::close(fd);
  }
  return true;
}

}  // namespace

int remove_stale_files(const std::string& folder, std::string_view prefix, std::chrono::seconds age,
                       std::string_view marker) {
  const std::string_view prefixes[] = {prefix};
  return remove_stale_files(folder, {.prefixes = prefixes, .age = age, .marker = marker, .interval = age});
}

int remove_stale_files(const std::string& folder, const StaleFiles& which) {
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return 0;
  const std::time_t now = std::time(nullptr);
  const std::time_t before = now - static_cast<std::time_t>(which.age.count());
  if (!which.marker.empty() && !sweep_due(dir, which.marker, now - static_cast<std::time_t>(which.interval.count()))) {
    ::close(dir);
    return 0;
  }
  // The listing reads through a copy of the descriptor; `dir` stays for the
  // checks and removals by name.
  const int listing = ::dup(dir);
  DIR* d = listing >= 0 ? ::fdopendir(listing) : nullptr;
  if (!d) {
    if (listing >= 0) ::close(listing);
    ::close(dir);
    return 0;
  }
  const auto swept = [&](std::string_view name) {
    for (std::string_view p : which.prefixes)
      if (name.starts_with(p)) return name != which.marker;
    return false;
  };
  int removed = 0;
  while (const dirent* e = ::readdir(d)) {
    if (!swept(e->d_name) || !old_file(dir, e->d_name, before) || ::unlinkat(dir, e->d_name, 0) != 0) continue;
    ++removed;
    if (which.companion.empty()) continue;
    std::string side(e->d_name);
    side += which.companion;
    struct stat st;
    if (::fstatat(dir, side.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
        ::unlinkat(dir, side.c_str(), 0) == 0)
      ++removed;
  }
  ::closedir(d);
  ::close(dir);
  return removed;
}

bool replaceable_file(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return errno == ENOENT;
  if (S_ISREG(st.st_mode)) return true;
  errno = S_ISLNK(st.st_mode) ? ELOOP : S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
  return false;
}

}  // namespace kiv

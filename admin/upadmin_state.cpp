// The administration's state (see upadmin_state.h): loading the object files
// it edits, and writing them back so that nothing is lost: a lock from load
// to save, a check that the file is still the one loaded, a synced temporary
// file, a backup under the home's tmp folder and an atomic rename over the
// live file.
#include "admin/upadmin_state.h"

#include <cerrno>
#include <cstdint>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/state.h"
#include "platform/exit.h"
#include "platform/output.h"
#include "toolkit/base/kivcgitrace.h"
#include "toolkit/objects/kivobjfile.h"
#include "toolkit/base/kivsettings.h"

namespace kiv {

namespace {

std::string config_path(std::string_view name) {
  std::string p = reqctx().nvhome;
  p += "/client/config/";
  p += name;
  return p;
}

// Closes a descriptor, keeping errno.
void close_quietly(int fd) {
  int e = errno;
  ::close(fd);
  errno = e;
}

// The whole file behind an open descriptor; false with errno set on a read
// error.
bool read_fd(int fd, std::string& text) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return false;
  if (S_ISDIR(st.st_mode)) {
    errno = EISDIR;
    return false;
  }
  if (st.st_size > 0) text.reserve(static_cast<size_t>(st.st_size));
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    text.append(buf, static_cast<size_t>(n));
  }
}

// What lies at a path now: the file's bytes, none when there is no file;
// false with errno set when it cannot be read.
bool read_current(const std::string& path, std::optional<std::string>& text) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno != ENOENT) return false;
    text.reset();
    return true;
  }
  std::string bytes;
  bool ok = read_fd(fd, bytes);
  close_quietly(fd);
  if (!ok) return false;
  text = std::move(bytes);
  return true;
}

// Writes, syncs and closes; false with errno set (the descriptor closed).
bool write_sync_close(int fd, std::string_view text) {
  if (!write_all(fd, text) || ::fsync(fd) != 0) {
    close_quietly(fd);
    return false;
  }
  return ::close(fd) == 0;
}

// Creates `base`, or `base`.<n> with the first free n, exclusively; the
// descriptor, or -1 with errno set and `path` the name last tried.
int create_unique(const std::string& base, mode_t mode, std::string& path) {
  path = base;
  for (int n = 1; n <= 100000; ++n) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd >= 0 || errno != EEXIST) return fd;
    path = base + "." + std::to_string(n);
  }
  return -1;
}

// The mode of the live file, or the mode of a new object file.
mode_t live_mode(const std::string& live) {
  struct stat st {};
  if (::stat(live.c_str(), &st) == 0) return st.st_mode & 07777;
  return 0644;
}

// The new text in a temporary file beside the live one ("<live>.tmp.<pid>",
// unique), synced and closed. Ends the process on failure.
std::string write_temporary(const std::string& live, std::string_view text) {
  std::string tmp;
  int fd = create_unique(live + ".tmp." + std::to_string(::getpid()), 0600, tmp);
  if (fd < 0) {
    errmsg("Cannot open file '%s' for writing. errno=%d\n", tmp, errno);
    throw Exit{-1};
  }
  if (::fchmod(fd, live_mode(live)) != 0 || !write_sync_close(fd, text)) {
    int e = errno;
    ::unlink(tmp.c_str());
    errmsg("Cannot write file <%s> errno=%d \n", tmp, e);
    throw Exit{1};
  }
  return tmp;
}

// A copy of the live file's bytes under "<home>/tmp", named after the file
// and the time, with a number added when a save in the same second took the
// name. Gives its path, or none after the message (nothing left behind).
std::optional<std::string> write_backup(std::string_view name, const std::string& live,
                                        std::string_view old) {
  std::string base = reqctx().nvhome + "/tmp/";
  base += name;
  base += "." + std::to_string(static_cast<long long>(std::time(nullptr)));
  std::string backup;
  int fd = create_unique(base, live_mode(live), backup);
  if (fd < 0) {
    errmsg("Cannot open file '%s' for writing. errno=%d\n", backup, errno);
    return std::nullopt;
  }
  if (!write_sync_close(fd, old)) {
    int e = errno;
    ::unlink(backup.c_str());
    errmsg("Cannot write file <%s> errno=%d \n", backup, e);
    return std::nullopt;
  }
  return backup;
}

// Makes a rename into the folder durable; a failure here loses nothing that
// a reader could see, so it is not reported.
void sync_folder_of(const std::string& path) { sync_folder(path.substr(0, path.rfind('/'))); }

// A lock taken for one save only, when up_admin did not take it beforehand.
struct SaveLock {
  std::string_view name;
  bool taken = false;
  SaveLock(std::string_view n) : name(n) {
    auto it = admin().files.find(name);
    if (it != admin().files.end() && it->second.lock.held()) return;
    taken = true;
    lock_objfile(name);
  }
  ~SaveLock() {
    if (!taken) return;
    auto it = admin().files.find(name);
    if (it != admin().files.end()) it->second.lock.release();
  }
};

// Reads an object file, remembering its bytes (or that there was none) for
// the save-time check. None after the loader's message.
objholder load_remembered(std::string_view name) {
  std::string path = config_path(name);
  objfile_state& state = admin().files[std::string(name)];
  state.loaded = false;
  state.text.reset();
  std::optional<std::string> text;
  if (!read_current(path, text)) {
    pagef("Cannot open object file '%s'. errno=%d\n", path, errno);
    return nullptr;
  }
  state.loaded = true;
  state.text = text;
  if (!text) {
    pagef("Cannot open object file '%s'. errno=%d\n", path, ENOENT);
    return nullptr;
  }
  return readkivobj(*text);
}

// FNV-1a over the bytes, as 16 hexadecimal digits; 16 zeros for no file.
std::string file_digest(const std::optional<std::string>& text) {
  if (!text) return std::string(16, '0');
  std::uint64_t h = 14695981039346656037ull;
  for (char c : *text) {
    h ^= static_cast<unsigned char>(c);
    h *= 1099511628211ull;
  }
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out(16, '0');
  for (int i = 15; i >= 0; --i, h >>= 4) out[static_cast<size_t>(i)] = kHex[h & 15];
  return out;
}

}  // namespace

std::string file_version(const std::optional<std::string>& text) { return file_digest(text); }

std::string objfiles_version(const std::optional<std::string>& tk, const std::optional<std::string>& ce) {
  return file_digest(tk) + file_digest(ce);
}

std::string admin_version() {
  const auto& files = admin().files;
  auto text_of = [&](std::string_view name) -> std::optional<std::string> {
    auto it = files.find(name);
    return it == files.end() ? std::nullopt : it->second.text;
  };
  return objfiles_version(text_of("tk_obj"), text_of("ce_obj"));
}

AdminState& admin() {
  static AdminState s;
  KIV_REGISTER_RESET(&reset_admin);
  return s;
}

void reset_admin() {
  unlock_objfiles();
  admin() = AdminState();
}

objlist* loadadminobj() {
  AdminState& s = admin();
  s.admin_obj = loadkivobj(config_path("admin_obj"));
  return s.admin_obj.get();
}

objlist* loadtkobj() {
  AdminState& s = admin();
  s.tk_obj = load_remembered("tk_obj");
  return s.tk_obj.get();
}

objlist* loadceobj() {
  AdminState& s = admin();
  s.ce_obj = load_remembered("ce_obj");
  return s.ce_obj.get();
}

int lock_objfile(std::string_view name) {
  objfile_state& state = admin().files[std::string(name)];
  if (state.lock.held()) return 0;
  std::string path = config_path(name) + ".lock";
  if (!state.lock.acquire(path)) {
    kivtrace("lock_objfile: cannot lock '%s' errno=%d\n", path, errno);
    return -1;
  }
  return 0;
}

void unlock_objfiles() {
  for (auto& [name, state] : admin().files) state.lock.release();
}

int saveobjfile(const objlist* objs, std::string_view name) {
  const std::string live = config_path(name);
  std::string text, why = "no object list to write";
  if (!objs || !writekivobj(*objs, text, &why)) {
    errmsg("Cannot save object file '%s': %s\n", live, why);
    throw Exit{1};
  }
  SaveLock lock(name);

  std::optional<std::string> current;
  if (!read_current(live, current)) {
    errmsg("Cannot open object file '%s'. errno=%d\n", live, errno);
    throw Exit{1};
  }
  objfile_state& state = admin().files[std::string(name)];
  if (state.loaded && state.text != current) {
    errmsg(kObjFileChanged, live);
    throw Exit{-1};
  }

  std::string tmp = write_temporary(live, text);
  std::optional<std::string> backup;
  if (current) {
    backup = write_backup(name, live, *current);
    if (!backup) {
      ::unlink(tmp.c_str());
      throw Exit{1};
    }
  }
  if (::rename(tmp.c_str(), live.c_str()) != 0) {
    int e = errno;
    ::unlink(tmp.c_str());
    if (backup) ::unlink(backup->c_str());
    errmsg("Can't rename %s to %s errno=%d\n", tmp, live, e);
    throw Exit{1};
  }
  sync_folder_of(live);
  // A later save of the same request compares against what this one wrote.
  state.loaded = true;
  state.text = std::move(text);
  return 0;
}

}  // namespace kiv

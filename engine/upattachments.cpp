// Case attachments: the field kinds and numbers, the folder of a case, the
// storing of a request's attachment fields under the folder's lock, the
// listing of a folder into the attachment table, and the deletion of one
// attachment.
#include "engine/upattachments.h"

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <climits>
#include <dirent.h>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "engine/upfile.h"
#include "engine/upobjdb.h"
#include "platform/exit.h"
#include "platform/flavour.h"
#include "platform/output.h"
#include "toolkit/cgi/kivcgi.h"
#include "toolkit/objects/kivobj.h"
#include "toolkit/text/kivcgimisc.h"
#include "toolkit/base/kivcgitrace.h"
#include "toolkit/base/kivcontext.h"
#include "toolkit/base/kivlock.h"
#include "toolkit/base/kivpath.h"
#include "toolkit/request/multipart.h"
#include "toolkit/text/rowcol.h"
#include "toolkit/security/security.h"

namespace kiv {

namespace {

constexpr std::string_view kAttach = "attach";
// The four kind words of an attachment's files, in the order they are
// deleted.
constexpr std::string_view kKindWords[] = {"attach", "attachdesc", "attachsize", "attachuser"};

constexpr std::string_view kTableHeader =
    "attachtitle^@attachvalue^@attachmodtimetitle^@attachmodtimevalue^@attachusertitle^@attachuservalue^@"
    "attachdesctitle^@attachdescvalue^@attachsizetitle^@attachsizevalue^$";

constexpr std::string_view kNoAttachdir = "Error: attachdir is not defined in the object file. Illogical condition.";
constexpr std::string_view kFatal = "Fatel Error:Can't append to attachments\n";
constexpr std::string_view kDefaultFile = "data.html";

// Folder and file modes: the Linux build makes folders 0755 and stored files
// read-only; the Windows build sets none (the runtime's defaults).
mode_t folder_mode() { return platform() == Platform::linux ? 0755 : 0777; }
mode_t file_mode() { return platform() == Platform::linux ? 0444 : 0666; }

// "%s/%s%d_%s": folder, kind word, number, file name.
std::string side_path(const std::string& folder, std::string_view kind, int n, std::string_view file) {
  return sformat("%s/%s%d_%s", folder, kind, n, file);
}

// The names in a folder, sorted, without "." and "..". False (errno set)
// when the folder cannot be read.
bool folder_names(const std::string& folder, std::vector<std::string>& names) {
  DIR* d = ::opendir(folder.c_str());
  if (!d) return false;
  errno = 0;
  while (const dirent* e = ::readdir(d)) {
    std::string name = e->d_name;
    if (name != "." && name != "..") names.push_back(std::move(name));
  }
  int e = errno;
  ::closedir(d);
  if (e != 0) {
    errno = e;
    return false;
  }
  std::sort(names.begin(), names.end());
  return true;
}

std::string_view before_underscore(std::string_view name) { return name.substr(0, name.find('_')); }

// Writes "/" and "\" as "-" and applies the plain-name rule: the last step
// of both folder-name functions.
std::optional<std::string> plain_folder(std::string part) {
  std::replace(part.begin(), part.end(), '/', '-');
  std::replace(part.begin(), part.end(), '\\', '-');
  if (!safe_name(part)) return std::nullopt;
  return part;
}

// The case folder under the attachments root; none (traced) when it would
// not lie under the root.
std::optional<std::string> case_folder(const std::string& root, const std::string& name) {
  std::string folder = root + "/" + name;
  if (!path_under(root, folder)) {
    kivtrace("attachment folder '%s' is not under '%s'", folder, root);
    return std::nullopt;
  }
  return folder;
}

// The most attachments one request may store: attachment_max_per_request
// (a whole number above 0), else kAttachMaxPerRequest.
int attachments_allowed(const objlist& list) {
  const std::string v = objtext(list, "attachment_max_per_request.VALUE");
  if (v.empty()) return kAttachMaxPerRequest;
  long long n = 0;
  for (char c : v) {
    if (c < '0' || c > '9' || n > INT_MAX / 10) {
      n = 0;
      break;
    }
    n = n * 10 + (c - '0');
  }
  if (n < 1 || n > INT_MAX) {
    kivtrace("attachment_max_per_request '%s' is no number above 0: %d holds", v,
             static_cast<long long>(kAttachMaxPerRequest));
    return kAttachMaxPerRequest;
  }
  return static_cast<int>(n);
}

// The attachment fields (kind 1) that carry a value.
int attachments_given(const objlist& list) {
  int n = 0;
  for (const kivobj& field : list)
    if (itisattachfield(field.name()) == 1 && field.has(attr::VALUE)) ++n;
  return n;
}

// 0 "attachment is not defined", -1 disabled, 1 on.
int attach_switch(const objlist& list) {
  std::string on = objtext(list, "attach_control.VALUE");
  if (on.empty()) {
    kivtrace("attachment is not defined");
    return 0;
  }
  if (on != "ON") {
    kivtrace("Attachment is disabled");
    return -1;
  }
  return 1;
}

// Makes the case folder when missing and locks it (FileLock::acquire_folder).
// A folder that was removed while this process waited for its lock is made
// again, so the lock always belongs to the folder that the path names.
// `created` tells whether this call made the folder. False (errno set) when
// the folder cannot be made, opened or locked.
bool lock_case_folder(FileLock& lock, const std::string& folder, bool& created) {
  for (int tries = 0; tries < 100; ++tries) {
    if (::mkdir(folder.c_str(), folder_mode()) == 0) {
      created = true;
      if (platform() == Platform::linux) ::chmod(folder.c_str(), folder_mode());
    } else if (errno != EEXIST) {
      return false;
    }
    if (lock.acquire_folder(folder)) return true;
    if (errno != ENOENT) return false;
  }
  errno = EAGAIN;
  return false;
}

// Copies the upload at `from` into the new file at `to`; the bytes copied,
// or -1 (errno set) with nothing left at `to`.
long long copy_upload(int to, const std::string& from) {
  int in = ::open(from.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (in < 0) return -1;
  std::string buf(65536, '\0');
  long long total = 0;
  for (;;) {
    ssize_t n = ::read(in, buf.data(), buf.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      int e = errno;
      ::close(in);
      errno = e;
      return -1;
    }
    if (n == 0) break;
    if (!write_all(to, std::string_view(buf.data(), static_cast<size_t>(n)))) {
      int e = errno;
      ::close(in);
      errno = e;
      return -1;
    }
    total += n;
  }
  ::close(in);
  return total;
}

// A side file of an attachment: written whole, then read-only in the Linux
// flavour. Failures are reported by the file writer.
void write_side_file(const std::string& path, std::string_view text) {
  if (up_writefile(path, text) == 0 && platform() == Platform::linux) ::chmod(path.c_str(), file_mode());
}

// Stores one attachment field under number n (above every number in the
// locked folder) with its side files; true when the attachment itself was
// stored.
bool store_field(const objlist& list, const kivobj& field, const std::string& folder, int n,
                 const std::string& user) {
  assert(n > 0);
  std::string file = atattchfilename(field.name(), list);
  removeattachfile(folder, n);
  long long size = buf2filename(list, side_path(folder, "attach", n, file), field.value());
  // An attachment that could not be stored gets no side files: they would
  // describe a file that is not there.
  if (size < 0) return false;
  write_side_file(side_path(folder, "attachsize", n, file), sformat("%d bytes", size));
  write_side_file(side_path(folder, "attachuser", n, file), user);
  int k = attachmentnumber(field.name());
  std::string desc = k > 0 ? objtext(list, sformat("attachdesc%d", k), "VALUE") : std::string();
  if (!desc.empty()) write_side_file(side_path(folder, "attachdesc", n, file), desc);
  return true;
}

// The number of an "attach<N>" object name, or 0 for any other name.
int table_number(std::string_view name) {
  if (!name.starts_with(kAttach) || name.size() == kAttach.size()) return 0;
  std::string_view digits = name.substr(kAttach.size());
  if (digits.front() == '0' || digits.size() > 9) return 0;
  int n = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return 0;
    n = n * 10 + (c - '0');
  }
  return n;
}

// A table column: the value as one column of row/column text can carry it,
// "^^" when empty.
std::string column(std::string_view text) {
  if (text.empty()) return std::string(kEmptyCol);
  return packetvalue(text);
}

[[noreturn]] void delete_refused(std::string_view message) {
  errmsg(message);
  throw Exit{0};
}

}  // namespace

int itisattachfield(std::string_view name) {
  if (!name.starts_with(kAttach)) return 0;
  if (name.starts_with("attachdesc")) return 2;
  if (name.starts_with("attachsize")) return 3;
  if (name.starts_with("attachuser")) return 4;
  if (name.back() >= '0' && name.back() <= '9') return 1;
  return 0;
}

int attachmentnumber(std::string_view name) {
  long long n = 0;
  bool any = false;
  for (char c : name) {
    if (c < '0' || c > '9') continue;
    any = true;
    n = n * 10 + (c - '0');
    if (n > INT_MAX) return -1;
  }
  if (!any || n < 1) return -1;
  return static_cast<int>(n);
}

std::optional<std::string> attachfolder_name(std::string_view case_num) {
  std::string c(case_num);
  trimspace(c);
  size_t dot = c.rfind('.');
  if (dot != std::string::npos) c.erase(dot);
  return plain_folder(std::move(c));
}

std::optional<std::string> attachfolder_part(std::string_view part) { return plain_folder(std::string(part)); }

std::string atattchfilename(std::string_view field, const objlist& list) {
  std::string client = objtext(list, std::string(field) + "filename", "VALUE");
  if (client.empty()) return std::string(kDefaultFile);
  std::string f = trans(client);
  // The name ends a file name after "attach<N>_": a leading point is fine.
  if (!safe_name(f, true)) return std::string(kDefaultFile);
  return f;
}

int attachmentmaxnumber(const std::string& folder) {
  struct stat st {};
  if (folder.empty() || ::stat(folder.c_str(), &st) != 0) return -1;
  std::vector<std::string> names;
  if (!folder_names(folder, names)) {
    errmsg("Can't open dir='%s' errno=%d. \n", folder, errno);
    return -1;
  }
  int highest = 0;
  for (const std::string& name : names) {
    if (name.find('_') == std::string::npos) continue;
    std::string_view kind = before_underscore(name);
    if (itisattachfield(kind) != 1) continue;
    highest = std::max(highest, attachmentnumber(kind));
  }
  return highest;
}

int removeattachfile(const std::string& folder, int n) {
  std::vector<std::string> names;
  if (!folder_names(folder, names)) return 1;
  for (const std::string& name : names) {
    std::string_view kind = before_underscore(name);
    for (std::string_view word : kKindWords)
      if (kind == sformat("%s%d", word, n)) ::unlink((folder + "/" + name).c_str());
  }
  return 0;
}

int writebreakbufline(const objlist& list, std::string_view text, std::FILE* file) {
  assert(file != nullptr);
  reqctx().bron = true;
  std::string out;
  std::string head = objtext(list, "attachhead.VALUE");
  if (!head.empty()) out += head + "\n";
  out += data2brows(text);
  std::string tail = objtext(list, "attachtail.VALUE");
  if (!tail.empty()) out += "\n" + tail;
  std::fwrite(out.data(), 1, out.size(), file);
  return 0;
}

long long buf2filename(const objlist& list, const std::string& path, std::string_view val) {
  if (path.empty()) {
    errmsg("Bad attachment file name\n");
    return -1;
  }
  if (val.empty()) return -1;
  const std::string source(val);
  const bool upload = is_saved_upload(source);
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, file_mode());
  if (fd < 0) {
    errmsg("Can't open %s file for writing errno=%d\n", path, errno);
    return -1;
  }
  long long size = -1;
  bool ok;
  if (upload) {
    size = copy_upload(fd, source);
    ok = size >= 0 && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
  } else {
    std::FILE* f = ::fdopen(fd, "w");
    ok = f != nullptr;
    if (!f) ::close(fd);
    if (f) {
      writebreakbufline(list, val, f);
      ok = std::fflush(f) == 0 && !std::ferror(f) && ::fsync(fd) == 0;
      ok = std::fclose(f) == 0 && ok;
    }
    size = static_cast<long long>(val.size());
  }
  if (!ok) {
    int e = errno;
    ::unlink(path.c_str());
    errmsg("Can't open %s file for writing errno=%d\n", path, e);
    return -1;
  }
  if (upload) {
    // Stored whole: the upload is this attachment's now, and goes.
    take_upload(source);
    ::unlink(source.c_str());
  }
  return size;
}

std::time_t getmodtime(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return 0;
  return st.st_mtime;
}

void hold_attachment_limit(const objlist& list) {
  if (attach_switch(list) != 1) return;
  // Every attachment costs files and time: a request past the limit stores
  // none of them, and its operation goes no further.
  const int allowed = attachments_allowed(list);
  if (const int given = attachments_given(list); given > allowed) {
    kivtrace("attach_files: %d attachments, %d allowed", static_cast<long long>(given),
             static_cast<long long>(allowed));
    errmsg("Too many attachments in one request\n");
    errmsg("Maximum number of attachments is %d", static_cast<long long>(allowed));
    throw Exit{0};
  }
}

namespace {

// The case folder attachments go into, from case_num.VALUE and
// attachdir.VALUE: false (traced) when either is empty; `folder` stays none
// when the case number makes no folder name.
bool attach_target(const objlist& list, std::optional<std::string>& folder) {
  std::string casenum = objtext(list, "case_num.VALUE");
  if (casenum.empty()) {
    kivtrace("Error: case num not defined. Illogical condition.");
    return false;
  }
  const std::string root = objtext(list, "attachdir.VALUE");
  if (root.empty()) {
    kivtrace(kNoAttachdir);
    return false;
  }
  std::optional<std::string> name = attachfolder_name(casenum);
  folder = name ? case_folder(root, *name) : std::nullopt;
  return true;
}

// Locks the case folder (made when it is not there, `created` then set) and
// gives the highest attachment number in it; -1 after "Bad attachment file
// name\n" when a new record's folder (kAttachNewFolder) was there already.
// A folder that cannot be locked or read ends the process.
int lock_attach_folder(FileLock& lock, const std::string& folder, int into, bool& created) {
  if (!lock_case_folder(lock, folder, created)) {
    kivtrace("attach_files: can't lock '%s' errno=%d", folder, errno);
    errmsg(kFatal);
    throw Exit{-1};
  }
  if (into == kAttachNewFolder && !created) {
    kivtrace("attach_files: '%s' is there already and belongs to another record", folder);
    errmsg("Bad attachment file name\n");
    return -1;
  }
  const int n = attachmentmaxnumber(folder);
  if (n < 0) {
    errmsg(kFatal);
    throw Exit{-1};
  }
  return n;
}

}  // namespace

int attach_files(objlist& list, int into) {
  assert(into == kAttachNewFolder || into == kAttachCaseFolder);
  if (attach_switch(list) != 1) return 0;
  hold_attachment_limit(list);
  const std::string user = getuserlogin().value_or("Unknown");
  std::optional<std::string> folder;
  if (!attach_target(list, folder)) return 1;

  // The folder is made and locked with the first attachment field that has
  // a value, and stays locked until the last file of the last one is written.
  // A case number that makes no folder is refused there too, so a request
  // that attaches nothing shows no message.
  FileLock lock;
  bool created = false;
  bool locked = false;
  int n = 0;
  int stored = 0;
  for (const kivobj& field : list) {
    if (itisattachfield(field.name()) != 1 || !field.has(attr::VALUE)) continue;
    if (!folder) {
      errmsg("Bad attachment file name\n");
      return 1;
    }
    if (!locked) {
      n = lock_attach_folder(lock, *folder, into, created);
      if (n < 0) return 1;
      locked = true;
    }
    if (n == INT_MAX) {  // no number left above the highest
      errmsg(kFatal);
      throw Exit{-1};
    }
    ++n;
    if (store_field(list, field, *folder, n, user)) ++stored;
  }
  if (!locked) return 0;
  if (stored == 0 && created)
    ::rmdir(folder->c_str());  // only an empty folder goes
  else if (stored > 0)
    sync_folder(*folder);
  return 0;
}

int addattachdata(objlist& list) {
  if (attach_switch(list) != 1) return 1;
  std::string casenum = objtext(list, "case_num.VALUE");
  if (casenum.empty()) return 1;
  const std::string root = objtext(list, "attachdir.VALUE");
  if (root.empty()) {
    errmsg(kNoAttachdir);
    return -1;
  }
  std::optional<std::string> name = attachfolder_name(casenum);
  std::optional<std::string> folder = name ? case_folder(root, *name) : std::nullopt;
  if (!folder) {
    kivtrace("addattachdata: case '%s' gives no attachment folder", casenum);
    createattachmentblanktable(list);
    return 1;
  }
  addattachfiles(list, *folder, *name);
  return 0;
}

int addattachfiles(objlist& list, const std::string& folder, std::string_view casepart) {
  createattachmentblanktable(list);
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0) return 1;
  std::vector<std::string> names;
  if (!folder_names(folder, names)) {
    errmsg("Can't open dir='%s' errno=%d. \n", folder, errno);
    return 1;
  }
  objlist attachments;
  const bool linux_flavour = platform() == Platform::linux;
  for (const std::string& name : names) {
    const std::string path = folder + "/" + name;
    struct stat entry {};
    if (::lstat(path.c_str(), &entry) != 0) continue;
    // The Linux build skips hidden names, the Windows build folders.
    if (linux_flavour ? name.front() == '.' : S_ISDIR(entry.st_mode)) continue;
    if (name.find('_') == std::string::npos) continue;
    std::string kind(before_underscore(name));
    switch (itisattachfield(kind)) {
      case 1: {
        int n = attachmentnumber(kind);
        if (n < 1) break;
        std::time_t t = getmodtime(path);
        const char* when = std::ctime(&t);  // local time, with its line end
        adduniqobj(attachments, sformat("attach%d.VALUE", n), std::string(casepart) + "/" + name, Origin::record);
        adduniqobj(attachments, sformat("attach%dmodtime.VALUE", n), when ? when : "", Origin::record);
        break;
      }
      case 2:
      case 3:
      case 4: {
        // Only files of the folder's own are read, never what a link names.
        if (!S_ISREG(entry.st_mode)) break;
        std::optional<std::string> text = up_readfile(path);
        if (text) adduniqobj(attachments, kind + ".VALUE", *text, Origin::record);
        break;
      }
      default:
        break;
    }
  }
  createattachmenttable(list, attachments);
  return 0;
}

int createattachmenttable(objlist& list, const objlist& attachments) {
  std::set<int> numbers;
  for (const kivobj& o : attachments)
    if (int n = table_number(o.name()); n > 0 && o.has(attr::VALUE)) numbers.insert(n);
  std::string table(kTableHeader);
  for (int n : numbers) {
    const std::string names[] = {sformat("attach%d", n), sformat("attach%dmodtime", n), sformat("attachuser%d", n),
                                 sformat("attachdesc%d", n), sformat("attachsize%d", n)};
    for (size_t i = 0; i < std::size(names); ++i) {
      if (i > 0) table += kColSep;
      table += column(objtext(list, names[i], "TITLE"));
      table += kColSep;
      table += column(objtext(attachments, names[i], "VALUE"));
    }
    table += kRowEnd;
  }
  return adduniqobj(list, "attachmentresult.VALUE", table, Origin::record);
}

int createattachmentblanktable(objlist& list) { return adduniqobj(list, "attachmentresult.VALUE", kTableHeader); }

int delete_attachment(const objlist& list, std::string_view text) {
  const std::string root = objtext(list, "attachdir.VALUE");
  if (root.empty()) {
    kivtrace(kNoAttachdir);
    throw Exit{0};
  }
  size_t slash = text.rfind('/');
  if (slash == std::string_view::npos) delete_refused("delete_attachment_num is in a wrong format\n");
  std::optional<std::string> name = attachfolder_part(text.substr(0, slash));
  std::optional<std::string> folder = name ? case_folder(root, *name) : std::nullopt;
  if (!folder) delete_refused("delete_attachment_num is in a wrong format\n");
  std::string_view rest = text.substr(slash + 1);
  size_t underscore = rest.find('_');
  if (underscore == std::string_view::npos) delete_refused("delete_attachment_num is in a wrong format. exiting.\n");
  int n = attachmentnumber(rest.substr(0, underscore));
  std::string_view file = rest.substr(underscore + 1);
  if (n < 1 || !safe_name(file, true)) delete_refused("delete_attachment_num is in a wrong format. exiting.\n");
  for (std::string_view word : kKindWords) {
    std::string path = side_path(*folder, word, n, file);
    kivtrace("deleting %s", path);
    ::unlink(path.c_str());
  }
  return 0;
}

}  // namespace kiv

// The driver results record and the functions that fill it: the scratch file
// that receives a result's rows, the key row of column names, the bounded
// error text, and the read-back of the rows into odbcdata.
#include "data/webhandle_db.h"
#include "platform/state.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/exit.h"
#include "platform/output.h"
#include "toolkit/kivcgitrace.h"
#include "toolkit/kivpath.h"
#include "toolkit/kivsettings.h"
#include "toolkit/rowcol.h"

namespace kiv {

DriverResults& driver_results() {
  static DriverResults r;
  KIV_REGISTER_RESET(&reset_driver_results);
  return r;
}

void reset_driver_results() {
  closeodbcfile();
  removeodbcfile();
  driver_results() = DriverResults{};
}

namespace {

constexpr size_t kScratchBuffer = 64 * 1024;

// Opens the scratch file for reading and writing, truncated. It is private to
// this process: created with mode 0600 and never through a symbolic link.
FilePtr create_scratch(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return nullptr;
  std::FILE* f = ::fdopen(fd, "w+b");
  if (!f) {
    int e = errno;
    ::close(fd);
    errno = e;
    return nullptr;
  }
  // A result of many rows goes out in few writes.
  std::setvbuf(f, nullptr, _IOFBF, kScratchBuffer);
  return FilePtr(f);
}

void write_scratch(std::string_view text) {
  DriverResults& r = driver_results();
  if (!r.odbcfilep || text.empty()) return;
  if (std::fwrite(text.data(), 1, text.size(), r.odbcfilep.get()) != text.size() &&
      r.odbcfile_errno == 0)
    r.odbcfile_errno = errno ? errno : EIO;
}

}  // namespace

void initp() {
  DriverResults& r = driver_results();
  closeodbcfile();
  removeodbcfile();
  // Scratch files of calls that were killed are cleared now and then.
  remove_stale_files(reqctx().nvhome + "/tmp", "odbcfile.", kStaleFileAge, kOdbcSweepMarker);
  r.odbcfilename = sformat("%s/tmp/odbcfile.%d.%d", reqctx().nvhome,
                           static_cast<long long>(std::time(nullptr)), static_cast<int>(::getpid()));
  r.odbcfile_errno = 0;
  r.odbcfilep = create_scratch(r.odbcfilename);
  if (!r.odbcfilep) {
    pagef("Cannot open tmp file '%s'. errno=%d\n", r.odbcfilename, errno);
    r.odbcfilename.clear();
    throw Exit{-1};
  }
  r.odbcdata.reset();
  r.odbckey.reset();
  r.odbcerror.clear();
  r.dbms_name.clear();
}

int addd(std::string_view text) {
  if (text.empty()) return -1;
  write_scratch(text);
  return 0;
}

int dollard() {
  write_scratch(kRowEnd);
  return 0;
}

void addk(std::string_view text, KeyCase keycase) {
  if (text.empty()) return;
  DriverResults& r = driver_results();
  if (!r.odbckey) r.odbckey.emplace();
  std::string piece(text);
  if (keycase == KeyCase::lower) ToLower(piece);
  r.odbckey->append(piece);
}

void dollark() {
  std::optional<std::string>& key = driver_results().odbckey;
  if (!key || key->empty()) return;
  if (key->ends_with(kColSep)) key->resize(key->size() - kColSep.size());
  key->append(kRowEnd);
}

std::optional<std::string> readodbcfile(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    errmsg("readodbcfile: can't stat '%s' errno=%d\n", path, errno);
    return std::nullopt;
  }
  FilePtr f = open_file(path, "rb");
  if (!f) {
    errmsg("Cannot open file <%s> \n", path);
    return std::nullopt;
  }
  std::string text;
  text.reserve(static_cast<size_t>(st.st_size) + kOdbcDataSpare);
  text.resize(static_cast<size_t>(st.st_size));
  size_t n = text.empty() ? 0 : std::fread(text.data(), 1, text.size(), f.get());
  text.resize(n);
  return text;
}

std::string& ToLower(std::string& text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

void adderror(std::string_view text) {
  std::string& e = driver_results().odbcerror;
  size_t room = kOdbcErrorSize - 1 - std::min(e.size(), kOdbcErrorSize - 1);
  e.append(text.substr(0, room));
}

bool closeodbcfile() {
  DriverResults& r = driver_results();
  if (!r.odbcfilep) return r.odbcfile_errno == 0;
  if (std::fclose(r.odbcfilep.release()) != 0 && r.odbcfile_errno == 0)
    r.odbcfile_errno = errno ? errno : EIO;
  return r.odbcfile_errno == 0;
}

void removeodbcfile() {
  DriverResults& r = driver_results();
  if (r.odbcfilename.empty()) return;
  ::unlink(r.odbcfilename.c_str());
  r.odbcfilename.clear();
}

bool readback_odbcfile() {
  DriverResults& r = driver_results();
  bool written = closeodbcfile();
  if (!written) {
    adderror(sformat("Cannot write tmp file '%s'. errno=%d\n", r.odbcfilename, r.odbcfile_errno));
    removeodbcfile();
    r.odbcdata.reset();
    return false;
  }
  r.odbcdata = readodbcfile(r.odbcfilename);
  removeodbcfile();
  return r.odbcdata.has_value();
}

}  // namespace kiv

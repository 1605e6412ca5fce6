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
#include "toolkit/base/kivcgitrace.h"
#include "toolkit/base/kivpath.h"
#include "toolkit/base/kivsettings.h"
#include "toolkit/text/rowcol.h"

namespace kiv {

DriverResults& driver_results() {
  static DriverResults r;
  KIV_REGISTER_RESET(&reset_driver_results);
  return r;
}

void reset_driver_results() {
  // The stream goes before its buffer does.
  closeodbcfile();
  removeodbcfile();
  driver_results() = DriverResults{};
}

namespace {

// Opens the scratch file for reading and writing, truncated, with `buffer`
// (kScratchBuffer bytes) as its stream's buffer. It is private to this
// process: created with mode 0600 and never through a symbolic link.
FilePtr create_scratch(const std::string& path, char* buffer) {
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return nullptr;
  std::FILE* f = ::fdopen(fd, "w+b");
  if (!f) {
    int e = errno;
    ::close(fd);
    errno = e;
    return nullptr;
  }
  // A result of many rows goes out in few writes. (Without a buffer of its
  // own, stdio would take one of the file system's block size.)
  std::setvbuf(f, buffer, _IOFBF, kScratchBuffer);
  return FilePtr(f);
}

void write_scratch(std::string_view text) {
  DriverResults& r = driver_results();
  if (text.empty()) return;
  if (r.rows_in_memory) {
    r.odbcrows.append(text);
    return;
  }
  if (!r.odbcfilep) return;
  if (std::fwrite(text.data(), 1, text.size(), r.odbcfilep.get()) != text.size() &&
      r.odbcfile_errno == 0)
    r.odbcfile_errno = errno ? errno : EIO;
}

// Reads the whole of the open scratch file, whatever its stream's position,
// into a text with kOdbcDataSpare bytes of room beyond it. The failures are
// readodbcfile's, and a read that ends before the file does.
std::optional<std::string> read_scratch(std::FILE* f, const std::string& path) {
  const int fd = ::fileno(f);
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    errmsg("readodbcfile: can't stat '%s' errno=%d\n", path, errno);
    return std::nullopt;
  }
  std::string text;
  text.reserve(static_cast<size_t>(st.st_size) + kOdbcDataSpare);
  text.resize(static_cast<size_t>(st.st_size));
  size_t got = 0;
  while (got < text.size()) {
    const ssize_t n = ::pread(fd, text.data() + got, text.size() - got, static_cast<off_t>(got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      errmsg("readodbcfile: can't read '%s' errno=%d\n", path, n < 0 ? errno : EIO);
      return std::nullopt;
    }
    got += static_cast<size_t>(n);
  }
  return text;
}

}  // namespace

void initp(CallRows rows) {
  DriverResults& r = driver_results();
  closeodbcfile();
  removeodbcfile();
  r.rows_in_memory = false;
  r.odbcrows.clear();
  // Scratch files of calls that were killed are cleared now and then; a
  // process looks at the marker at its first call only.
  if (!r.odbcfile_swept) {
    remove_stale_files(reqctx().nvhome + "/tmp", "odbcfile.", kStaleFileAge, kOdbcSweepMarker);
    r.odbcfile_swept = true;
  }
  r.odbcdata.reset();
  r.odbckey.reset();
  r.odbcerror.clear();
  r.dbms_name.clear();
  if (rows == CallRows::in_memory) {
    r.rows_in_memory = true;
    return;
  }
  r.odbcfilename = sformat("%s/tmp/odbcfile.%d.%d", reqctx().nvhome,
                           static_cast<long long>(std::time(nullptr)), static_cast<int>(::getpid()));
  r.odbcfile_errno = 0;
  if (!r.odbcfilebuf) r.odbcfilebuf = std::make_unique_for_overwrite<char[]>(kScratchBuffer);
  r.odbcfilep = create_scratch(r.odbcfilename, r.odbcfilebuf.get());
  if (!r.odbcfilep) {
    pagef("Cannot open tmp file '%s'. errno=%d\n", r.odbcfilename, errno);
    r.odbcfilename.clear();
    throw Exit{-1};
  }
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
  if (r.rows_in_memory) {
    r.odbcdata = std::move(r.odbcrows);
    r.odbcrows.clear();
    r.rows_in_memory = false;
    return true;
  }
  // The rows are read back through the stream that wrote them: flushed, then
  // read from the start of the file.
  if (r.odbcfilep && std::fflush(r.odbcfilep.get()) != 0 && r.odbcfile_errno == 0)
    r.odbcfile_errno = errno ? errno : EIO;
  if (r.odbcfile_errno != 0) {
    adderror(sformat("Cannot write tmp file '%s'. errno=%d\n", r.odbcfilename, r.odbcfile_errno));
    closeodbcfile();
    removeodbcfile();
    r.odbcdata.reset();
    return false;
  }
  r.odbcdata = r.odbcfilep ? read_scratch(r.odbcfilep.get(), r.odbcfilename) : readodbcfile(r.odbcfilename);
  closeodbcfile();
  removeodbcfile();
  return r.odbcdata.has_value();
}

}  // namespace kiv

// Line reading with fgets limits, and whole-file reading.
#include "toolkit/base/kivio.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace kiv {

bool getline_limited(std::FILE* f, std::string& line, size_t size) {
  line.clear();
  if (!f || size < 2) return false;
  int c;
  while (line.size() + 1 < size && (c = getc_unlocked(f)) != EOF) {
    line += static_cast<char>(c);
    if (c == '\n') break;
  }
  return !line.empty();
}

bool read_whole_file(const std::string& path, std::string& text) {
  text.clear();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  // The text is sized once from the file's size, one byte more so that the
  // read that finds the end needs no room of its own, and read into straight:
  // no copy through a buffer. A file without a size (a pipe) or one that is
  // growing is read on in steps.
  struct stat st {};
  size_t room = ::fstat(fd, &st) == 0 && st.st_size > 0 ? static_cast<size_t>(st.st_size) + 1 : 4096;
  size_t got = 0;
  bool ok = true;
  for (;;) {
    if (got == text.size()) text.resize(std::max(room, got * 2));
    const ssize_t n = ::read(fd, text.data() + got, text.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    got += static_cast<size_t>(n);
  }
  text.resize(got);
  const int saved = errno;
  ::close(fd);
  errno = saved;
  return ok;
}

}  // namespace kiv

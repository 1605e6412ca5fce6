// Line reading with fgets limits, and whole-file reading.
#include "toolkit/kivio.h"

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
  FilePtr f = open_file(path, "rb");
  if (!f) return false;
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f.get())) > 0) text.append(buf, n);
  return !std::ferror(f.get());
}

}  // namespace kiv

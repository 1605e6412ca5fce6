// Small file helpers over stdio: an owning FILE pointer and a line reader
// with the line limits the system's file formats are defined by.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

namespace kiv {

struct FileCloser {
  void operator()(std::FILE* f) const {
    if (f) std::fclose(f);
  }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

inline FilePtr open_file(const std::string& path, const char* mode) {
  return FilePtr(std::fopen(path.c_str(), mode));
}

// Reads the next line as fgets with a buffer of `size` bytes would: at most
// size - 1 bytes, ending after a newline when one comes first. The rest of a
// longer line is read by the next call. Embedded NUL bytes are kept. False at
// end of file with nothing read.
bool getline_limited(std::FILE* f, std::string& line, size_t size);

// Reads a whole file; false (errno set) when it cannot be opened or read.
bool read_whole_file(const std::string& path, std::string& text);

}  // namespace kiv

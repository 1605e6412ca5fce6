// Page and console output seams.
// All page text goes through out() and all console diagnostics through err().
// Programs write to file descriptors 1 and 2; tests install string sinks.
#pragma once

#include <string>
#include <string_view>

namespace kiv {

class Sink {
 public:
  virtual ~Sink() = default;
  virtual void write(std::string_view text) = 0;
  virtual void flush() {}
  Sink& operator<<(std::string_view text) {
    write(text);
    return *this;
  }
  Sink& operator<<(char c) {
    write(std::string_view(&c, 1));
    return *this;
  }
  Sink& operator<<(long long n) {
    write(std::to_string(n));
    return *this;
  }
  Sink& operator<<(int n) { return *this << static_cast<long long>(n); }
};

// A buffered writer on a file descriptor: text is held in a buffer of one
// fixed size (16 KB) and written when the buffer is full, at flush(), and
// at once for a piece as large as the buffer, in the order written. Write
// errors (a browser that went away) are ignored: the request carries on to
// its end.
class FdSink : public Sink {
 public:
  explicit FdSink(int fd) : fd_(fd) {}
  ~FdSink() override;
  void write(std::string_view text) override;
  void flush() override;

 private:
  int fd_;
  std::string buf_;
};

// A buffered writer on a file the caller opened, for pages written into
// files (an export), where a lost byte is a broken file: held and written as
// FdSink holds and writes, through write_all, but the first failed write is
// kept, and close() reports it (or the close's own failure). Nothing more is
// written after a failure. The descriptor is the sink's: close() (or the
// destructor) closes it.
class FileSink : public Sink {
 public:
  explicit FileSink(int fd) : fd_(fd) {}
  ~FileSink() override;
  FileSink(const FileSink&) = delete;
  FileSink& operator=(const FileSink&) = delete;
  void write(std::string_view text) override;
  void flush() override;
  // Flushes and closes the file: 0, or the errno of the first failed write
  // or of the close. A second call gives the first one's answer.
  int close();

 private:
  int fd_;
  int error_ = 0;
  std::string buf_;
};

// Collects everything written; used by tests.
class StringSink : public Sink {
 public:
  void write(std::string_view text) override { text_.append(text); }
  const std::string& text() const { return text_; }
  void clear() { text_.clear(); }

 private:
  std::string text_;
};

// The page (standard output) and the console error stream (standard error).
// Their writers on the descriptors are flushed when the process exits, also
// without flush_all.
Sink& out();
Sink& err();

// How many bytes the process has written to the page so far, through out()
// whichever sink stands behind it: a request tells by it whether anything
// followed its content-type line.
size_t page_bytes();

// Replace a stream; nullptr restores the file descriptor writer.
// The caller keeps ownership of the sink. set_out gives the sink that stood
// there before (nullptr for the descriptor writer), to be put back.
Sink* set_out(Sink* s);
void set_err(Sink* s);

// Flush both streams (before a child process writes to the same descriptors,
// and before exit).
void flush_all();

// Writes all of `text` to the descriptor, going on after interrupted and
// partial writes. False, with errno set (EIO for a write that took nothing),
// when a write fails; what went before it stays written.
bool write_all(int fd, std::string_view text);

}  // namespace kiv

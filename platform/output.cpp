// Buffered page and console output on file descriptors, replaceable by tests.
#include "platform/output.h"

#include <cerrno>
#include <cstdlib>
#include <unistd.h>

namespace kiv {

namespace {

// The buffer's one size: it is made once, at the first write, and never
// grows, so a page costs the same few pages of memory however long it is
// (a growing buffer would touch each size it passes through).
constexpr size_t kBufferSize = 16384;

}  // namespace

bool write_all(int fd, std::string_view text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

FdSink::~FdSink() { flush(); }

void FdSink::write(std::string_view text) {
  if (buf_.capacity() < kBufferSize) buf_.reserve(kBufferSize);
  if (buf_.size() + text.size() > kBufferSize) flush();
  // A piece as large as the buffer goes out at once, behind what was held.
  if (text.size() >= kBufferSize) {
    write_all(fd_, text);
    return;
  }
  buf_.append(text);
  if (buf_.size() == kBufferSize) flush();
}

void FdSink::flush() {
  write_all(fd_, buf_);
  buf_.clear();
}

FileSink::~FileSink() { close(); }

void FileSink::write(std::string_view text) {
  if (fd_ < 0 || error_ != 0) return;
  if (buf_.capacity() < kBufferSize) buf_.reserve(kBufferSize);
  if (buf_.size() + text.size() > kBufferSize) flush();
  if (text.size() >= kBufferSize) {
    if (error_ == 0 && !write_all(fd_, text)) error_ = errno;
    return;
  }
  buf_.append(text);
  if (buf_.size() == kBufferSize) flush();
}

void FileSink::flush() {
  if (fd_ >= 0 && error_ == 0 && !buf_.empty() && !write_all(fd_, buf_)) error_ = errno;
  buf_.clear();
}

int FileSink::close() {
  if (fd_ < 0) return error_;
  flush();
  if (::close(fd_) != 0 && error_ == 0) error_ = errno;
  fd_ = -1;
  return error_;
}

namespace {
// The writers on descriptors 1 and 2: made on first use (no file is read),
// and never destroyed. They live as long as the process: at its exit they
// are flushed (std::atexit) and their buffers go with it. Freeing the page's
// buffer as the last block of all would make the allocator sort every small
// block freed before it, work that no process needs at its end.
template <int Fd>
FdSink& fd_sink() {
  static FdSink* const s = [] {
    FdSink* sink = new FdSink(Fd);
    std::atexit([] { fd_sink<Fd>().flush(); });
    return sink;
  }();
  return *s;
}
FdSink& stdout_sink() { return fd_sink<1>(); }
FdSink& stderr_sink() { return fd_sink<2>(); }
Sink* g_out = nullptr;
Sink* g_err = nullptr;

// The page as out() gives it: counts what passes and hands it to the sink
// that stands behind it (a test's, else standard output's).
class PageSink : public Sink {
 public:
  void write(std::string_view text) override {
    bytes_ += text.size();
    target().write(text);
  }
  void flush() override { target().flush(); }
  size_t bytes() const { return bytes_; }

 private:
  static Sink& target() { return g_out ? *g_out : stdout_sink(); }
  size_t bytes_ = 0;
};

PageSink& page_sink() {
  static PageSink* const s = new PageSink;
  return *s;
}
}  // namespace

Sink& out() { return page_sink(); }

size_t page_bytes() { return page_sink().bytes(); }

Sink& err() {
  if (g_err) return *g_err;
  // Standard error is unbuffered in spirit: flush per write.
  struct Unbuffered : Sink {
    void write(std::string_view t) override {
      stderr_sink().write(t);
      stderr_sink().flush();
    }
  };
  static Unbuffered u;
  return u;
}

Sink* set_out(Sink* s) {
  Sink* before = g_out;
  g_out = s;
  return before;
}
void set_err(Sink* s) { g_err = s; }

void flush_all() {
  out().flush();
  err().flush();
}

}  // namespace kiv

// Buffered page and console output on file descriptors, replaceable by tests.
#include "platform/output.h"

#include <cerrno>
#include <unistd.h>

namespace kiv {

FdSink::~FdSink() { flush(); }

void FdSink::write(std::string_view text) {
  buf_.append(text);
  if (buf_.size() >= 16384) flush();
}

void FdSink::flush() {
  size_t done = 0;
  while (done < buf_.size()) {
    ssize_t n = ::write(fd_, buf_.data() + done, buf_.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  buf_.clear();
}

namespace {
// The writers on descriptors 1 and 2: made on first use (no file is read),
// and never destroyed. They live as long as the process: at its exit they
// are flushed (std::atexit) and their buffers go with it. Freeing the page's
// buffer as the last block of all would make the allocator sort every small
// block freed before it, work that no process needs at its end.
FdSink& stdout_sink() {
  static FdSink* const s = [] {
    FdSink* sink = new FdSink(1);
    std::atexit([] { stdout_sink().flush(); });
    return sink;
  }();
  return *s;
}
FdSink& stderr_sink() {
  static FdSink* const s = [] {
    FdSink* sink = new FdSink(2);
    std::atexit([] { stderr_sink().flush(); });
    return sink;
  }();
  return *s;
}
Sink* g_out = nullptr;
Sink* g_err = nullptr;
}  // namespace

Sink& out() { return g_out ? *g_out : stdout_sink(); }

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

void set_out(Sink* s) { g_out = s; }
void set_err(Sink* s) { g_err = s; }

void flush_all() {
  out().flush();
  err().flush();
}

}  // namespace kiv

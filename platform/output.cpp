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
// Function-local statics: constructed on first use, no file is read.
FdSink& stdout_sink() {
  static FdSink s(1);
  return s;
}
FdSink& stderr_sink() {
  static FdSink s(2);
  return s;
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

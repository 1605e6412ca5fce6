// Console input, one line at a time (see input.h).
#include "platform/input.h"

#include <cerrno>
#include <unistd.h>

namespace kiv {

std::optional<std::string> read_console_line(int fd) {
  std::string line;
  bool any = false;
  for (;;) {
    char c = 0;
    const ssize_t n = ::read(fd, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    any = true;
    if (c == '\n') break;
    if (line.size() < kConsoleLineMax) line += c;
  }
  if (!any) return std::nullopt;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

}  // namespace kiv

// Helpers shared by tagwriter and tagscanner (see tagcommon.h).
#include "tools/tagcommon.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstring>

#include "platform/output.h"
#include "toolkit/base/kivfmt.h"

namespace kiv {

void printerror(std::string_view text) {
  int e = errno;
  out() << sformat("%s: (%d) %s\n", text, e, std::strerror(e));
}

int leadingint(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  long long v = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    v = v * 10 + (text[i] - '0');
    if (v > static_cast<long long>(INT_MAX) + 1) v = static_cast<long long>(INT_MAX) + 1;
  }
  if (negative) v = -v;
  if (v > INT_MAX) v = INT_MAX;
  if (v < INT_MIN) v = INT_MIN;
  return static_cast<int>(v);
}

}  // namespace kiv

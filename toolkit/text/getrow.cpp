// Picking one row of a row/column text.
#include "toolkit/text/rowcol.h"

namespace kiv {

std::optional<std::string> getrow(std::string_view text, int n) {
  if (text.empty() || n < 1) return std::nullopt;
  size_t start = 0;
  for (int i = 1; i < n; ++i) {
    size_t p = text.find(kRowEnd, start);
    if (p == std::string_view::npos) return std::string();
    start = p + 2;
  }
  size_t end = text.find(kRowEnd, start);
  end = end == std::string_view::npos ? text.size() : end + 2;
  return std::string(text.substr(start, end - start));
}

}  // namespace kiv

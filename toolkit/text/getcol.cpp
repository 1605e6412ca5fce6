// Picking one column of a row. Separators are counted on across row ends, so
// callers give one row.
#include "toolkit/text/rowcol.h"

namespace kiv {

std::optional<std::string> getcol(std::string_view row, int n) {
  if (row.empty() || n < 1) return std::nullopt;
  size_t start = 0;
  for (int i = 1; i < n; ++i) {
    size_t p = row.find(kColSep, start);
    if (p == std::string_view::npos) return std::nullopt;
    start = p + 2;
  }
  size_t end = row.find(kColSep, start);
  if (end == std::string_view::npos) end = row.find(kRowEnd, start);
  if (end == std::string_view::npos) end = row.size();
  std::string_view col = row.substr(start, end - start);
  if (col == kEmptyCol) return std::string();
  return std::string(col);
}

}  // namespace kiv

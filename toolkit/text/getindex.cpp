// Finding a column by its whole name in a key row.
#include "toolkit/text/rowcol.h"

namespace kiv {

int getindex(std::string_view keyrow, std::string_view name) {
  if (keyrow.empty() || name.empty()) return 0;
  for (size_t p = keyrow.find(name); p != std::string_view::npos; p = keyrow.find(name, p + 2)) {
    std::string_view after = keyrow.substr(p + name.size());
    bool ends = after.starts_with(kColSep) || after.starts_with(kRowEnd);
    bool starts = p == 0 || (p >= 2 && keyrow.substr(p - 2, 2) == kColSep);
    if (!ends || !starts) continue;
    int col = 1;
    for (size_t s = keyrow.find(kColSep); s != std::string_view::npos && s + 2 <= p;
         s = keyrow.find(kColSep, s + 2))
      ++col;
    return col;
  }
  return 0;
}

}  // namespace kiv

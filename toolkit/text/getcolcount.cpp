// Counting the columns of a row.
#include "toolkit/text/rowcol.h"

namespace kiv {

int getcolcount(std::string_view row) {
  if (row.size() < 2 || row.substr(row.size() - 2) != kRowEnd) return 0;
  int n = 1;
  for (size_t p = row.find(kColSep); p != std::string_view::npos; p = row.find(kColSep, p + 2))
    ++n;
  return n;
}

}  // namespace kiv

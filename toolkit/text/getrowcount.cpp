// Counting the rows of a row/column text.
#include "toolkit/text/rowcol.h"

namespace kiv {

int getrowcount(std::string_view text) {
  // Each "$" after a "^" ends a row ("^$" cannot overlap itself); a "$" is
  // rare in a table, a "^" is in every separator, so the search is for "$".
  int n = 0;
  for (size_t p = text.find('$', 1); p != std::string_view::npos; p = text.find('$', p + 1))
    if (text[p - 1] == '^') ++n;
  return n;
}

}  // namespace kiv

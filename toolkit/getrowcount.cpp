// Counting the rows of a row/column text.
#include "toolkit/rowcol.h"

namespace kiv {

int getrowcount(std::string_view text) {
  int n = 0;
  for (size_t p = text.find(kRowEnd); p != std::string_view::npos; p = text.find(kRowEnd, p + 2))
    ++n;
  return n;
}

}  // namespace kiv

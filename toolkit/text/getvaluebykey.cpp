// Picking a column of a row by its name in the key row.
#include "toolkit/text/rowcol.h"

namespace kiv {

std::optional<std::string> getvaluebykey(std::string_view row, std::string_view keyrow,
                                         std::string_view name) {
  if (row.empty() || keyrow.empty() || name.empty()) return std::nullopt;
  int col = getindex(keyrow, name);
  if (col == 0) return std::nullopt;
  return getcol(row, col);
}

}  // namespace kiv

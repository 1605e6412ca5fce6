// title2var: a value picked by the position of its title.
#include "engine/title2var.h"

#include "toolkit/text/rowcol.h"

namespace kiv {

std::optional<std::string> title2var(std::string_view name, std::string_view titles, std::string_view values) {
  if (titles.empty() || name.empty()) return std::nullopt;
  std::string row(titles);
  if (!row.ends_with(kRowEnd)) row += kRowEnd;  // getindex finds a last column only before its "^$"
  int at = getindex(row, name);
  if (at < 1) return std::nullopt;
  return getcol(values, at);
}

}  // namespace kiv

// Splitting one row of row/column text into its columns in one pass, for the
// template engine's menus and tables (getcol walks the row once per column).
#pragma once

#include <string_view>
#include <vector>

namespace kiv {

// The columns of a row exactly as getcol gives them: cols[n - 1] is
// getcol(row, n) for every n that getcol finds, with "^^" as an empty column.
// The views point into `row`. An empty text has no columns.
std::vector<std::string_view> row_columns(std::string_view row);

}  // namespace kiv

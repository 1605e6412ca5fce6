// A walk over the rows of a row/column text in one pass: each row is found
// from where the one before ended, where getrow(text, n) would search the
// text again from its start for every n (a walk of n rows costing n^2).
#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "toolkit/text/rowcol.h"

namespace kiv {

// The rows of a text in order, each with its "^$", as getrow gives them for
// n = 1, 2, ... up to getrowcount(text). The views point into the text,
// which must outlive the walk.
class RowWalk {
 public:
  explicit RowWalk(std::string_view text) : text_(text) {}

  // The next row, or none after the last one that is ended by "^$".
  std::optional<std::string_view> next() {
    const size_t end = text_.find(kRowEnd, pos_);
    if (end == std::string_view::npos) return std::nullopt;
    const std::string_view row = text_.substr(pos_, end + kRowEnd.size() - pos_);
    pos_ = end + kRowEnd.size();
    return row;
  }

 private:
  std::string_view text_;
  size_t pos_ = 0;
};

// Every row of a table, each with its "^$", in one walk.
inline std::vector<std::string_view> table_rows(std::string_view text) {
  std::vector<std::string_view> rows;
  RowWalk walk(text);
  while (const std::optional<std::string_view> row = walk.next()) rows.push_back(*row);
  return rows;
}

}  // namespace kiv

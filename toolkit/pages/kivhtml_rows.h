// Helpers that the template engine's files share: splitting one row of
// row/column text into its columns in one pass (getcol walks the row once
// per column), and appending values to a page text escaped or as they are.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "toolkit/objects/kivobj.h"

namespace kiv {

// The columns of a row exactly as getcol gives them: cols[n - 1] is
// getcol(row, n) for every n that getcol finds, with "^^" as an empty column.
// The views point into `row`. An empty text has no columns.
std::vector<std::string_view> row_columns(std::string_view row);

// Appends the text HTML-escaped as data2brows escapes it; a text of letters,
// digits, blanks and punctuation that no escape touches is appended as it is
// without a copy in between.
void append_escaped(std::string& out, std::string_view text);

// Appends a value as the markers that print raw show it: what configuration
// or the program wrote as it is, what a request or a record supplied
// HTML-escaped.
void append_shown(std::string& out, const attrview& value);

}  // namespace kiv

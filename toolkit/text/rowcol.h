// Row/column text: the exchange format of tables between modules.
// A row is its columns joined by "^@" and ended by "^$"; a table is its rows
// one after another; "^^" is an empty column. Rows and columns count from 1.
// The format has no escape: a value cannot hold "^@", "^$" or "^^".
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace kiv {

inline constexpr std::string_view kColSep = "^@";
inline constexpr std::string_view kRowEnd = "^$";
inline constexpr std::string_view kEmptyCol = "^^";

// Number of "^$" in the text; 0 for an empty text.
int getrowcount(std::string_view text);

// Row n with its "^$"; an empty text past the last row; none for an empty
// text or a row number below 1.
std::optional<std::string> getrow(std::string_view text, int n);
// getrow, no row read as an empty text.
inline std::string getrow_or_empty(std::string_view text, int n) { return getrow(text, n).value_or(std::string()); }

// 1 + the number of "^@" for a text ending in "^$"; 0 otherwise.
int getcolcount(std::string_view row);

// Column n of a row ("^^" gives an empty text); none for n below 1, an empty
// row or a column past the last.
std::optional<std::string> getcol(std::string_view row, int n);
// getcol, no column read as an empty text.
inline std::string getcol_or_empty(std::string_view row, int n) { return getcol(row, n).value_or(std::string()); }

// 1-based number of the column whose whole name is `name`; 0 when absent.
int getindex(std::string_view keyrow, std::string_view name);

// getcol(row, getindex(keyrow, name)); none when any argument is empty or
// the name is not a column.
std::optional<std::string> getvaluebykey(std::string_view row, std::string_view keyrow,
                                         std::string_view name);
// getvaluebykey, no value read as an empty text.
inline std::string getvaluebykey_or_empty(std::string_view row, std::string_view keyrow, std::string_view name) {
  return getvaluebykey(row, keyrow, name).value_or(std::string());
}

// Cuts white space at both ends and folds runs of blanks inside to one blank,
// in place; gives the same text back.
std::string& trimspace(std::string& text);

// The text as trimspace would leave it, as a view into it, when trimspace
// would only cut its ends; none when a run of blanks inside needs folding.
std::optional<std::string_view> trimspace_view(std::string_view text);

// Position of the first `part` in `text`, or npos.
size_t strstr1(std::string_view text, std::string_view part);

// Sorts the rows of `table` by the column `name` of `keyrow` as `type`
// (CHAR, INT, FLOAT, DATE_TIME; other types as CHAR), in place. 0, or -1 empty
// table, -2 empty key row, -3 empty type, -4 empty column name. INT orders
// larger numbers first in the Windows flavour, smaller first in the Linux one.
int kivsort(std::string& table, std::string_view keyrow, std::string_view name,
            std::string_view type);

}  // namespace kiv

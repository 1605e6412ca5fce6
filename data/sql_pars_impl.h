// What the generator's files share: a value converted for its column, with
// the difference between "no value" (the column is left out or matches
// nothing) and "refused" (the statement must not be written).
#pragma once

#include <string>
#include <string_view>

#include "data/sql_pars.h"

namespace kiv::sqlpars {

enum class Conv { value, none, refused };

struct Converted {
  Conv kind = Conv::none;
  std::string text;
};

// A value converted by its column's type: dates by the date rules, integer
// and float columns only when the value is a number, text with apostrophes
// doubled; a date quoted when it goes into a condition. A refusal is
// reported in the page with the column's name.
Converted convert(const dbconfig_column& column, std::string_view value, DateUse use);

// True for a decimal number: an optional sign, digits with an optional
// fraction, an optional exponent. Nothing else, not even blanks.
bool is_number(std::string_view text);

// The value under a column of the first row of a packet text; empty when the
// key row lacks the column or the value is "^^".
std::string first_row_value(std::string_view data, std::string_view keys, std::string_view name);

// True when the key row names the column.
bool has_key(std::string_view keys, std::string_view name);

// The distinct list (column names, "t.*" allowed) and the join condition (no
// ";" outside quotes); each prints its refusal and answers false.
bool distinct_ok(std::string_view list);
bool join_ok(std::string_view join);

// The condition of column `index` for `tree`, appended to `term` (nothing
// when every part gives no value). False when a value or the column's name
// is refused.
bool column_condition(const dbconfig_node& node, int index, const ptree& tree, std::string& term);

}  // namespace kiv::sqlpars

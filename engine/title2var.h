// The lookup of a value by the position of its title: configuration objects
// that offer a choice keep a row of titles and, at the same positions, a row
// of values (report files, signature files, case-number prefixes); the title
// a form picked selects the value.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kiv {

// The value in `values` at the column where `titles` holds exactly `name`
// (the first such column). None for an empty title row, a name the titles
// do not hold, or a value row without that column; "^^" there gives an
// empty text. A row given without its closing "^$" is read as if it had it.
std::optional<std::string> title2var(std::string_view name, std::string_view titles, std::string_view values);

}  // namespace kiv

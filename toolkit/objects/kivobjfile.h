// Object files: the reader that turns a file of "OBJECT{" blocks into an
// object list, and the writer of the canonical form that the administration
// saves, kept together so that what one writes the other reads back.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "toolkit/objects/kivobj.h"

namespace kiv {

// The object list of the object file at `path` (head object first, then the
// closed blocks in file order), or none after printing "Cannot open object
// file '%s'. errno=%d\n" when the file cannot be read.
std::unique_ptr<objlist> loadkivobj(const std::string& path);

// The object list of an object file's text.
std::unique_ptr<objlist> readkivobj(std::string_view text);

// A value as the canonical form writes it, or none when no text reads back as
// it. The reader takes a written value back unchanged when it holds no line
// feed and no white space at its ends or in runs; a value ending in a
// backslash keeps it (a blank is written after it, which the reader trims);
// continued lines (a backslash right before a line feed, as stored mail texts
// hold them) are joined by the reader; trailing white-space lines are left
// out. Refused: a NUL, and a line feed without a backslash before it that has
// text after it, which would end the value early and let the rest be read
// as objects and attributes.
std::optional<std::string> objfile_value(std::string_view value);

// The canonical form of the list: for every object but the head, "OBJECT{",
// one line "\t<KEYWORD>=<value>" per present attribute in attribute order
// (ENFORCE left out when it is "0"), then "};". False, with `text` emptied
// and `error` saying which object and attribute, when a value cannot be
// written (nothing of such a list should be saved), when an object other
// than the head bears the head's name.
bool writekivobj(const objlist& list, std::string& text, std::string* error = nullptr);

}  // namespace kiv

// Escaping text for JavaScript string literals written into a page.
#pragma once

#include <string>
#include <string_view>

namespace kiv {

// The text as the inside of a JavaScript string literal in double or single
// quotes within an HTML script element: backslash, quotes and control
// characters are escaped, and "<", ">" and "&" are written as \x3C, \x3E and
// \x26 so that the text can never close the script element. The line and
// paragraph separators (U+2028, U+2029 in UTF-8) are escaped too.
std::string js_escape(std::string_view text);

}  // namespace kiv

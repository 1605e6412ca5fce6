// Text escapes between the browser and the stored data (HTML references for
// pages, URL encoding for links, and back), and small string functions.
#pragma once

#include <string>
#include <string_view>

namespace kiv {

// HTML-escapes a value for a page: " < > & ' tab and line ends become
// character references, line ends " <br> " while the line-break switch is on.
std::string data2brows(std::string_view text);
// URL-encodes a value for a link.
std::string convdata2html(std::string_view text);
// URL-encodes `text` into `out` and gives `out` back.
std::string& d2html(std::string& out, std::string_view text);
// Decodes in a text the character references that data2brows writes; any
// other text is left as it is (brows2data in exlist.h does it to a node).
std::string brows2data_text(std::string_view value);
// The text without the carriage returns that stand before a line feed.
std::string filtertwolines(std::string_view text);
// Cuts trailing blanks in place.
std::string& trim(std::string& text);

}  // namespace kiv

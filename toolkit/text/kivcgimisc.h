// Text escapes between the browser and the stored data (HTML references for
// pages, URL encoding for links, and back), and small string functions.
#pragma once

#include <string>
#include <string_view>

namespace kiv {

struct exdata;

// HTML-escapes a value for a page: " < > & ' tab and line ends become
// character references, line ends " <br> " while the line-break switch is on.
std::string data2brows(std::string_view text);
// URL-encodes a value for a link.
std::string convdata2html(std::string_view text);
// URL-encodes `text` into `out` and gives `out` back.
std::string& d2html(std::string& out, std::string_view text);
// Decodes in a request variable's value the character references that
// data2brows writes; any other text is left as it is.
void brows2data(exdata& node);
// Decodes a text the same way.
std::string brows2data_text(std::string_view value);
// Cuts trailing blanks in place.
std::string& trim(std::string& text);
// Copies at most size - 1 characters of `text` into `out`; nullptr (and out
// untouched) when size is below 1.
std::string* strmaxcpy(std::string& out, std::string_view text, long size);
// The scanner's end-of-input hook: every input ends the scan.
int yywrap();

}  // namespace kiv

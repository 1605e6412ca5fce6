// The multipart form-data reader with its file uploads, and the small parser
// of structured header lines (the attribute lists of a part's disposition
// line) that it uses. Uploaded files are saved under <home>/tmp; the request
// context keeps the paths saved (is_saved_upload, take_upload), so later
// code can tell a real upload from a path typed into a field, and removes
// the ones no command took over when the request ends.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "toolkit/request/form_entry.h"
#include "toolkit/base/kivcontext.h"

namespace kiv {

// One attribute of a header line: a token and an optional value.
struct header_attr {
  std::string token;
  std::optional<std::string> value;
};
using header_group = std::vector<header_attr>;  // attributes joined by ";"
using header_groups = std::vector<header_group>;  // groups joined by ","

// A parsed header line: its name (the text before the first ":") and its
// content by kind: 0 the text as it stands, 1 structured groups, 3 the
// address. An empty rest gives no content.
struct parsed_header {
  std::string name;
  std::optional<std::string> text;
  std::optional<header_groups> groups;
};

// The multipart body of `in` (standard input by default), of CONTENT_LENGTH
// bytes and split at the boundary of CONTENT_TYPE. Ends the process when
// either variable is missing or the length is bad, when an upload cannot be
// saved, and when a file is larger than the request context's limit.
form_entries parse_multipart(std::FILE* in);
form_entries parse_multipart();

parsed_header header_parse(int kind, std::string_view line);
header_groups header_structured(std::string_view text);
// The value of the attribute `name` (compared without regard to case) in the
// first group: an empty text for an attribute without a value; none when the
// group has no such attribute.
std::optional<std::string> header_attribute(const header_groups& groups, std::string_view name);
// 1 when `c` ends a token: a byte below 33, a byte of 128 or above, or one of
// ",;=?@<>()[]".
int eoa(int c);
std::string header_address(std::string_view text);

// The client's file name made safe: its last path part with blanks and
// shell characters turned into "_".
std::string trans(std::string_view name);
// The filename="..." text of a disposition line, or "Noname".
std::string getnamefromline(std::string_view line);

}  // namespace kiv

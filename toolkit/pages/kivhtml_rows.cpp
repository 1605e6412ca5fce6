// The helpers that the template engine's files share (kivhtml_rows.h): one
// row split into its columns in one pass, and values appended to a page
// escaped or as they are.
#include "toolkit/pages/kivhtml_rows.h"

#include <array>

#include "toolkit/text/kivcgimisc.h"
#include "toolkit/text/rowcol.h"

namespace kiv {

namespace {

// Bytes that data2brows writes as they are and that no escape of a page ever
// touches: a text of these alone needs no escaping. Anything else (markup,
// quotes, line ends, bytes of other scripts) goes through data2brows.
constexpr std::array<bool, 256> plain_bytes() {
  std::array<bool, 256> t{};
  for (int c = '0'; c <= '9'; ++c) t[c] = true;
  for (int c = 'a'; c <= 'z'; ++c) t[c] = true;
  for (int c = 'A'; c <= 'Z'; ++c) t[c] = true;
  for (char c : std::string_view(" .,:;-_/()!?+*#@%=[]{}|~^$")) t[static_cast<unsigned char>(c)] = true;
  return t;
}
constexpr std::array<bool, 256> kPlainBytes = plain_bytes();

}  // namespace

std::vector<std::string_view> row_columns(std::string_view row) {
  std::vector<std::string_view> cols;
  if (row.empty()) return cols;
  size_t start = 0;
  while (true) {
    size_t sep = row.find(kColSep, start);
    size_t end = sep;
    if (sep == std::string_view::npos) {
      end = row.find(kRowEnd, start);
      if (end == std::string_view::npos) end = row.size();
    }
    std::string_view col = row.substr(start, end - start);
    cols.push_back(col == kEmptyCol ? std::string_view() : col);
    if (sep == std::string_view::npos) return cols;
    start = sep + kColSep.size();
  }
}

void append_escaped(std::string& out, std::string_view text) {
  for (char c : text) {
    if (!kPlainBytes[static_cast<unsigned char>(c)]) {
      out += data2brows(text);
      return;
    }
  }
  out.append(text);
}

void append_shown(std::string& out, const attrview& value) {
  if (value.marked())
    append_escaped(out, value.text);
  else
    out.append(value.text);
}

}  // namespace kiv

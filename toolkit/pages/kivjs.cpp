// JavaScript string escape for texts written into generated scripts.
#include "toolkit/pages/kivjs.h"

namespace kiv {

std::string js_escape(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string r;
  r.reserve(text.size() + 8);
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    switch (c) {
      case '\\': r += "\\\\"; continue;
      case '"': r += "\\\""; continue;
      case '\'': r += "\\'"; continue;
      case '\n': r += "\\n"; continue;
      case '\r': r += "\\r"; continue;
      case '\t': r += "\\t"; continue;
      default: break;
    }
    // U+2028 and U+2029 end a line inside older script engines.
    if (c == 0xE2 && i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x80 &&
        (static_cast<unsigned char>(text[i + 2]) == 0xA8 || static_cast<unsigned char>(text[i + 2]) == 0xA9)) {
      r += static_cast<unsigned char>(text[i + 2]) == 0xA8 ? "\\u2028" : "\\u2029";
      i += 2;
      continue;
    }
    if (c < 0x20 || c == 0x7F || c == '<' || c == '>' || c == '&') {
      r += "\\x";
      r += kHex[c >> 4];
      r += kHex[c & 0xF];
      continue;
    }
    r += static_cast<char>(c);
  }
  return r;
}

}  // namespace kiv

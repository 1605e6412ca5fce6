// Text escapes between the browser and the stored data, and small string
// functions.
#include <array>

#include "toolkit/kivcgi.h"
#include "toolkit/kivcgitrace.h"
#include "toolkit/kivexfile.h"

namespace kiv {

std::string data2brows(std::string_view text) {
  if (text.empty()) return std::string();
  const bool br = reqctx().bron;
  std::string r;
  r.reserve(text.size() + text.size() / 4);
  for (char c : text) {
    switch (c) {
      case '"': r += "&#34;"; break;
      case '\n':
      case '\r': r += br ? " <br> " : "&#10;"; break;
      case '<': r += "&#60;"; break;
      case '>': r += "&#62;"; break;
      case '&': r += "&#38;"; break;
      case '\t': r += "&#09;"; break;
      case '\'': r += "&#39;"; break;
      default: r += c;
    }
  }
  return r;
}

std::string& d2html(std::string& out, std::string_view text) {
  static const char hex[] = "0123456789ABCDEF";
  out.clear();
  out.reserve(text.size() * 3);
  for (char ch : text) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (c == ' ') {
      out += '+';
    } else if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

std::string convdata2html(std::string_view text) {
  std::string r;
  if (text.empty()) return r;
  return d2html(r, text);
}

namespace {

// The character references data2brows writes, and their characters.
struct Entity {
  std::string_view code;
  char c;
};
constexpr std::array<Entity, 7> kEntities{{{"34", '"'},
                                           {"10", '\n'},
                                           {"09", '\t'},
                                           {"60", '<'},
                                           {"62", '>'},
                                           {"38", '&'},
                                           {"39", '\''}}};

// The character of the reference "&#NN;" at the start of `s`, or 0.
char known_entity(std::string_view s) {
  if (s.size() < 5 || s[4] != ';') return 0;
  for (const Entity& e : kEntities)
    if (s.substr(2, 2) == e.code) return e.c;
  return 0;
}

}  // namespace

std::string brows2data_text(std::string_view v) {
  std::string r;
  r.reserve(v.size());
  size_t pos = 0;
  for (size_t amp = v.find("&#"); amp != std::string_view::npos; amp = v.find("&#", pos)) {
    r.append(v.substr(pos, amp - pos));
    std::string_view rest = v.substr(amp);
    if (char c = known_entity(rest)) {
      r += c;
      pos = amp + 5;
      continue;
    }
    // Not one of ours: keep the text as it stands.
    std::string_view code = rest.substr(2, 2);
    kivtrace("Bad special html char '&#%s'", code);
    r += "&#";
    pos = amp + 2;
  }
  r.append(v.substr(pos));
  return r;
}

void brows2data(exdata& node) {
  if (node.value.empty()) return;
  node.value = brows2data_text(node.value);
}

std::string& trim(std::string& text) {
  size_t end = text.size();
  while (end > 0 && text[end - 1] == ' ') --end;
  text.resize(end);
  return text;
}

std::string* strmaxcpy(std::string& out, std::string_view text, long size) {
  if (size < 1) return nullptr;
  size_t n = std::min(text.size(), static_cast<size_t>(size - 1));
  out.assign(text.substr(0, n));
  return &out;
}

int yywrap() { return 1; }

}  // namespace kiv

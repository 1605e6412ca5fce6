// Text escapes between the browser and the stored data, and small string
// functions.
#include <array>

#include "toolkit/text/kivcgimisc.h"
#include "toolkit/base/kivcgitrace.h"

namespace kiv {

namespace {

// The character reference data2brows writes for a character, or an empty
// text for a character written as it is. Line ends are decided at run time.
constexpr std::array<std::string_view, 256> browser_refs() {
  std::array<std::string_view, 256> t{};
  t['"'] = "&#34;";
  t['<'] = "&#60;";
  t['>'] = "&#62;";
  t['&'] = "&#38;";
  t['\t'] = "&#09;";
  t['\''] = "&#39;";
  t['\n'] = t['\r'] = "&#10;";
  return t;
}
constexpr std::array<std::string_view, 256> kBrowserRefs = browser_refs();

// Letters and digits go into a URL as they are; a blank becomes "+".
constexpr std::array<bool, 256> url_plain() {
  std::array<bool, 256> t{};
  for (int c = '0'; c <= '9'; ++c) t[c] = true;
  for (int c = 'a'; c <= 'z'; ++c) t[c] = true;
  for (int c = 'A'; c <= 'Z'; ++c) t[c] = true;
  return t;
}
constexpr std::array<bool, 256> kUrlPlain = url_plain();

}  // namespace

// Plain runs are copied whole; pages escape every value they show.
std::string data2brows(std::string_view text) {
  if (text.empty()) return std::string();
  const std::string_view line_end = reqctx().bron ? " <br> " : "&#10;";
  std::string r;
  r.reserve(text.size() + text.size() / 4);
  size_t run = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    std::string_view ref = kBrowserRefs[static_cast<unsigned char>(c)];
    if (ref.empty()) continue;
    r.append(text.substr(run, i - run));
    r.append(c == '\n' || c == '\r' ? line_end : ref);
    run = i + 1;
  }
  r.append(text.substr(run));
  return r;
}

std::string& d2html(std::string& out, std::string_view text) {
  static const char hex[] = "0123456789ABCDEF";
  out.resize(text.size() * 3);
  char* w = out.data();
  for (char ch : text) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (kUrlPlain[c]) {
      *w++ = ch;
    } else if (c == ' ') {
      *w++ = '+';
    } else {
      *w++ = '%';
      *w++ = hex[c >> 4];
      *w++ = hex[c & 15];
    }
  }
  out.resize(static_cast<size_t>(w - out.data()));
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

std::string filtertwolines(std::string_view text) {
  std::string r;
  r.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    r += text[i];
  }
  return r;
}

std::string& trim(std::string& text) {
  size_t end = text.size();
  while (end > 0 && text[end - 1] == ' ') --end;
  text.resize(end);
  return text;
}

}  // namespace kiv

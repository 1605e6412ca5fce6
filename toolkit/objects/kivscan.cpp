// The hand-written scanner: the object-block rules of the object files and
// the outer state that the template engine's markers hook into.
//
// Object blocks: "OBJECT{" opens one; inside it a keyword ("NAME=" ..
// "HELP=", exact and upper case) starts a value, "#" a comment and "};"
// closes the block and appends the object. A value runs to its line feed; a
// backslash right before the line feed joins the next line (both dropped).
// Comments continue the same way. Everything else is ignored text.
#include "toolkit/objects/kivscan.h"

#include <array>
#include <cassert>

#include "platform/output.h"
#include "toolkit/text/rowcol.h"

namespace kiv {

namespace {

constexpr std::string_view kOpen = "OBJECT{";
constexpr std::string_view kClose = "};";

struct Keyword {
  std::string_view text;
  int attr;
};
// In attribute order: kKeywords[n - 1] is the keyword of attribute n.
constexpr std::array<Keyword, kAttrCount> kKeywords = {{
    {"NAME=", attr::NAME},
    {"VALUE=", attr::VALUE},
    {"DBKEY=", attr::DBKEY},
    {"CONTROL=", attr::CONTROL},
    {"TYPE=", attr::TYPE},
    {"VTYPE=", attr::VTYPE},
    {"ENFORCE=", attr::ENFORCE},
    {"TITLE=", attr::TITLE},
    {"LEN=", attr::LEN},
    {"HELP=", attr::HELP},
}};

// Characters at which a block rule may start: the keywords' first letters,
// "#" and "}".
constexpr std::array<bool, 256> block_starts() {
  std::array<bool, 256> t{};
  for (const Keyword& k : kKeywords) t[static_cast<unsigned char>(k.text[0])] = true;
  t['#'] = true;
  t['}'] = true;
  return t;
}
constexpr std::array<bool, 256> kBlockStart = block_starts();

void echo(Scanner& s, std::string_view text) {
  if (s.yyout && !text.empty()) s.yyout->write(text);
}

void open_block(Scanner& s) {
  s.nobjp = getnewobj();
  s.state = ScanState::block;
}

void scan_outer(Scanner& s) {
  std::string_view rest = s.yyin.substr(s.pos);
  if (!s.markers) {
    size_t k = s.object_blocks ? rest.find(kOpen) : std::string_view::npos;
    echo(s, rest.substr(0, k));
    if (k == std::string_view::npos) {
      s.pos = s.yyin.size();
      return;
    }
    s.pos += k + kOpen.size();
    open_block(s);
    return;
  }
  // With template markers every position where a rule can begin is tried;
  // the bytes between are passed over and copied in runs.
  const std::array<bool, 256>* starts = s.markers->starts;
  size_t run = 0;
  while (run < rest.size()) {
    if (starts) {
      const bool blocks = s.object_blocks;
      while (run < rest.size()) {
        unsigned char c = static_cast<unsigned char>(rest[run]);
        if ((*starts)[c] || (blocks && c == kOpen[0])) break;
        ++run;
      }
      if (run == rest.size()) break;
    }
    std::string_view at = rest.substr(run);
    if (s.object_blocks && at.starts_with(kOpen)) {
      echo(s, rest.substr(0, run));
      s.pos += run + kOpen.size();
      open_block(s);
      return;
    }
    if (size_t n = s.markers->match(at)) {
      echo(s, rest.substr(0, run));
      s.pos += run + n;
      s.markers->action(s, at.substr(0, n));
      return;
    }
    ++run;
  }
  echo(s, rest);
  s.pos = s.yyin.size();
}

// The keyword at the start of `at` (its attribute number and length), or 0.
// Chosen by the first letter; no keyword is the beginning of another.
int keyword_at(std::string_view at, size_t& length) {
  auto is = [&](int n) {
    std::string_view k = kKeywords[n - 1].text;
    if (!at.starts_with(k)) return 0;
    length = k.size();
    return n;
  };
  switch (at[0]) {
    case 'N': return is(attr::NAME);
    case 'V': return at.size() > 1 && at[1] == 'T' ? is(attr::VTYPE) : is(attr::VALUE);
    case 'D': return is(attr::DBKEY);
    case 'C': return is(attr::CONTROL);
    case 'T': return at.size() > 1 && at[1] == 'I' ? is(attr::TITLE) : is(attr::TYPE);
    case 'E': return is(attr::ENFORCE);
    case 'L': return is(attr::LEN);
    case 'H': return is(attr::HELP);
    default: return 0;
  }
}

void scan_block(Scanner& s) {
  std::string_view in = s.yyin;
  size_t run = s.pos;
  while (run < in.size() && !kBlockStart[static_cast<unsigned char>(in[run])]) ++run;
  echo(s, in.substr(s.pos, run - s.pos));
  s.pos = run;
  if (run == in.size()) return;
  std::string_view at = in.substr(run);
  if (at[0] == '#') {
    s.pos += 1;
    s.lastc = '#';
    s.state = ScanState::comment;
    return;
  }
  if (at.starts_with(kClose)) {
    s.pos += kClose.size();
    // A block read with no list to build is dropped.
    if (s.lex_aohead) addobj(*s.lex_aohead, std::move(s.nobjp));
    s.nobjp.reset();
    s.state = ScanState::outer;
    return;
  }
  size_t length = 0;
  if (int n = keyword_at(at, length)) {
    s.pos += length;
    s.fattr = n;
    s.fbuf.clear();
    s.lastc = 0;  // a value never inherits the line-join state of what came before
    s.state = ScanState::value;
    return;
  }
  echo(s, at.substr(0, 1));
  s.pos += 1;
}

// Takes the input up to the next line feed into the value (or the comment
// when `keep` is null); true when that line feed ends it, false when a
// backslash before it joins the next line. At the end of the input without a
// line feed the text is taken and the caller's state is left as it is.
bool take_line(Scanner& s, std::string* keep) {
  std::string_view in = s.yyin;
  size_t nl = in.find('\n', s.pos);
  size_t end = nl == std::string_view::npos ? in.size() : nl;
  std::string_view line = in.substr(s.pos, end - s.pos);
  if (!line.empty()) {
    if (keep) keep->append(line);
    s.lastc = line.back();
  }
  if (nl == std::string_view::npos) {
    s.pos = in.size();
    return false;
  }
  s.pos = nl + 1;
  if (s.lastc != '\\') return true;
  if (keep) keep->pop_back();  // the backslash is the value's last character
  s.lastc = '\n';              // so an empty line after a joined one ends it
  return false;
}

// Sets the attribute of the value being read and goes back into the block.
void end_value(Scanner& s, std::string_view text) {
  assert(s.nobjp);  // a value is read only inside a block
  modattrib(*s.nobjp, s.fattr, text);
  s.state = ScanState::block;
}

void scan_value(Scanner& s) {
  // Most values stand on one line and have nothing inside to fold: they go
  // from the input into their attribute with one copy, without the buffer.
  if (s.lastc == 0 && s.fbuf.empty()) {
    size_t nl = s.yyin.find('\n', s.pos);
    if (nl != std::string_view::npos && (nl == s.pos || s.yyin[nl - 1] != '\\')) {
      if (std::optional<std::string_view> v = trimspace_view(s.yyin.substr(s.pos, nl - s.pos))) {
        s.pos = nl + 1;
        end_value(s, *v);
        return;
      }
    }
  }
  if (!take_line(s, &s.fbuf)) return;
  trimspace(s.fbuf);
  end_value(s, s.fbuf);
}

void scan_comment(Scanner& s) {
  if (take_line(s, nullptr)) s.state = ScanState::block;
}

// Leaves the scanner as a new one when a reading ends, also when a marker's
// action ends the process by throwing: whatever was being collected (an
// unclosed block, an unended value) is dropped, and the input is used up, so
// that the next input set on this scanner is read from its beginning.
struct EndOfReading {
  Scanner& s;
  ~EndOfReading() {
    s.nobjp.reset();
    s.fbuf.clear();
    s.lastc = 0;
    s.state = ScanState::outer;
    s.yyin = {};
    s.pos = 0;
  }
};

}  // namespace

Scanner& scanner() {
  static Scanner s;
  return s;
}

int yylex(Scanner& s) {
  EndOfReading done{s};
  s.yyin = s.yyin.substr(0, s.yyin.find('\0'));
  while (s.pos < s.yyin.size()) {
    switch (s.state) {
      case ScanState::outer: scan_outer(s); break;
      case ScanState::block: scan_block(s); break;
      case ScanState::value: scan_value(s); break;
      case ScanState::comment: scan_comment(s); break;
    }
  }
  return 0;
}

int yylex() { return yylex(scanner()); }

}  // namespace kiv

// Reading object files into object lists through the scanner, and writing
// object lists in the canonical form.
#include "toolkit/objects/kivobjfile.h"

#include <cerrno>

#include "toolkit/base/kivcgitrace.h"
#include "toolkit/base/kivfmt.h"
#include "toolkit/base/kivio.h"
#include "toolkit/objects/kivscan.h"

namespace kiv {

namespace {

bool blank_rest(std::string_view text) {
  return text.find_first_not_of(" \t\r\n\v\f") == std::string_view::npos;
}

// The number of blocks the text opens: the list and its name index are
// sized once for them, with room for the objects that a request's copy and
// the command start-up add afterwards.
size_t count_blocks(std::string_view text) {
  constexpr std::string_view kOpen = "OBJECT{";
  size_t n = 0;
  for (size_t p = text.find(kOpen); p != std::string_view::npos; p = text.find(kOpen, p + kOpen.size())) ++n;
  return n;
}

}  // namespace

std::unique_ptr<objlist> readkivobj(std::string_view text) {
  auto list = std::make_unique<objlist>();
  const size_t blocks = count_blocks(text.substr(0, text.find('\0')));
  list->reserve(blocks + blocks / 4 + 32);
  Scanner s;  // a fresh scanner: no state of an earlier reading carries over
  s.yyin = text;
  s.lex_aohead = list.get();
  yylex(s);
  return list;
}

// The reader's echo of ignored text is thrown away rather than written to a
// scratch file: nothing reads it, and every request loads tk_obj.
std::unique_ptr<objlist> loadkivobj(const std::string& path) {
  std::string text;
  if (!read_whole_file(path, text)) {
    pagef("Cannot open object file '%s'. errno=%d\n", path, errno);
    return nullptr;
  }
  return readkivobj(text);
}

std::optional<std::string> objfile_value(std::string_view value) {
  if (value.find('\0') != std::string_view::npos) return std::nullopt;
  // Follow the reader: `last` is what it would hold as the last character.
  char last = 0;
  for (size_t k = 0; k < value.size(); ++k) {
    char c = value[k];
    if (c != '\n') {
      last = c;
      continue;
    }
    if (last == '\\') {
      last = '\n';
      continue;
    }
    // The reader ends the value at this line feed.
    if (!blank_rest(value.substr(k))) return std::nullopt;
    value = value.substr(0, k);
    break;
  }
  std::string text(value);
  if (last == '\\') text += ' ';  // else the writer's own line feed would join the next line
  return text;
}

bool writekivobj(const objlist& list, std::string& text, std::string* error) {
  text.clear();
  for (const kivobj& o : list) {
    if (&o == &list[0]) continue;  // the head
    // The store gives the head's name to no other object (kivobj.h). Should
    // one bear it all the same, the save fails rather than write a block
    // that the reader would not take back as it was.
    if (o.name() == kHeadName) {
      if (error) *error = sformat("an object is named '%s', the name of the list's head", kHeadName);
      text.clear();
      return false;
    }
    text += "OBJECT{\n";
    for (int n = 1; n <= kAttrCount; ++n) {
      const std::string& v = o.attr(n);
      if (v.empty() || (n == attr::ENFORCE && v == "0")) continue;
      std::optional<std::string> written = objfile_value(v);
      if (!written) {
        if (error)
          *error = sformat("object '%s': its %s holds a line break or NUL byte that an object file cannot keep",
                           o.name(), attrword(n));
        text.clear();
        return false;
      }
      text += '\t';
      text += attrword(n);
      text += '=';
      text += *written;
      text += '\n';
    }
    text += "};\n";
  }
  return true;
}

}  // namespace kiv

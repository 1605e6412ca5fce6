// The request variable list's files: the state-file reader and the
// NAME=VALUE file writer.
#include "toolkit/request/kivexfile.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "platform/output.h"
#include "toolkit/base/kivcgitrace.h"
#include "toolkit/base/kivio.h"
#include "toolkit/base/kivpath.h"
#include "toolkit/text/kivtext.h"
#include "toolkit/text/rowcol.h"

namespace kiv {

namespace {

constexpr size_t kMacroLine = 10240;

std::string_view upto_nul(std::string_view s) { return s.substr(0, s.find('\0')); }

}  // namespace

int printexdata(const exlist* list) {
  if (!list || list->empty()) return -1;
  for (const exdata& n : list->nodes) {
    if (n.namelen() > 0 && n.valuelen() > 0)
      // Passwords are never traced.
      kivtrace("variable name=%s variable value=%s\n", n.name,
               is_password_name(n.name) ? std::string("*****") : n.value);
    else if (n.namelen() > 0)
      kivtrace("variable name='%s'\n", n.name);
    else if (n.valuelen() > 0)
      kivtrace("variable value='%s'\n", n.value);
  }
  return 0;
}

exlist* readexdata() { return reqctx().request_vars; }

std::optional<std::string> getmacroline(std::FILE* file) {
  std::string line;
  while (getline_limited(file, line, kMacroLine)) {
    if (line[0] == '#' || is_space(line[0])) continue;
    return line;
  }
  return std::nullopt;
}

namespace {

// The next line of `text` from `pos`, as getline_limited with a buffer of
// kMacroLine bytes reads it from a file; `pos` moves past it. Empty at the
// end of the text.
std::string_view next_macro_line(std::string_view text, size_t& pos) {
  const size_t nl = text.find('\n', pos);
  size_t end = nl == std::string_view::npos ? text.size() : nl + 1;
  end = std::min(end, pos + (kMacroLine - 1));
  const std::string_view line = text.substr(pos, end - pos);
  pos = end;
  return line;
}

// The rest of an open file in one text: sized once from the file's size
// (one byte more, so that the read that finds the end needs no room of its
// own) and read on in steps only when the file has no size or grows.
std::string read_rest(std::FILE* file) {
  std::string text;
  struct stat st {};
  const size_t room =
      ::fstat(::fileno(file), &st) == 0 && st.st_size > 0 ? static_cast<size_t>(st.st_size) + 1 : 4096;
  size_t got = 0;
  for (;;) {
    if (got == text.size()) text.resize(std::max(room, got * 2));
    const size_t n = std::fread(text.data() + got, 1, text.size() - got, file);
    got += n;
    if (got < text.size()) break;  // the end, or an error: what was read stands
  }
  text.resize(got);
  return text;
}

// The text as trimspace leaves it: a view into `raw` where nothing inside
// needs folding, else the folded copy in `spare`.
std::string_view trimmed(std::string_view raw, std::string& spare) {
  if (std::optional<std::string_view> v = trimspace_view(raw)) return *v;
  spare.assign(raw);
  return trimspace(spare);
}

}  // namespace

exlist addmacro(std::string_view text) {
  exlist list;
  list.nodes.reserve(static_cast<size_t>(std::count(text.begin(), text.end(), '\n')));
  std::string spare_name, spare_value;
  size_t pos = 0;
  while (pos < text.size()) {
    const std::string_view line = next_macro_line(text, pos);
    if (line[0] == '#' || is_space(line[0])) continue;
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    const size_t nl = line.find('\n', eq);
    if (nl == std::string_view::npos) continue;  // no line end: skipped
    const std::string_view name = trimmed(upto_nul(line.substr(0, eq)), spare_name);
    const std::string_view value = trimmed(upto_nul(line.substr(eq + 1, nl - eq - 1)), spare_value);
    if (name.empty()) continue;  // "=value": a nameless line has no use
    exdata node = formexdatanode(name, value, ExSource::statefile);
    if (node.name == "KIVDEBUG" && std::atoi(node.value.c_str()) == 1) reqctx().kivdebug = 1;
    add_list_node(list, std::move(node));
  }
  return list;
}

exlist addmacro(std::FILE* file) {
  if (!file) return {};
  return addmacro(read_rest(file));
}

std::optional<exlist> file2ex(const std::string& path) {
  std::string text;
  if (!read_whole_file(path, text)) {
    pagef("Cannot open file '%s' for reading. errno=%d\n", path, errno);
    return std::nullopt;
  }
  exlist l = addmacro(text);
  if (l.empty()) return std::nullopt;
  return l;
}

int exnode2line(const exdata& node, std::string& buffer) {
  buffer.clear();
  // A line end inside a text, or "=" inside a name, would read back as other
  // variables: such a node cannot be written.
  bool bad = node.namelen() == 0 || node.name.find_first_of("=\n\r") != std::string::npos ||
             node.value.find_first_of("\n\r") != std::string::npos;
  if (bad) {
    pagef("Bad node: Cant convert val=%s\n", node.value);
    return 1;
  }
  buffer = node.name + "=" + node.value + "\n";
  return 0;
}

int ex2file(const exlist* list, const std::string& path) {
  if (!list || list->empty()) {
    out() << "Cant save empty data to file\n";
    return -1;
  }
  std::string text, line;
  // A node that cannot be written fails the save: a file without it would
  // pass for the list. Every such node is named, and nothing is written.
  bool whole = true;
  for (const exdata& n : list->nodes) {
    if (exnode2line(n, line) == 0)
      text += line;
    else
      whole = false;
  }
  if (!whole) return -1;
  // Written beside the file and renamed over it: a failed write leaves the
  // old file whole and is reported.
  if (!write_file_atomic(path, text)) {
    pagef("Cannot open file '%s' for writing. errno=%d\n", path, errno);
    return -1;
  }
  return 0;
}

}  // namespace kiv

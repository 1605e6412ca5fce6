// Running a template: printhtml reads the template and runs the shared
// scanner over it with the marker rules of the outer state; "TB{" switches to
// the table rules, which collect the table body until "}TE" and then print
// the table. A marker's content runs to the first occurrence of its closing
// code; a template that ends inside a marker or a table drops what was
// collected.
#include "toolkit/pages/kivhtml.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <span>

#include "platform/output.h"
#include "toolkit/base/kivcgitrace.h"
#include "toolkit/base/kivio.h"
#include "toolkit/objects/kivscan.h"

namespace kiv {

namespace {

// One marker rule: its opening text, its closing text (empty: the rule is the
// opening text alone) and what it does with the content between them.
using Handler = void (*)(kivhtml& ctx, std::string_view content);
struct Rule {
  std::string_view open;
  std::string_view close;
  Handler run;
};

// Rules that drop the text they take.
void drop(kivhtml&, std::string_view) {}

void table_start(kivhtml&, std::string_view) {}  // handled by outer_action

// ---- the outer state ----

constexpr std::string_view kTableOpen = "TB{";

constexpr Rule kOuterRules[] = {
    {"</form>", "", [](kivhtml& c, std::string_view) { formaction(c); }},
    {"</FORM>", "", [](kivhtml& c, std::string_view) { formaction(c); }},
    {"amp;amp;", "", [](kivhtml& c, std::string_view) { printsemicolon(c); }},
    {"value=\"DB{", "DE\"", drop},
    {"<head>", "</head>", drop},
    {"KIVACTION=", "&", linkaction},
    {"EB{", "}EE", htmlenv},
    {"MB{", "}ME", htmlmacro},
    {"AB{", "}AE", htmlattachment},
    {"FB{", "}FE", htmlfield},
    {"LFB{", "}LFE", htmllinkfield},
    {"VB{", "}VE", htmlvariable},
    {"HB{", "}HE", htmlhidfield},
    {"MDB{", "}MDE", htmlmultidrop_down},
    {"DB{", "}DE", htmldrop_down},
    {"ODB{", "}ODE", one_htmldrop_down},
    {"LODB{", "}LODE", linkone_htmldrop_down},
    {"RB{", "}RE", htmlradio},
    {"=\"#", "\"", changecolor},
    {"LIBB{", "}LIBE", htmllib},
    {kTableOpen, "", table_start},
};

// ---- the table state: marker text goes into the body ----

void add(kivhtml& c, std::string_view text) { c.table.texts.back().append(text); }

// A place in the body: a column marker's or an author's "%s".
void add_place(kivhtml& c) { c.table.texts.emplace_back(); }

void add_column(kivhtml& c, std::string_view mark, std::string_view name) {
  std::string col(mark);
  col.append(name);
  c.table.columns.push_back(std::move(col));
  add_place(c);
}

// Text of the template itself: every "%s" in it is a place.
void add_typed(kivhtml& c, std::string_view text) {
  for (size_t p = text.find("%s"); p != std::string_view::npos; p = text.find("%s")) {
    add(c, text.substr(0, p));
    add_place(c);
    text.remove_prefix(p + 2);
  }
  add(c, text);
}

constexpr Rule kTableRules[] = {
    {"}TE", "", [](kivhtml& c, std::string_view) { c.table_closed = true; }},
    {"TNB{", "}TNE", [](kivhtml& c, std::string_view n) { c.tablename.assign(n); }},
    {"CB{", "}CE", [](kivhtml& c, std::string_view n) { add_column(c, "", n); }},
    {"LCB{", "}LCE", [](kivhtml& c, std::string_view n) { add_column(c, "?", n); }},
    {"ACB{", "}ACE", [](kivhtml& c, std::string_view n) { add_column(c, "!", n); }},
    {"KIVACTION=", "&", [](kivhtml& c, std::string_view v) { add(c, tablelinkaction(v)); }},
    {"amp;amp;", "", [](kivhtml& c, std::string_view) { add(c, tableprintsemicolon()); }},
    {"</form>", "", [](kivhtml& c, std::string_view) { add(c, tableformaction()); }},
    {"</FORM>", "", [](kivhtml& c, std::string_view) { add(c, tableformaction()); }},
    {"EB{", "}EE", [](kivhtml& c, std::string_view n) { add(c, tableenv(n)); }},
    {"MB{", "}ME", [](kivhtml& c, std::string_view k) { add(c, tablemacro(c, k)); }},
    {"RB{", "}RE", [](kivhtml& c, std::string_view k) { add(c, tableradio(c, k)); }},
    {"FB{", "}FE", [](kivhtml& c, std::string_view k) { add(c, tablefield(c, k)); }},
    {"LFB{", "}LFE", [](kivhtml& c, std::string_view k) { add(c, tablelinkfield(c, k)); }},
    {"VB{", "}VE", [](kivhtml& c, std::string_view t) { add(c, tablevariable(t)); }},
    {"HB{", "}HE", [](kivhtml& c, std::string_view k) { add(c, tablehidfield(c, k)); }},
    {"DB{", "}DE", [](kivhtml& c, std::string_view k) { add(c, tabledrop_down(c, k)); }},
    {"LIBB{", "}LIBE", [](kivhtml& c, std::string_view f) { add(c, tablehtmllib(f)); }},
};

// Rules by the character they start with: the scanner passes over every
// other byte of the template in one tight loop (`starts`), and at the others
// only the one to three rules of that character are compared.
struct RuleIndex {
  std::array<std::array<unsigned char, 4>, 256> rules{};
  std::array<unsigned char, 256> count{};
  std::array<bool, 256> starts{};
};

// Built at compile time; a set that breaks the index's assumptions (more than
// four rules of one character, an opening text that begins another) does not
// compile.
template <size_t N>
constexpr RuleIndex index_of(const Rule (&rules)[N]) {
  static_assert(N < 256);
  RuleIndex x;
  for (size_t i = 0; i < N; ++i) {
    for (size_t j = 0; j < N; ++j)
      if (i != j && rules[j].open.starts_with(rules[i].open)) throw "an opening text begins another";
    unsigned char c = static_cast<unsigned char>(rules[i].open[0]);
    if (x.count[c] == x.rules[c].size()) throw "too many rules start with one character";
    x.rules[c][x.count[c]++] = static_cast<unsigned char>(i);
    x.starts[c] = true;
  }
  return x;
}
constexpr RuleIndex kOuterIndex = index_of(kOuterRules);
constexpr RuleIndex kTableIndex = index_of(kTableRules);

inline bool begins(std::string_view rest, std::string_view open) {
  if (rest.size() < open.size()) return false;
  for (size_t i = 1; i < open.size(); ++i)  // the first character is known to match
    if (rest[i] != open[i]) return false;
  return true;
}

// The rule whose opening text begins `rest`, or nullptr. No opening text of a
// set begins another one of the same set, so at most one rule can match.
const Rule* rule_at(std::span<const Rule> rules, const RuleIndex& index, std::string_view rest) {
  unsigned char c = static_cast<unsigned char>(rest[0]);
  for (unsigned k = 0; k < index.count[c]; ++k) {
    const Rule& r = rules[index.rules[c][k]];
    if (begins(rest, r.open)) return &r;
  }
  return nullptr;
}

// The length of the marker of `r` at the start of `rest`: its opening text,
// content and closing text, or the whole rest when the closing text never
// comes (the template ended inside the marker).
size_t marker_length(const Rule& r, std::string_view rest) {
  if (r.close.empty()) return r.open.size();
  size_t end = rest.find(r.close, r.open.size());
  return end == std::string_view::npos ? rest.size() : end + r.close.size();
}

// Runs the rule on the marker text that marker_length measured; a marker
// without its closing text does nothing.
void run_rule(const Rule& r, kivhtml& ctx, std::string_view marker) {
  std::string_view content = marker.substr(r.open.size());
  if (!r.close.empty()) {
    size_t close_at = content.find(r.close);
    if (close_at == std::string_view::npos) return;
    content = content.substr(0, close_at);
  }
  r.run(ctx, content);
}

size_t outer_match(std::string_view rest) {
  const Rule* r = rule_at(kOuterRules, kOuterIndex, rest);
  return r ? marker_length(*r, rest) : 0;
}

size_t table_match(std::string_view rest) {
  const Rule* r = rule_at(kTableRules, kTableIndex, rest);
  return r ? marker_length(*r, rest) : 0;
}

// The table body collects the text that no table rule takes: the
// template's own text, whose "%s" are places.
class BodySink : public Sink {
 public:
  explicit BodySink(kivhtml& ctx) : ctx_(ctx) {}
  void write(std::string_view text) override { add_typed(ctx_, text); }

 private:
  kivhtml& ctx_;
};

void table_action(Scanner& s, std::string_view marker) {
  kivhtml& ctx = *s.lex_kivhtml;
  const Rule* r = rule_at(kTableRules, kTableIndex, marker);
  run_rule(*r, ctx, marker);
  if (!ctx.table_closed) return;
  // "}TE": the table is complete; the outer scan goes on after it.
  ctx.table_end = s.pos;
  s.pos = s.yyin.size();
}

const MarkerRules kTableMarkers{table_match, table_action, &kTableIndex.starts};

// "TB{": a scanner in the table rules over the rest of the template, until
// its "}TE". Then the table is printed and the outer scan resumes after it.
void run_table(Scanner& s, kivhtml& ctx) {
  ctx.tablename.clear();
  ctx.table = tablebody{};
  ctx.table_closed = false;
  BodySink body(ctx);
  Scanner t;
  t.yyin = s.yyin.substr(s.pos);
  t.yyout = &body;
  t.object_blocks = false;
  t.markers = &kTableMarkers;
  t.lex_kivhtml = &ctx;
  yylex(t);
  if (!ctx.table_closed) {  // the template ended inside the table
    s.pos = s.yyin.size();
  } else {
    s.pos += ctx.table_end;
    htmltable(ctx, ctx.tablename, ctx.table);
  }
  ctx.tablename.clear();
  ctx.table = tablebody{};
  ctx.table_closed = false;
}

void outer_action(Scanner& s, std::string_view marker) {
  kivhtml& ctx = *s.lex_kivhtml;
  if (marker == kTableOpen) {
    run_table(s, ctx);
    return;
  }
  run_rule(*rule_at(kOuterRules, kOuterIndex, marker), ctx, marker);
}

const MarkerRules kOuterMarkers{outer_match, outer_action, &kOuterIndex.starts};

// The template's text; false with errno set when it cannot be read.
bool read_template(const std::string& path, std::string& text) {
  if (read_whole_file(path, text)) return true;
  if (errno == 0) errno = EIO;
  return false;
}

// TEMPLATE_PATH: the template's path without the home folder in front.
void set_template_path(const std::string& path) {
  const std::string& home = reqctx().nvhome;
  if (home.empty()) return;
  size_t skip = home.size();
  if (path.size() <= skip) return;
  reqctx().template_path = path.substr(skip);
  publish_environment();
}

}  // namespace

std::optional<attrview> htmlvalue(const kivhtml& ctx, std::string_view key) {
  if (ctx.lists.empty()) return absent_list_lookup();
  for (const objlist* l : ctx.lists)
    if (std::optional<attrview> v = l ? getattrfromlist(*l, key) : absent_list_lookup()) return v;
  return std::nullopt;
}

std::string html_skey() {
  std::optional<std::string> key = request_env("skey");
  return key && !key->empty() ? *key : std::string("NOKEY");
}

int html_fprintf(kivhtml& ctx) {
  Scanner s;
  s.yyin = ctx.text;
  s.yyout = ctx.out;
  s.object_blocks = false;
  s.markers = &kOuterMarkers;
  s.lex_kivhtml = &ctx;
  return yylex(s);
}

int printhtml(std::span<const objlist* const> lists, const std::string& path) {
  kivtrace("DEBUG1");
  std::string text;
  errno = 0;
  if (!read_template(path, text)) {
    pagef("Cannot open html template file '%s'. errno=%d\n", path, errno);
    return 1;
  }
  set_template_path(path);
  kivtrace("DEBUG2");
  kivhtml ctx;
  ctx.text = text;
  ctx.lists.assign(lists.begin(), lists.end());
  ctx.out = &out();
  kivtrace("DEBUG3");
  html_fprintf(ctx);
  kivtrace("DEBUG4");
  out().flush();
  return 0;
}

int printhtml(const objlist* list, const std::string& path) {
  const objlist* one[] = {list};
  return printhtml(one, path);
}

}  // namespace kiv

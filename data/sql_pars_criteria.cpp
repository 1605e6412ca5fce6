// The criteria language of the search forms and its SQL conditions. A
// criterion is an alternative (a,b), a range (a--b, either end open) or a
// leaf; a caret escapes the operator right after it and "^^" is a literal
// caret. A leaf is a partial match on text, an exact match when it holds
// "==" (a leading "==" being the operator), and ==\"\" finds the NULL column.
#include "data/sql_pars.h"
#include "data/sql_pars_impl.h"
#include "toolkit/base/kivcgitrace.h"
#include "toolkit/text/rowcol.h"

#include <vector>

namespace kiv {

namespace {

using sqlpars::Conv;
using sqlpars::Converted;

constexpr std::string_view kNullMark = "==\"\"";

// Position of the first operator in `text` that is not escaped: an odd run
// of carets right before it escapes it; npos when there is none.
size_t strESC_OP(std::string_view text, std::string_view op) {
  for (size_t p = text.find(op); p != std::string_view::npos; p = text.find(op, p + 1)) {
    size_t carets = 0;
    while (carets < p && text[p - 1 - carets] == '^') ++carets;
    if (carets % 2 == 0) return p;
  }
  return std::string_view::npos;
}

// A leaf's value: trimmed and folded, then "^^" becomes "^" and any other
// caret is dropped.
std::string trimescspace(std::string_view text) {
  std::string t(text);
  trimspace(t);
  std::string out;
  out.reserve(t.size());
  for (size_t i = 0; i < t.size(); ++i) {
    if (t[i] != '^') {
      out += t[i];
    } else if (i + 1 < t.size() && t[i + 1] == '^') {
      out += '^';
      ++i;
    }
  }
  return out;
}

std::unique_ptr<ptree> leaf(std::string_view text) {
  auto t = std::make_unique<ptree>();
  t->kind = kLeaf;
  t->value = trimescspace(text);
  return t;
}

// A range end: absent when its text is empty once trimmed.
std::unique_ptr<ptree> range_end(std::string_view text) {
  std::string t(text);
  if (trimspace(t).empty()) return nullptr;
  return leaf(t);
}

bool numeric(int type) { return type == kIntColumn || type == kFloatColumn; }

// One leaf of column c.
Conv leaf_condition(const dbconfig_column& col, const std::string& value, std::string& term) {
  const std::string& c = col.name;
  if (value == kNullMark) {
    term += sformat("( %s %s )", c, "IS NULL");
    return Conv::value;
  }
  // "==" anywhere asks for the exact match; only a leading "==" is the
  // operator and is dropped, one inside the text is part of the value.
  bool exact = value.find("==") != std::string::npos;
  std::string_view v = value;
  if (value.starts_with("==")) v.remove_prefix(2);
  if (exact && col.type == kTextColumn) {
    // "==" alone matches the empty text.
    term += sformat("( %s %s '%s' )", c, "=", textnl_or_empty(v));
    return Conv::value;
  }
  if (col.type == kTextColumn || col.type == kFloatColumn) {
    Converted cv = sqlpars::convert(col, v, DateUse::condition);
    if (cv.kind != Conv::value) return cv.kind;
    if (exact) {
      term += sformat("( %s %s '%s' )", c, "=", cv.text);
    } else {
      term += sformat("( %s %s '%c%s%c' )", c, "LIKE", '%', cv.text, '%');
    }
    return Conv::value;
  }
  // Integer and date columns always compare with "=".
  Converted cv = sqlpars::convert(col, v, DateUse::condition);
  if (cv.kind != Conv::value) return cv.kind;
  term += sformat("( %s %s %s )", c, "=", cv.text);
  return Conv::value;
}

// An end that converts to no value is open.
Conv range_value(const dbconfig_column& col, const ptree* end, std::optional<std::string>& out) {
  if (!end) return Conv::none;
  Converted cv = sqlpars::convert(col, end->value, DateUse::condition);
  if (cv.kind == Conv::value) out = std::move(cv.text);
  return cv.kind;
}

Conv range_condition(const dbconfig_column& col, const ptree& t, std::string& term) {
  std::optional<std::string> low, high;
  if (range_value(col, t.left.get(), low) == Conv::refused) return Conv::refused;
  if (range_value(col, t.right.get(), high) == Conv::refused) return Conv::refused;
  const std::string& c = col.name;
  if (col.type == kTextColumn) {
    if (low && high) {
      term += sformat("(( %s >= '%s' and %s <= '%s' ) or (%s >= '%s' and %s <= '%s' ))", c, *low, c, *high, c,
                      *low, c, *high);
    } else if (high) {
      term += sformat("(( %s >= 'a' and %s <= '%s' ) or \t\t\t\t( %s >= 'A' and %s <= '%s' ))", c, c, *high, c,
                      c, *high);
    } else if (low) {
      term += sformat("(( %s >= '%s' and %s <= 'z' ) or \t\t\t\t( %s >= '%s' and %s <= 'Z' ))", c, *low, c, c,
                      *low, c);
    } else {
      term += sformat("( %s != '' )", c);
    }
    return Conv::value;
  }
  if (low && high) {
    if (numeric(col.type)) {
      term += sformat("( %s >= %s and %s <= %s )", c, *low, c, *high);
    } else {
      term += sformat("( %s between %s and %s )", c, *low, *high);
    }
  } else if (high) {
    term += sformat("( %s <= %s )", c, *high);
  } else if (low) {
    term += sformat("( %s >= %s )", c, *low);
  } else if (numeric(col.type)) {
    term += sformat("( %s != '' )", c);
  } else {
    term += sformat("( %s %s )", c, "IS NULL");
  }
  return Conv::value;
}

// Appends the condition of `t` to `term`; parts that give no value add
// nothing, and " or " stands only between two conditions. An alternative's
// right part is followed in a loop, its left part (a leaf or a range in a
// parsed tree) by a call; nothing is appended when a part is refused.
Conv condition(const dbconfig_column& col, const ptree& t, std::string& term) {
  if (t.kind == kLeaf) return leaf_condition(col, t.value, term);
  if (t.kind == kRange) return range_condition(col, t, term);
  std::string joined, piece;
  for (const ptree* link = &t; link;) {
    const bool alternative = link->kind == kAlternative;
    const ptree* part = alternative ? link->left.get() : link;
    link = alternative ? link->right.get() : nullptr;
    if (!part) continue;
    piece.clear();
    if (condition(col, *part, piece) == Conv::refused) return Conv::refused;
    if (piece.empty()) continue;
    if (!joined.empty()) joined += " or ";
    joined += piece;
  }
  term += joined;
  return term.empty() ? Conv::none : Conv::value;
}

// The parts of a trimmed and folded criterion between its unescaped commas,
// in order; a text without one is its only part. Each search starts behind
// the comma before, so the text is read once: the carets that escape a comma
// never reach back past the comma before it.
std::vector<std::string_view> alternatives(std::string_view text) {
  std::vector<std::string_view> parts;
  for (size_t comma = strESC_OP(text, ","); comma != std::string_view::npos; comma = strESC_OP(text, ",")) {
    parts.push_back(text.substr(0, comma));
    text.remove_prefix(comma + 1);
  }
  parts.push_back(text);
  return parts;
}

// One part without an unescaped comma: a range at its first unescaped "--",
// else a leaf.
std::unique_ptr<ptree> parse_part(std::string_view part) {
  std::string text(part);
  trimspace(text);
  size_t dashes = strESC_OP(text, "--");
  if (dashes == std::string::npos) return leaf(text);
  auto t = std::make_unique<ptree>();
  t->kind = kRange;
  t->left = range_end(std::string_view(text).substr(0, dashes));
  t->right = range_end(std::string_view(text).substr(dashes + 2));
  return t;
}

// Frees a tree without one nested call per link: a left child is rotated up
// until the top node has none, and the top node is then freed with its right
// child taken over. Every node freed here has no children left, so its own
// destructor does nothing more.
void free_links(std::unique_ptr<ptree> node) {
  while (node) {
    if (node->left) {
      std::unique_ptr<ptree> up = std::move(node->left);
      node->left = std::move(up->right);
      up->right = std::move(node);
      node = std::move(up);
    } else {
      node = std::move(node->right);
    }
  }
}

}  // namespace

ptree::~ptree() {
  free_links(std::move(left));
  free_links(std::move(right));
}

std::optional<std::string> literal_criterion(std::string_view text) {
  if (text.find(kColSep) != std::string_view::npos || text.find(kRowEnd) != std::string_view::npos)
    return std::nullopt;
  std::string out = "==";
  out.reserve(2 + 2 * text.size());
  for (char c : text) {
    if (c == '^' || c == ',' || c == '-') out += '^';
    out += c;
  }
  return out;
}

// The tree is the one the rule "the part before the first unescaped comma,
// or the rest" gives: the parts hang to the left of a chain of alternatives
// that leans right, a,b,c being or(a, or(b, c)). The criterion is trimmed and
// folded once; the parts of a folded text need only their ends trimmed, and
// the escape of an operator depends only on the carets right before it, so
// splitting first gives the same parts as splitting again at every comma.
std::unique_ptr<ptree> parse(std::string_view criterion) {
  std::string text(criterion);
  trimspace(text);
  std::vector<std::string_view> parts = alternatives(text);
  std::unique_ptr<ptree> tree = parse_part(parts.back());
  for (size_t i = parts.size() - 1; i-- > 0;) {
    auto t = std::make_unique<ptree>();
    t->kind = kAlternative;
    t->left = parse_part(parts[i]);
    t->right = std::move(tree);
    tree = std::move(t);
  }
  return tree;
}

namespace sqlpars {

// The condition of one column, built apart so that the caller can tell an
// empty one. False when a value or the column's name is refused.
bool column_condition(const dbconfig_node& node, int index, const ptree& tree, std::string& term) {
  const dbconfig_column& col = node.column(index);
  if (!sql_column_ok(col.name)) return false;
  return condition(col, tree, term) != Conv::refused;
}

}  // namespace sqlpars

int qualconstruct(const dbconfig_node& node, int index, const ptree* tree) {
  if (!tree) return -1;
  std::string term;
  if (!sqlpars::column_condition(node, index, *tree, term)) return -2;
  sqlbuf().qualifier += term;
  return 0;
}

}  // namespace kiv

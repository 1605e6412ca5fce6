// The record tree command: the levels from the sort menus, the find, the
// tree of the found rows grouped by the levels' values, and the tree
// written as the JavaScript function that the page runs to draw it.
#include "commands/uptree.h"

#include <array>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "commands/upskeleton.h"
#include "data/sql_pars.h"
#include "engine/upcommon_find.h"
#include "engine/upcommon_query.h"
#include "engine/upflags.h"
#include "engine/upobjdb.h"
#include "engine/uprowwalk.h"
#include "platform/exit.h"
#include "toolkit/objects/kivobj.h"
#include "toolkit/text/kivcgimisc.h"
#include "toolkit/base/kivcgitrace.h"
#include "toolkit/pages/kivhtml.h"
#include "toolkit/pages/kivhtml_rows.h"
#include "toolkit/pages/kivjs.h"
#include "toolkit/text/kivtext.h"
#include "toolkit/text/rowcol.h"
#include "toolkit/security/security.h"

namespace kiv {

namespace {

constexpr size_t kMaxLevels = 4;
constexpr std::string_view kRootName = "Start Summary";
constexpr std::string_view kBlank = "Blank";

[[noreturn]] void refuse(std::string_view message, int status) {
  errmsg(message);
  throw Exit{status};
}

// The column (DBKEY) of each level, level 1 first.
std::vector<std::string> tree_levels(const objlist& objs) {
  std::array<std::string, kMaxLevels> titles;
  for (size_t n = 0; n < kMaxLevels; ++n) titles[n] = sortmenu_title(objs, static_cast<int>(n + 1));
  size_t given = 0;
  while (given < kMaxLevels && !titles[given].empty()) ++given;
  if (given == 0) refuse("Tree has bad levels.\n", 1);
  for (size_t n = given; n < kMaxLevels; ++n)
    if (!titles[n].empty()) refuse("Tree has bad levels.\n", 1);
  std::vector<std::string> keys;
  for (size_t n = 0; n < given; ++n) {
    const std::optional<std::string> key = getsortkey(objs, titles[n]);
    if (!key || key->empty()) refuse("Tree level title does not match dbkey.\n", 1);
    kivtrace("SORTKEY%d=%s", static_cast<int>(n + 1), *key);
    keys.push_back(*key);
  }
  return keys;
}

// The start of every leaf's link, up to the value of row2form_rec.VALUE,
// by the command line's length. The action and the query are the state
// file's; the session key and the login are URL-encoded.
std::string link_prefix(const objlist& objs, const std::vector<std::string>& words, const std::string& login) {
  const std::string program = objtext(objs, "link_program.VALUE");
  const std::string rest =
      "&skey=" + convdata2html(html_skey()) + "&nv_remote_user=" + convdata2html(login) + "&row2form_rec.VALUE=";
  if (words.size() == 3) return program + "?KIVACTION=" + words[2] + rest;
  if (words.size() == 4) return program + "?" + words[3] + "&KIVACTION=" + words[2] + rest;
  return program + "?KIVACTION=vrow2form" + rest;
}

// The record a leaf's link opens: the case number as the criterion that
// matches it alone, URL-encoded. A text no row can carry has none.
std::string leaf_record(std::string_view casenum) {
  const std::optional<std::string> criterion = literal_criterion(casenum);
  if (!criterion) return std::string();
  return convdata2html("case_num^$" + *criterion + "^$");
}

// A row's value as a piece of its path: "/" shown as "-", an empty value
// as "Blank".
std::string path_piece(std::string_view value) {
  if (value.empty()) return std::string(kBlank);
  std::string piece(value);
  for (char& c : piece)
    if (c == '/') c = '-';
  return piece;
}

// A name as the generated code shows it: each apostrophe a grave accent,
// each double quote two, then escaped for a JavaScript string.
std::string code_name(std::string_view name) {
  std::string shown;
  shown.reserve(name.size());
  for (char c : name) {
    if (c == '\'')
      shown += '`';
    else if (c == '"')
      shown += "``";
    else
      shown += c;
  }
  return js_escape(shown);
}

std::string lower_case(std::string_view text) {
  std::string folded(text);
  for (char& c : folded) c = ascii_lower(c);
  return folded;
}

// The tree of the found rows: nodes by index, the root first. A node with
// no children is a leaf (every path has the same length, so an inner node
// always has one).
class RecordTree {
 public:
  RecordTree() { nodes_.emplace_back(std::string(kRootName), 0); }

  // Goes down from the root along the pieces but the last, taking the child
  // whose name equals the piece without regard to case or appending a new
  // one; the last piece is a new leaf for the record with this case number.
  // Each record is a leaf of its own: two case numbers that show alike
  // ("N/1" and "N-1") stay two cases.
  void insert(const std::vector<std::string>& pieces, std::string_view casenum) {
    size_t at = 0;
    for (size_t n = 0; n + 1 < pieces.size(); ++n) at = child(at, pieces[n]);
    const size_t leaf = append(at, pieces.back());
    nodes_[leaf].casenum.assign(casenum);
  }

  // Every inner node's count: the leaves of its subtree.
  void count() { count_from(0); }

  // The body of buildtree: the nodes depth first, each before its children.
  std::string code(const std::string& prefix) const {
    std::string out;
    out.reserve(nodes_.size() * (prefix.size() + 96) + 256);
    out += "function buildtree()\n";
    out += "{\n var level1, level2,level3,level4,level5,level6,level7,level8,level9;\n";
    write(0, out, js_escape(prefix));
    out += "clickonnode(roothandle, \"";
    out += code_name(kRootName);
    out += " (" + std::to_string(nodes_[0].count) + ")\")\n}";
    return out;
  }

 private:
  struct Node {
    Node(std::string n, int l) : name(std::move(n)), level(l) {}
    std::string name;
    std::string casenum;  // a leaf's: its record's own case number
    int level = 0;
    int count = 0;
    std::vector<size_t> children;  // in the order first met
    std::unordered_map<std::string, size_t> by_name;  // children by name in lower case
  };

  size_t child(size_t parent, const std::string& name) {
    std::string folded = lower_case(name);
    if (auto found = nodes_[parent].by_name.find(folded); found != nodes_[parent].by_name.end()) return found->second;
    const size_t n = append(parent, name);
    nodes_[parent].by_name.emplace(std::move(folded), n);
    return n;
  }

  size_t append(size_t parent, const std::string& name) {
    const size_t n = nodes_.size();
    nodes_.emplace_back(name, nodes_[parent].level + 1);
    nodes_[parent].children.push_back(n);
    return n;
  }

  int count_from(size_t n) {
    if (nodes_[n].children.empty()) return 1;
    int leaves = 0;
    for (size_t c : nodes_[n].children) leaves += count_from(c);
    nodes_[n].count = leaves;
    return leaves;
  }

  static std::string handle(int level) { return level == 0 ? "roothandle" : "level" + std::to_string(level); }

  void write(size_t n, std::string& out, const std::string& prefix) const {
    const Node& node = nodes_[n];
    const std::string label = code_name(node.name) + " (" + std::to_string(node.count) + ")";
    if (n == 0) {
      out += "roothandle=newnode(\"" + label + "\")\n";
    } else if (!node.children.empty()) {
      out += "\t" + handle(node.level) + "=insertnode(" + handle(node.level - 1) + ",newnode(\"" + label + "\"))\n";
    } else {
      out += "insertleaf(" + handle(node.level - 1) + ", buildleaf(2, \"" + code_name(node.name) + "\", \"";
      out += prefix;
      out += js_escape(leaf_record(node.casenum));
      out += "\"))\n";
      return;
    }
    for (size_t c : node.children) write(c, out, prefix);
  }

  std::vector<Node> nodes_;
};

// The found rows into the tree: each row's level values and case number as
// its path. Rows without text are passed over.
void insert_rows(RecordTree& tree, const std::string& found, const std::vector<std::string>& keys) {
  RowWalk rows(found);
  const std::optional<std::string_view> header = rows.next();
  if (!header) return;
  std::vector<size_t> places;
  for (size_t n = 0; n <= keys.size(); ++n) {
    const std::string_view key = n < keys.size() ? std::string_view(keys[n]) : std::string_view("case_num");
    const int j = getindex(*header, key);
    kivtrace("keys=%sSELECTED=%d key=%s j=%d\n", *header, static_cast<int>(n + 1), key, j);
    places.push_back(static_cast<size_t>(j));
  }
  std::vector<std::string> pieces(places.size());
  while (std::optional<std::string_view> row = rows.next()) {
    if (*row == kRowEnd) continue;
    const std::vector<std::string_view> cols = row_columns(*row);
    auto value = [&](size_t place) {
      return place == 0 || place > cols.size() ? std::string_view() : cols[place - 1];
    };
    std::string path;
    for (size_t n = 0; n < places.size(); ++n) {
      pieces[n] = path_piece(value(places[n]));
      path += '/';
      path += pieces[n];
    }
    kivtrace("PATh=%s\n", path);
    tree.insert(pieces, value(places.back()));
  }
}

}  // namespace

int up_tree(const std::vector<std::string>& words, exlist* request) {
  objholder objs = handler_begin(words, {2, "Wrong usage: uptree templatefile\n"}, request, RequestCopy::all);
  if (!objs) throw Exit{1};
  objlist& l = *objs;
  const std::vector<std::string> keys = tree_levels(l);
  engineflags().finderror = 0;
  if (find(l) != 0) refuse("No records found\n", 1);
  const std::string login = getuserlogin().value_or(std::string());
  if (login.empty()) refuse("up_tree: The system can't determine who are you", -1);
  const std::string prefix = link_prefix(l, words, login);

  RecordTree tree;
  // The tree's page carries no scratch data file on to a next command, so
  // the one the find filed goes now, not at the next day's sweep.
  remove_find_file(l);
  const std::string found = objtext(l, "findresult.VALUE");
  if (found.empty())
    errmsg("FIND RESULT is NULL\n");
  else
    insert_rows(tree, found, keys);
  tree.count();
  // Program text whose every value is escaped for JavaScript, which leaves
  // nothing that could end the script element: the page prints it as it is.
  adduniqobj(l, "treeresult.VALUE", tree.code(prefix), Origin::config);
  return handler_page(&l, words);
}

}  // namespace kiv

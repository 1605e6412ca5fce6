// The request variable list (exdata): plain data and its node operations.
// A request's variables come from the state file first, then from the form,
// then from the start-up itself. Each node remembers whether the state file
// gave its name a value, so configuration (action command lines, USER, GROUP,
// logindir, KIVDEBUG, ...) is looked up among state-file entries only and a
// form field of the same name never replaces it (getstateval).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace kiv {

enum class ExSource { statefile, form, startup };

struct exdata {
  std::string name;   // empty: the node has no name
  std::string value;  // empty: the node has no value
  ExSource source = ExSource::form;
  // Whether the state file gave this name a value, and that value (the later
  // non-empty line of one name winning). Form entries never change it.
  bool in_state = false;
  std::string state_value;

  // Length + 1, or 0 when there is no text.
  int namelen() const { return name.empty() ? 0 : static_cast<int>(name.size()) + 1; }
  int valuelen() const { return value.empty() ? 0 : static_cast<int>(value.size()) + 1; }
};

// The list in insertion order; nodes[0] is the first node. "No list" is a
// null pointer (or a list without nodes).
//
// Beside the nodes stands an index from each name to the position of its
// first node, so that the add rules and the lookups cost the same however
// long the list is (a request may carry a hundred thousand fields). The
// index follows the nodes by itself as they are appended, also by a
// push_back of the caller's, and is made again when the nodes were
// replaced (fewer of them, or another name where its last one stood). A
// node renamed in place before the last is not seen; no caller renames one
// (the add rules keep every node's name).
struct exlist {
  std::vector<exdata> nodes;
  bool empty() const { return nodes.empty(); }

  // The first node of that name, or nullptr; nameless nodes match nothing.
  exdata* find(std::string_view name);
  const exdata* find(std::string_view name) const;

 private:
  struct NameHash {
    using is_transparent = void;
    size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
  };
  // Takes the nodes appended since the last look into the index; starts
  // over when the nodes were replaced by fewer ones.
  void sync_index() const;
  mutable std::unordered_map<std::string, size_t, NameHash, std::equal_to<>> index_;
  mutable size_t indexed_ = 0;
  mutable std::string last_indexed_;  // the name of nodes[indexed_ - 1]
};

// A node of the texts up to their first NUL.
exdata formexdatanode(std::string_view name, std::string_view value,
                      ExSource source = ExSource::form);

// Adds by the add rule: the value is decoded (brows2data); a node of the
// same name gets the new value when it is not empty; mm_<base> values are
// joined with commas onto <base>; else the node goes at the tail. With no
// list, nothing happens. Returns 0.
int addexdatanode(exlist* list, exdata node);

// Adds a node the way the state-file reader and the CGI start-up build the
// request variable list: into an empty list the first node goes as it stands
// (neither decoded nor merged), every later one by the add rule
// (addexdatanode).
void add_list_node(exlist& list, exdata node);

// Adds a node the start-up itself gives (ExSource::startup) as
// add_list_node does.
void add_startup_node(exlist& list, std::string_view name, std::string_view value);

// Adds or replaces by name (an empty new value removes the old one).
int adduniqexdatanode(exlist* list, exdata node);

// The value of the first node of that name, or none when it has none.
std::optional<std::string> getnodeval(const exlist* list, std::string_view name);
// The same value, or the empty text when there is none.
std::string getnodeval_or_empty(const exlist* list, std::string_view name);

// The value the state file gave that name, or none. Form entries of the same
// name are not seen.
std::optional<std::string> getstateval(const exlist* list, std::string_view name);

// True when `name` is one of the settings the state file configures the
// program with (FIELDMAXLEN, CUSTOM_SECURITY, ATTACHMENTMAXLEN, KIVDEBUG,
// GROUP, USER, logindir, logindir.VALUE): such a name is no action.
bool is_state_setting(std::string_view name);

// The command line the state file binds to the action word `action`, or
// none: a form entry never binds one, and a setting of the state file is
// no action.
std::optional<std::string> getstatecommand(const exlist* list, std::string_view action);

// Decodes in a request variable's value the character references that
// data2brows writes; any other text is left as it is.
void brows2data(exdata& node);

}  // namespace kiv

// The request variable list: its add and lookup rules.
#include "toolkit/text/exlist.h"

#include "toolkit/text/kivcgimisc.h"

namespace kiv {

namespace {

std::string_view upto_nul(std::string_view s) { return s.substr(0, s.find('\0')); }

void record_state(exdata& target, const exdata& incoming) {
  if (incoming.source != ExSource::statefile) return;
  target.in_state = true;
  target.state_value = target.value;
}

}  // namespace

void exlist::sync_index() const {
  if (indexed_ > nodes.size() || (indexed_ > 0 && nodes[indexed_ - 1].name != last_indexed_)) {
    index_.clear();
    indexed_ = 0;
  }
  if (indexed_ == nodes.size()) return;
  for (; indexed_ < nodes.size(); ++indexed_)
    if (!nodes[indexed_].name.empty()) index_.try_emplace(nodes[indexed_].name, indexed_);
  last_indexed_ = nodes[indexed_ - 1].name;
}

const exdata* exlist::find(std::string_view name) const {
  if (name.empty()) return nullptr;
  sync_index();
  auto it = index_.find(name);
  if (it == index_.end()) return nullptr;
  const exdata& n = nodes[it->second];
  if (n.name == name) return &n;
  // The nodes were replaced behind the index: it is made again.
  index_.clear();
  indexed_ = 0;
  sync_index();
  it = index_.find(name);
  return it == index_.end() ? nullptr : &nodes[it->second];
}

exdata* exlist::find(std::string_view name) {
  return const_cast<exdata*>(static_cast<const exlist*>(this)->find(name));
}

exdata formexdatanode(std::string_view name, std::string_view value, ExSource source) {
  exdata n;
  n.name = std::string(upto_nul(name));
  n.value = std::string(upto_nul(value));
  n.source = source;
  if (source == ExSource::statefile) {
    n.in_state = true;
    n.state_value = n.value;
  }
  return n;
}

int addexdatanode(exlist* list, exdata node) {
  if (!list) return 0;
  brows2data(node);
  if (node.source == ExSource::statefile) node.state_value = node.value;
  const bool multi = node.name.starts_with("mm_");
  if (multi) node.name.erase(0, 3);
  exdata* same = list->find(node.name);
  if (!same) {
    list->nodes.push_back(std::move(node));
    return 0;
  }
  if (node.value.empty()) return 0;
  if (multi && !same->value.empty())
    same->value += "," + node.value;
  else
    same->value = node.value;
  record_state(*same, node);
  return 0;
}

void add_list_node(exlist& list, exdata node) {
  if (list.empty())
    list.nodes.push_back(std::move(node));
  else
    addexdatanode(&list, std::move(node));
}

void add_startup_node(exlist& list, std::string_view name, std::string_view value) {
  add_list_node(list, formexdatanode(name, value, ExSource::startup));
}

int adduniqexdatanode(exlist* list, exdata node) {
  if (!list) return 0;
  brows2data(node);
  if (node.source == ExSource::statefile) node.state_value = node.value;
  exdata* same = list->find(node.name);
  if (!same) {
    list->nodes.push_back(std::move(node));
    return 0;
  }
  same->name = node.name;
  same->value = node.value;
  record_state(*same, node);
  return 0;
}

std::optional<std::string> getnodeval(const exlist* list, std::string_view name) {
  const exdata* n = list ? list->find(name) : nullptr;
  if (!n || n->valuelen() == 0) return std::nullopt;
  return n->value;
}

std::string getnodeval_or_empty(const exlist* list, std::string_view name) {
  return getnodeval(list, name).value_or(std::string());
}

std::optional<std::string> getstateval(const exlist* list, std::string_view name) {
  const exdata* n = list ? list->find(name) : nullptr;
  if (!n || !n->in_state || n->state_value.empty()) return std::nullopt;
  return n->state_value;
}

bool is_state_setting(std::string_view name) {
  for (std::string_view s : {"FIELDMAXLEN", "CUSTOM_SECURITY", "ATTACHMENTMAXLEN", "KIVDEBUG", "GROUP", "USER",
                             "logindir", "logindir.VALUE"})
    if (name == s) return true;
  return false;
}

std::optional<std::string> getstatecommand(const exlist* list, std::string_view action) {
  if (is_state_setting(action)) return std::nullopt;
  return getstateval(list, action);
}

void brows2data(exdata& node) {
  if (node.value.empty()) return;
  node.value = brows2data_text(node.value);
}

}  // namespace kiv

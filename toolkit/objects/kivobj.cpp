// The object store: objects, object lists with their name index, and the
// operations that look attribute values up by key and set and cast them.
#include "toolkit/objects/kivobj.h"

#include <algorithm>
#include <cassert>

#include "platform/output.h"
#include "toolkit/base/kivcgitrace.h"

namespace kiv {

namespace {

constexpr std::array<std::string_view, kAttrCount> kWords = {
    "NAME", "VALUE", "DBKEY", "CONTROL", "TYPE", "VTYPE", "ENFORCE", "TITLE", "LEN", "HELP"};
// Every attribute has its word: attrnumber would take an empty word as a number.
static_assert(std::none_of(kWords.begin(), kWords.end(), [](std::string_view w) { return w.empty(); }));

const std::string& no_text() {
  static const std::string empty;
  return empty;
}

// A key split for setting: the object name before the first point and the
// attribute word after it. `has_point` tells a key without a point.
struct SetKey {
  std::string_view name, word;
  bool has_point;
};

SetKey split_first(std::string_view key) {
  size_t dot = key.find('.');
  if (dot == std::string_view::npos) return {key, "VALUE", false};
  return {key.substr(0, dot), key.substr(dot + 1), true};
}

// The key checks of adduniqobj (point_needed false) and castobj (true):
// false, after printing "Illegal head NULL \n" for an empty key, for a key
// they refuse.
bool settable_key(std::string_view key, const SetKey& k, bool point_needed) {
  if (key.empty()) {
    out() << "Illegal head NULL \n";
    return false;
  }
  if (point_needed && !k.has_point) return false;
  return !(k.has_point && k.word.empty());
}

// The head's name is the head's alone: object-file writers skip every object
// that bears it, so another object of that name would vanish on a save.
void trace_head_name(const char* who) {
  kivtrace("%s: an object may not be named '%s' (the name of the list's head)\n", who, kHeadName);
}

// True when setting by this key would touch the head or give its name to
// another object; traced.
bool touches_head(const SetKey& k, std::string_view text, bool exists, const char* who) {
  if (k.name == kHeadName || (exists && k.word == "NAME" && text == kHeadName)) {
    trace_head_name(who);
    return true;
  }
  return false;
}

}  // namespace

std::string_view attrword(int n) {
  if (n < 1 || n > kAttrCount) return {};
  return kWords[n - 1];
}

int attrnumber(std::string_view word) {
  for (int i = 0; i < kAttrCount; ++i)
    if (kWords[i] == word) return i + 1;
  return 0;
}

// ---- objects ---------------------------------------------------------------

const std::string& kivobj::attr(int n) const {
  if (n < 1 || n > kAttrCount) return no_text();
  return attrs_[n - 1];
}

Origin kivobj::origin(int n) const {
  if (n < 1 || n > kAttrCount || attrs_[n - 1].empty()) return Origin::config;
  return origins_[n - 1];
}

// Stores attribute n with its origin; a new NAME moves the object in its
// list's index.
void kivobj::set(int n, std::string text, Origin origin) {
  assert(n >= 1 && n <= kAttrCount);
  origins_[n - 1] = origin;
  if (n == attr::NAME && owner_ && text != attrs_[0]) {
    owner_->unlink_name(this);
    attrs_[0] = std::move(text);
    owner_->link_name(this);
    return;
  }
  attrs_[n - 1] = std::move(text);
}

std::unique_ptr<kivobj> getnewobj() { return std::make_unique<kivobj>(); }

int modattrib(kivobj& node, int n, std::string_view text, Origin origin) {
  if (n < 1 || n > kAttrCount) return -1;
  if (n == attr::NAME && text != node.name() && (text == kHeadName || node.is_head())) {
    trace_head_name("modattrib");
    return -1;
  }
  node.set(n, std::string(text), origin);
  return 0;
}

int castattrib(kivobj& node, int n, std::string_view text, Origin origin) {
  if (n < 1 || n > kAttrCount) return -1;
  if (n != attr::VALUE || text.empty() || node.attr(attr::TYPE) != "MENU")
    return modattrib(node, n, text, origin);
  const std::string& old = node.value();
  std::string v;
  v.reserve(text.size() + old.size() + 2);
  v.append(text);
  if (old.empty()) {
    v.append("^$");
  } else {
    v.append("^@");
    v.append(old);
  }
  // The menu's items stay behind the new choice: the value is one text, so
  // it is marked when either part is.
  node.set(n, std::move(v), origin_of_both(origin, node.origin(attr::VALUE)));
  return 0;
}

int modattribbyname(kivobj& node, std::string_view word, std::string_view text, Origin origin) {
  int n = attrnumber(word);
  if (n == 0) return -1;
  return modattrib(node, n, text, origin);
}

int castattribbyname(kivobj& node, std::string_view word, std::string_view text, Origin origin) {
  int n = attrnumber(word);
  if (n == 0) return -1;
  return castattrib(node, n, text, origin);
}

// ---- lists -----------------------------------------------------------------

objlist::objlist() {
  auto head = getnewobj();
  head->attrs_[0] = std::string(kHeadName);
  append(std::move(head));
}

void objlist::reserve(size_t objects) {
  nodes_.reserve(objects + 1);
  index_.reserve(objects + 1);
}

kivobj* objlist::find(std::string_view name) const {
  if (name.empty()) return nullptr;
  auto it = index_.find(name);
  return it == index_.end() ? nullptr : it->second;
}

kivobj* objlist::append(std::unique_ptr<kivobj> node) {
  assert(node && !node->owner_);
  kivobj* p = node.get();
  p->owner_ = this;
  p->seq_ = nodes_.size();
  nodes_.push_back(std::move(node));
  link_name(p);
  return p;
}

// Puts the object into the chain of its namesakes, in list order.
void objlist::link_name(kivobj* node) {
  node->next_same_ = nullptr;
  if (node->name().empty()) return;
  auto [it, fresh] = index_.try_emplace(node->name(), node);
  if (fresh) return;
  kivobj** link = &it->second;
  while (*link && (*link)->seq_ < node->seq_) link = &(*link)->next_same_;
  node->next_same_ = *link;
  *link = node;
}

void objlist::unlink_name(kivobj* node) {
  if (node->name().empty()) return;
  auto it = index_.find(std::string_view(node->name()));
  if (it == index_.end()) return;
  kivobj** link = &it->second;
  while (*link && *link != node) link = &(*link)->next_same_;
  if (*link) *link = node->next_same_;
  node->next_same_ = nullptr;
  if (!it->second) index_.erase(it);
}

std::unique_ptr<kivobj> objlist::take(const kivobj* node) {
  if (node->owner_ != this || node->is_head()) return nullptr;
  const size_t at = node->seq_;
  assert(at < nodes_.size() && nodes_[at].get() == node);
  std::unique_ptr<kivobj> out = std::move(nodes_[at]);
  unlink_name(out.get());
  nodes_.erase(nodes_.begin() + static_cast<std::ptrdiff_t>(at));
  // The namesakes' chains are ordered by position, which the renumbering
  // keeps.
  for (size_t i = at; i < nodes_.size(); ++i) nodes_[i]->seq_ = i;
  out->owner_ = nullptr;
  out->seq_ = 0;
  return out;
}

std::unique_ptr<kivobj> removeobj(objlist& list, const kivobj& node) { return list.take(&node); }

kivobj* addobj(objlist& list, std::unique_ptr<kivobj> node) {
  if (!node) return nullptr;
  if (node->name() == kHeadName) {
    trace_head_name("addobj");
    return nullptr;
  }
  return list.append(std::move(node));
}

// ---- lookups ---------------------------------------------------------------

namespace {

// The attribute number the key names on this object, or 0.
int attr_of_node(const kivobj& node, std::string_view key) {
  const std::string& name = node.name();
  if (name.empty() || key.size() <= name.size() + 1) return 0;
  if (!key.starts_with(name) || key[name.size()] != '.') return 0;
  int n = attrnumber(key.substr(name.size() + 1));
  return n != 0 && node.has(n) ? n : 0;
}

}  // namespace

std::optional<std::string> getobjval(const kivobj& node, std::string_view key) {
  int n = attr_of_node(node, key);
  if (n == 0) return std::nullopt;
  return node.attr(n);
}

std::string getobjval_or_empty(const kivobj& node, std::string_view key) {
  int n = attr_of_node(node, key);
  return n == 0 ? std::string() : node.attr(n);
}

std::nullopt_t absent_list_lookup() {
  out() << "bad object head  NULL\n";
  return std::nullopt;
}

namespace {

// The object whose attribute n the key finds along the list, or nullptr.
const kivobj* find_attr(const objlist& list, std::string_view key, int& n) {
  // An attribute word holds no point, so the key's last point is the one
  // between the object name and the word, whatever the name holds.
  size_t dot = key.rfind('.');
  if (dot == std::string_view::npos) return nullptr;
  n = attrnumber(key.substr(dot + 1));
  if (n == 0) return nullptr;
  for (const kivobj* o = list.find(key.substr(0, dot)); o; o = objlist::next_named(*o))
    if (o->has(n)) return o;
  return nullptr;
}

}  // namespace

std::optional<attrview> getattrfromlist(const objlist& list, std::string_view key) {
  int n = 0;
  const kivobj* o = find_attr(list, key, n);
  if (!o) return std::nullopt;
  return attrview{o->attr(n), o->origin(n)};
}

std::optional<std::string> getvalfromlist(const objlist& list, std::string_view key) {
  int n = 0;
  const kivobj* o = find_attr(list, key, n);
  if (!o) return std::nullopt;
  return o->attr(n);
}

// ---- readers of object values ----------------------------------------------

namespace {

std::string attr_key(std::string_view name, std::string_view attribute) {
  std::string key;
  key.reserve(name.size() + 1 + attribute.size());
  key += name;
  key += '.';
  key += attribute;
  return key;
}

}  // namespace

std::string objtext(const objlist& list, std::string_view key) {
  int n = 0;
  const kivobj* o = find_attr(list, key, n);
  return o ? o->attr(n) : std::string();
}

std::string objtext(const objlist& list, std::string_view name, std::string_view attribute) {
  return objtext(list, attr_key(name, attribute));
}

objattr_text objattr(const objlist& list, std::string_view name, std::string_view attribute) {
  int n = 0;
  const kivobj* o = find_attr(list, attr_key(name, attribute), n);
  if (!o) return {};
  return {o->attr(n), o->origin(n)};
}

int setobjvalue(objlist& list, std::string_view name, std::string_view text, Origin origin) {
  return adduniqobj(list, attr_key(name, "VALUE"), text, origin);
}

// ---- setting by key --------------------------------------------------------

int adduniqobj(objlist& list, std::string_view key, std::string_view text, Origin origin) {
  SetKey k = split_first(key);
  if (!settable_key(key, k, false)) return -1;
  kivobj* o = list.find(k.name);
  if (touches_head(k, text, o != nullptr, "adduniqobj")) return -1;
  if (o) {
    modattribbyname(*o, k.word, text, origin);
    return 0;
  }
  // A new object gets its name; a NAME key does not use the text.
  auto node = getnewobj();
  modattrib(*node, attr::NAME, k.name, origin);
  if (k.word != "NAME") modattribbyname(*node, k.word, text, origin);
  addobj(list, std::move(node));
  return 0;
}

int castobj(objlist& list, std::string_view key, std::string_view text, Origin origin) {
  SetKey k = split_first(key);
  if (!settable_key(key, k, true)) return -1;
  kivobj* o = list.find(k.name);
  if (touches_head(k, text, o != nullptr, "castobj")) return -1;
  if (o) castattribbyname(*o, k.word, text, origin);
  return 0;
}


}  // namespace kiv

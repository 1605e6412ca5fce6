// The object store: objects, object lists with their name index, and the
// operations that look attribute values up by key, set and cast them, and
// copy the request's variables onto a list.
#include "toolkit/objects/kivobj.h"

#include <cassert>

#include "platform/output.h"
#include "toolkit/base/kivcgitrace.h"
#include "toolkit/text/exlist.h"
#include "toolkit/objects/objprotect.h"

namespace kiv {

namespace {

constexpr std::array<std::string_view, kAttrCount> kWords = {
    "NAME", "VALUE", "DBKEY", "CONTROL", "TYPE", "VTYPE", "ENFORCE", "TITLE", "LEN", "HELP"};

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

int modattrib(kivobj* node, int n, std::string_view text, Origin origin) {
  if (!node || n < 1 || n > kAttrCount) return -1;
  if (n == attr::NAME && text != node->name() && (text == kHeadName || node->is_head())) {
    trace_head_name("modattrib");
    return -1;
  }
  node->set(n, std::string(text), origin);
  return 0;
}

int castattrib(kivobj* node, int n, std::string_view text, Origin origin) {
  if (!node || n < 1 || n > kAttrCount) return -1;
  if (n != attr::VALUE || text.empty() || node->attr(attr::TYPE) != "MENU")
    return modattrib(node, n, text, origin);
  const std::string& old = node->value();
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
  node->set(n, std::move(v), origin_of_both(origin, node->origin(attr::VALUE)));
  return 0;
}

int modattribbyname(kivobj* node, std::string_view word, std::string_view text, Origin origin) {
  int n = attrnumber(word);
  if (n == 0) return -1;
  return modattrib(node, n, text, origin);
}

int castattribbyname(kivobj* node, std::string_view word, std::string_view text, Origin origin) {
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
  assert(!node->owner_);
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

std::unique_ptr<kivobj> removeobj(objlist* list, const kivobj* node) {
  if (!list || !node) return nullptr;
  return list->take(node);
}

kivobj* addobj(objlist* list, std::unique_ptr<kivobj> node) {
  if (!list || !node) return nullptr;
  if (node->name() == kHeadName) {
    trace_head_name("addobj");
    return nullptr;
  }
  return list->append(std::move(node));
}

// ---- lookups ---------------------------------------------------------------

std::optional<std::string> getobjval(const kivobj* node, std::string_view key) {
  if (!node) {
    out() << "bad object  NULL\n";
    return std::nullopt;
  }
  const std::string& name = node->name();
  if (name.empty() || key.size() <= name.size() + 1) return std::nullopt;
  if (!key.starts_with(name) || key[name.size()] != '.') return std::nullopt;
  int n = attrnumber(key.substr(name.size() + 1));
  if (n == 0 || !node->has(n)) return std::nullopt;
  return node->attr(n);
}

namespace {

// The object whose attribute n the key finds along the list, or nullptr.
// An absent list prints "bad object head  NULL\n".
const kivobj* find_attr(const objlist* list, std::string_view key, int& n) {
  if (!list) {
    out() << "bad object head  NULL\n";
    return nullptr;
  }
  // An attribute word holds no point, so the key's last point is the one
  // between the object name and the word, whatever the name holds.
  size_t dot = key.rfind('.');
  if (dot == std::string_view::npos) return nullptr;
  n = attrnumber(key.substr(dot + 1));
  if (n == 0) return nullptr;
  for (const kivobj* o = list->find(key.substr(0, dot)); o; o = objlist::next_named(o))
    if (o->has(n)) return o;
  return nullptr;
}

}  // namespace

std::optional<attrview> getattrfromlist(const objlist* list, std::string_view key) {
  int n = 0;
  const kivobj* o = find_attr(list, key, n);
  if (!o) return std::nullopt;
  return attrview{o->attr(n), o->origin(n)};
}

std::optional<std::string> getvalfromlist(const objlist* list, std::string_view key) {
  int n = 0;
  const kivobj* o = find_attr(list, key, n);
  if (!o) return std::nullopt;
  return o->attr(n);
}

// ---- setting by key --------------------------------------------------------

int adduniqobj(objlist* list, std::string_view key, std::string_view text, Origin origin) {
  if (key.empty()) {
    out() << "Illegal head NULL \n";
    return -1;
  }
  SetKey k = split_first(key);
  if (k.has_point && k.word.empty()) return -1;
  if (!list) return 0;
  kivobj* o = list->find(k.name);
  if (touches_head(k, text, o != nullptr, "adduniqobj")) return -1;
  if (o) {
    modattribbyname(o, k.word, text, origin);
    return 0;
  }
  // A new object gets its name; a NAME key does not use the text.
  auto node = getnewobj();
  modattrib(node.get(), attr::NAME, k.name, origin);
  if (k.word != "NAME") modattribbyname(node.get(), k.word, text, origin);
  addobj(list, std::move(node));
  return 0;
}

int castobj(objlist* list, std::string_view key, std::string_view text, Origin origin) {
  if (key.empty()) {
    out() << "Illegal head NULL \n";
    return -1;
  }
  SetKey k = split_first(key);
  if (!k.has_point || k.word.empty()) return -1;
  if (!list) return 0;
  kivobj* o = list->find(k.name);
  if (touches_head(k, text, o != nullptr, "castobj")) return -1;
  if (o) castattribbyname(o, k.word, text, origin);
  return 0;
}

// ---- request variables -----------------------------------------------------

namespace {

// What a request variable puts onto the objects: its text and where that
// text came from.
struct CopyText {
  const std::string* text;  // none: the variable is skipped
  Origin origin;
};

// The login the start-up puts into the list is the start-up's to set, but its
// text is what a person chose as their name (at the web server's login or when
// the account was made): pages show it as request text.
bool login_variable(std::string_view name) { return name == "nv_remote_user" || name == "mm_nv_remote_user"; }

// The text a request variable may put onto the objects, or none when it must
// be skipped. Values the state file or the start-up gave are configuration
// (but for the login); a form value over a state-file entry of a protected
// name falls back to the state file's value. `group` names the object of the
// user's groups.
CopyText copy_text(const exdata& n, ExCopy mode, const objlist* list, std::string_view group, const char* who) {
  if (n.source == ExSource::startup)
    return {&n.value, login_variable(n.name) ? Origin::request : Origin::config};
  if (n.in_state && n.value == n.state_value) return {&n.value, Origin::config};
  if (mode == ExCopy::full) return {&n.value, Origin::request};
  if (request_may_set(n.name, n.value, list, group)) return {&n.value, Origin::request};
  kivtrace("%s: request variable '%s' may not set a configured object\n", who, n.name);
  return {n.in_state ? &n.state_value : nullptr, Origin::config};
}

}  // namespace

int ex2obj(const exlist* req, objlist* list, ExCopy mode) {
  if (!req) return -1;
  const std::string group = group_object(req);
  for (size_t i = 0; i < req->nodes.size(); ++i) {
    const exdata& n = req->nodes[i];
    if (n.namelen() <= 0) continue;
    CopyText c = copy_text(n, mode, list, group, "ex2obj");
    if (c.text) adduniqobj(list, n.name, *c.text, c.origin);
  }
  return 0;
}

int castex2obj(const exlist* req, objlist* list, ExCopy mode) {
  if (!req) return -1;
  const std::string group = group_object(req);
  for (size_t i = 0; i < req->nodes.size(); ++i) {
    const exdata& n = req->nodes[i];
    if (n.valuelen() <= 0) continue;
    CopyText c = copy_text(n, mode, list, group, "castex2obj");
    if (c.text && !c.text->empty()) castobj(list, n.name, *c.text, c.origin);
  }
  return 0;
}

// ---- dump ------------------------------------------------------------------

int printobj(const objlist* list) {
  static constexpr std::array<std::string_view, kAttrCount> kLines = {
      " name='%s'\n",    " value='%s'\n",   " dbkey='%s'\n", " control='%s'\n", " objtype='%s'\n",
      " objvtype='%s'\n", " enforce='%s'\n", " title='%s'\n", " len='%s'\n",     " help='%s'\n"};
  if (!list) {
    out() << "head is NULL\n";
    return -1;
  }
  for (const kivobj& o : *list) {
    for (int n = 1; n <= kAttrCount; ++n)
      if (o.has(n)) pagef(kLines[n - 1], o.attr(n));
    out().flush();
  }
  return 0;
}

}  // namespace kiv

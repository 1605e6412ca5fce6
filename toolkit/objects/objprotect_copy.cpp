// Copying a request's variables onto an object list, the way a request's
// variables reach the objects: each variable's text goes through the
// protected configuration's check and is marked with where it came from.
#include "toolkit/objects/objprotect.h"

#include <string>

#include "toolkit/base/kivcgitrace.h"
#include "toolkit/objects/kivobj.h"
#include "toolkit/text/exlist.h"

namespace kiv {

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
CopyText copy_text(const exdata& n, ExCopy mode, const objlist& list, std::string_view group, const char* who) {
  if (n.source == ExSource::startup)
    return {&n.value, login_variable(n.name) ? Origin::request : Origin::config};
  if (n.in_state && n.value == n.state_value) return {&n.value, Origin::config};
  if (mode == ExCopy::full) return {&n.value, Origin::request};
  if (request_may_set(n.name, n.value, &list, group)) return {&n.value, Origin::request};
  kivtrace("%s: request variable '%s' may not set a configured object\n", who, n.name);
  return {n.in_state ? &n.state_value : nullptr, Origin::config};
}

}  // namespace

int ex2obj(const exlist& request, objlist& list, ExCopy mode) {
  const std::string group = group_object(&request);
  for (size_t i = 0; i < request.nodes.size(); ++i) {
    const exdata& n = request.nodes[i];
    if (n.namelen() <= 0) continue;
    CopyText c = copy_text(n, mode, list, group, "ex2obj");
    if (c.text) adduniqobj(list, n.name, *c.text, c.origin);
  }
  return 0;
}

int castex2obj(const exlist& request, objlist& list, ExCopy mode) {
  const std::string group = group_object(&request);
  for (size_t i = 0; i < request.nodes.size(); ++i) {
    const exdata& n = request.nodes[i];
    if (n.valuelen() <= 0) continue;
    CopyText c = copy_text(n, mode, list, group, "castex2obj");
    if (c.text && !c.text->empty()) castobj(list, n.name, *c.text, c.origin);
  }
  return 0;
}

}  // namespace kiv

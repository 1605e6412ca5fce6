// The object editor (see upadmin_objects.h): the list of tk_obj's objects,
// one object into the form, and its create, modify and delete, each object
// found by its exact name.
#include "admin/upadmin_objects.h"

#include <array>
#include <cassert>
#include <memory>
#include <string>

#include "admin/upadmin_fields.h"
#include "admin/upadmin_form.h"
#include "admin/upadmin_state.h"
#include "toolkit/base/kivcgitrace.h"
#include "toolkit/base/kivcontext.h"
#include "toolkit/text/rowcol.h"

namespace kiv {

namespace {

// A form value of the object form and the attribute it stands for.
struct FormAttr {
  std::string_view form;
  int attr;
};

// The order in which a create or modify sets the attributes (DBKEY, which
// is checked against the name, comes before them).
constexpr std::array<FormAttr, 7> kSetOrder = {{{"admin_title.VALUE", attr::TITLE},
                                                {"admin_value.VALUE", attr::VALUE},
                                                {"admin_type.VALUE", attr::TYPE},
                                                {"admin_control.VALUE", attr::CONTROL},
                                                {"admin_len.VALUE", attr::LEN},
                                                {"admin_help.VALUE", attr::HELP},
                                                {"admin_enforce.VALUE", attr::ENFORCE}}};
constexpr FormAttr kDbkey = {"admin_dbkey.VALUE", attr::DBKEY};

// The order in which an object is loaded into the form.
constexpr std::array<FormAttr, 8> kLoadOrder = {{{"admin_value.VALUE", attr::VALUE},
                                                 {"admin_dbkey.VALUE", attr::DBKEY},
                                                 {"admin_control.VALUE", attr::CONTROL},
                                                 {"admin_type.VALUE", attr::TYPE},
                                                 {"admin_enforce.VALUE", attr::ENFORCE},
                                                 {"admin_title.VALUE", attr::TITLE},
                                                 {"admin_len.VALUE", attr::LEN},
                                                 {"admin_help.VALUE", attr::HELP}}};

constexpr std::string_view kNameForm = "admin_name.VALUE";

objlist& tk() {
  assert(admin().tk_obj);
  return *admin().tk_obj;
}

// True when the object or a later namesake has a VALUE: the object exists
// for create and delete.
bool has_value(const kivobj* first) {
  for (const kivobj* o = first; o; o = objlist::next_named(*o))
    if (o->has(attr::VALUE)) return true;
  return false;
}

constexpr bool name_char(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
         c == ':';
}

// A name the editor may create. Its key "<name>.ATTRIBUTE" is cut at the
// first point, the reader trims and folds blanks, "^@" and "^$" would split
// the list's rows: letters, digits, "_", "-" and ":" (the configuration's
// own names, such as case_num-map and problem:1) pass all of them whole.
bool creatable_name(std::string_view name) {
  if (name.empty()) return false;
  for (char c : name)
    if (!name_char(c)) return false;
  return true;
}

// The object form filled from the object: each attribute it has, in the
// load order; with `clear`, an attribute it lacks empties its form value
// (the page after a save shows what was stored). A password is never put
// into a page.
void fill_form(const kivobj& o, bool clear) {
  const bool password = is_password_object(o.name());
  for (const FormAttr& f : kLoadOrder) {
    if (f.attr == attr::VALUE && password) {
      setform(f.form, "");
      continue;
    }
    if (o.has(f.attr)) setform(f.form, o.attr(f.attr), o.origin(f.attr));
    else if (clear) setform(f.form, "");
  }
}

// The head's name belongs to the head: no object of the file may take it.
void refuse_head(const formtext& name) {
  if (name.text == kHeadName) refuse("Error: object name '%s' is kept for the head of the object list\n", name.text);
}

// Create (no object of that name may have a VALUE) or modify: the checks
// first, every one before anything changes, then the form's non-empty
// values set on the object found by its name, or on a new one at the tail.
void put_object(bool create) {
  formtext name = required(kNameForm, "Error: object name can't be blank\n");
  formtext dbkey = formval(kDbkey.form);
  refuse_line_break(dbkey, attrword(kDbkey.attr));
  std::array<formtext, kSetOrder.size()> values;
  for (size_t i = 0; i < kSetOrder.size(); ++i) {
    formtext v = formval(kSetOrder[i].form);
    refuse_line_break(v, attrword(kSetOrder[i].attr));
    values[i] = as_stored(std::move(v));
  }
  refuse_head(name);
  kivobj* target = tk().find(name.text);
  if (create && has_value(target)) refuse("Error: object '%s' already exists\n", name.text);
  if (!target && !creatable_name(name.text))
    refuse("Error: object name '%s' may hold only letters, digits, '_', '-' and ':'\n", name.text);
  if (!dbkey.empty()) {
    if (dbkey.text != name.text) refuse("Error: object name and dbkey must be the same\n");
    // An object given a DBKEY becomes a field: its name names a column.
    if (!target || !target->has(attr::DBKEY)) check_new_field(name.text);
  }

  if (!target) {
    std::unique_ptr<kivobj> node = getnewobj();
    modattrib(*node, attr::NAME, name.text, name.origin);
    target = addobj(tk(), std::move(node));
    assert(target);  // refuse_head turned the head's name away
  }
  if (!dbkey.empty()) modattrib(*target, attr::DBKEY, dbkey.text, dbkey.origin);
  for (size_t i = 0; i < kSetOrder.size(); ++i)
    if (!values[i].empty()) modattrib(*target, kSetOrder[i].attr, values[i].text, values[i].origin);
  fill_form(*target, true);
}

}  // namespace

void listallobjects() {
  std::string text = "admin_name";
  text += kRowEnd;
  Origin origin = Origin::config;
  for (const kivobj& o : tk()) {
    const std::string& name = o.name();
    if (name.empty() || name == kHeadName) continue;
    if (name.find(kRowEnd) != std::string::npos || name.find(kColSep) != std::string::npos) continue;
    text += name;
    text += kRowEnd;
    if (o.marked(attr::NAME)) origin = Origin::request;
  }
  setform("object_list.VALUE", text, origin);
}

void getobject() {
  formtext name = required(kNameForm, "Error:  object name can't be blank\n");
  kivtrace("NAME='%s'\n", name.text);
  const kivobj* found = name.text == kHeadName ? nullptr : tk().find(name.text);
  if (!found) refuse("Error: object is not found in the system\n");
  if (reqctx().kivdebug) {
    for (const kivobj& o : tk()) {
      if (o.name() == kHeadName) continue;
      kivtrace("Nedded Object='%s' Object Name='%s'\n", name.text, o.name());
      if (&o == found) break;
    }
  }
  kivtrace("Found match\n");
  fill_form(*found, false);
}

void createobject() { put_object(true); }

void modifyobject() { put_object(false); }

void deleteobject() {
  formtext name = required(kNameForm, "Error: object name can't be blank\n");
  objlist& objs = tk();
  if (!has_value(objs.find(name.text))) refuse("Error: object '%s' does not exists\n", name.text);
  // The file is written without every namesake, under the lock the frame
  // holds; then they leave the list of this request too.
  objlist kept;
  kept.reserve(objs.size());
  for (const kivobj& o : objs)
    if (o.name() != kHeadName && o.name() != name.text) addobj(kept, std::make_unique<kivobj>(o));
  saveobjfile(&kept, "tk_obj");
  while (const kivobj* o = objs.find(name.text)) removeobj(objs, *o);
}

}  // namespace kiv

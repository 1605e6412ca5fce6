// The field settings pages (see upadmin_fields.h): add, modify, list, the
// modify form and delete of the case form's fields in tk_obj, with the
// checks of a new field's name and column.
#include "admin/upadmin_fields.h"

#include <cassert>
#include <optional>
#include <string>
#include <vector>

#include "admin/upadmin_form.h"
#include "admin/upadmin_rules.h"
#include "admin/upadmin_state.h"
#include "data/sql_pars.h"
#include "engine/upcommon_ops.h"
#include "engine/upobjdb.h"
#include "toolkit/base/kivcgitrace.h"
#include "toolkit/text/rowcol.h"

namespace kiv {

namespace {

constexpr std::string_view kDynamicPrefix = "dynamic-menu_";
constexpr size_t kMaxFieldName = 63;

// Lower-case letters, digits and "_", 1 to 63 of them.
bool plain_word(std::string_view s) {
  if (s.empty() || s.size() > kMaxFieldName) return false;
  for (char c : s)
    if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_')) return false;
  return true;
}

// A name the editor may create: it becomes the object's name (no point, no
// caret, no colon, so keys, rows and rule names stay whole) and, for a field
// that is not dynamic, its column, which PostgreSQL and SQLite must both find
// under the same name (lower case).
bool new_field_name_ok(std::string_view name, bool menu) {
  if (menu && name.starts_with(kDynamicPrefix)) return plain_word(name.substr(kDynamicPrefix.size()));
  return plain_word(name) && name[0] >= 'a' && name[0] <= 'z' && sql_column_ok(name);
}

bool is_field(const kivobj& o) { return o.has(attr::DBKEY) || is_dynamic_field(o.name()); }

// A new field's column must be in the case table: the generator writes only
// the columns the table has, so a field without one would lose its values
// while every add went on as if they were kept.
void check_column(std::string_view name) {
  const objlist& tk = *admin().tk_obj;
  std::optional<dbconnection> c = connection_objects(tk);
  if (!c) throw Exit{0};
  std::optional<dbconfig_node> node = mk_dbconfig_node(c->database, c->table, std::string_view());
  if (!node) refuse("Cannot read the columns of the table '%s'\n", c->table);
  if (!node->index_of(name))
    refuse("Field '%s' has no column in the table '%s'. Add the column to the database first.\n", name, c->table);
}

// The object a field operation works on: the first of that name, or none
// when it is to be created. Refuses what the operation may not touch.
kivobj* field_to_change(const std::string& name, int modify, bool menu) {
  kivobj* existing = admin().tk_obj->find(name);
  if (!modify && existing) refuse("field '%s' already exists. add field faild\n", name);
  if (!existing) {
    if (!new_field_name_ok(name, menu)) refuse("Bad field name '%s'\n", name);
    return nullptr;
  }
  // A plain field has its column; the menu editor also takes dynamic menus.
  if (!(menu ? is_field(*existing) : existing->has(attr::DBKEY))) refuse("'%s' is not a field\n", name);
  return existing;
}

// A new object of the field's name at the end of tk_obj. The name passed
// new_field_name_ok, so it is never the head's, which addobj refuses.
kivobj& create_field(const formtext& name) {
  auto node = getnewobj();
  modattrib(*node, attr::NAME, name.text, name.origin);
  kivobj* added = addobj(*admin().tk_obj, std::move(node));
  assert(added);
  return *added;
}

void set_enforce(kivobj& o) {
  formtext enforce = formval("enforce.VALUE");
  if (enforce.empty()) {
    kivtrace("ENFORCE IS OFF");
    return;
  }
  kivtrace("ENFORCE IS ON");
  modattrib(o, attr::ENFORCE, enforce.text, enforce.origin);
}

// The selected item of a menu's old VALUE put back in front of its new
// choices, while it is still one of them.
std::string keep_selection(const std::string& old, std::string items) {
  std::string selected = getcol_or_empty(old, 1);
  if (selected.empty() || !items.starts_with(kEmptyCol)) return items;
  const std::string chosen = packetvalue(selected);
  if (!rowhasvalue(items, chosen)) return items;
  return chosen + items.substr(kEmptyCol.size());
}

// A menu's row without its first column (the selected item): its choices.
std::string choices_of(std::string_view value) {
  const std::vector<std::string_view> cols = columns_of(value);
  std::string row;
  for (size_t i = 1; i < cols.size(); ++i) {
    row += cols[i].empty() ? kEmptyCol : cols[i];
    row += i + 1 == cols.size() ? kRowEnd : kColSep;
  }
  return row;
}

}  // namespace

void append_field_row(std::string& text, kivobj& o, std::string_view type) {
  if (!o.has(attr::TITLE)) modattrib(o, attr::TITLE, "*");
  modattrib(o, attr::ENFORCE, o.attr(attr::ENFORCE) == "1" ? "Yes" : "No");
  modattrib(o, attr::TYPE, type);
  for (int n : {attr::NAME, attr::TITLE, attr::TYPE, attr::ENFORCE}) {
    text += packetvalue(o.attr(n));
    text += n == attr::ENFORCE ? kRowEnd : kColSep;
  }
}

bool is_dynamic_field(std::string_view name) { return name.substr(0, 10) == kDynamicPrefix.substr(0, 10); }

void addflatfield(int modify) {
  formtext name = required("dbkey_name.VALUE", "Missing field name object\n");
  kivobj* o = field_to_change(name.text, modify, false);
  formtext title = required("dbkey_title.VALUE", "Missing field title object\n");
  if (!o) {
    check_column(name.text);
    o = &create_field(name);
  }
  modattrib(*o, attr::DBKEY, name.text, name.origin);
  modattrib(*o, attr::TITLE, title.text, title.origin);
  set_enforce(*o);
}

void addmenufield(int modify) {
  formtext name = required("dbkey_name.VALUE", "Missing field name object\n");
  const bool dynamic = is_dynamic_field(name.text);
  kivobj* o = field_to_change(name.text, modify, true);
  formtext title = formval("dbkey_title.VALUE");
  if (title.empty() && !dynamic) refuse("Missing field title object\n");
  formtext choices = required("dbkey_value.VALUE", "Missing field title object\n");
  std::optional<std::string> items = lines2kivrec(choices.text);
  if (!items) refuse("Missing field title object\n");
  if (!o) {
    if (!dynamic) check_column(name.text);
    o = &create_field(name);
  }
  if (!dynamic) modattrib(*o, attr::DBKEY, name.text, name.origin);
  if (!title.empty()) modattrib(*o, attr::TITLE, title.text, title.origin);
  if (!dynamic) set_enforce(*o);
  std::string value = dynamic ? std::move(*items) : keep_selection(o->value(), std::move(*items));
  modattrib(*o, attr::VALUE, value, choices.origin);
  if (!dynamic) modattrib(*o, attr::TYPE, "MENU");
}

void listdbfields(int flag) {
  kivtrace("List Fields\n");
  std::string text = "name^@title^@type^@enforce^$";
  for (kivobj& o : *admin().tk_obj) {
    if (o.name() == "id_num") continue;
    if (flag == 1 && is_dynamic_field(o.name())) append_field_row(text, o, "DYNAMIC");
    if (o.has(attr::DBKEY)) append_field_row(text, o, o.attr(attr::TYPE) == "MENU" ? "MENU" : "TEXT");
  }
  adduniqobj(*admin().tk_obj, "admin_alldbfields.VALUE", text);
}

void modfield() {
  AdminState& s = admin();
  kivtrace("modfiled start\n");
  formtext name = required("dbkey_name.VALUE", "Missing field name object\n");
  for (kivobj* o = s.tk_obj->find(name.text); o; o = objlist::next_named(*o)) {
    kivtrace("1modfiled start\n");
    if (!is_field(*o)) continue;  // a setting or a rule is no field to show
    kivtrace("2modfiled start\n");
    setform("dbkey_name.VALUE", o->name(), name.origin);
    if (o->has(attr::TITLE)) setform("dbkey_title.VALUE", o->attr(attr::TITLE), o->origin(attr::TITLE));
    kivtrace("3modfiled start\n");
    const char* enforce = o->attr(attr::ENFORCE) == "1" ? "1" : "0";
    modattrib(*o, attr::ENFORCE, enforce);
    setform("enforce.VALUE", enforce);
    kivtrace("4modfiled start\n");
    if (is_dynamic_field(o->name())) {
      kivtrace("5modfiled start\n");
      s.modfield_template = "database/mod_menu_field.html";
      setform("dbkey_value.VALUE", rows2lines(o->value()).value_or(std::string()), o->origin(attr::VALUE));
    } else if (o->attr(attr::TYPE) == "MENU") {
      kivtrace("6modfiled start\n");
      s.modfield_template = "database/mod_menu_field.html";
      setform("dbkey_value.VALUE", row2lines(choices_of(o->value())), o->origin(attr::VALUE));
    } else {
      kivtrace("7modfiled start\n");
      s.modfield_template = "database/mod_flat_field.html";
    }
    kivtrace("TEMPALET\n");
  }
}

void check_new_field(std::string_view name) {
  if (!new_field_name_ok(name, false)) refuse("Bad field name '%s'\n", name);
  check_column(name);
}

void delfield() {
  formtext name = required("dbkey_name.VALUE", "Missing field name object\n");
  objlist& tk = *admin().tk_obj;
  const kivobj* o = tk.find(name.text);
  if (!o || o->name() == "id_num" || !is_field(*o)) return;
  removeobj(tk, *o);
}

}  // namespace kiv

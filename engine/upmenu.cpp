// Menus chosen by trigger (build_menu) and dependent menus (dynamic_menu),
// run over tk_obj each time a command loads it.
#include "engine/upmenu.h"

#include "toolkit/base/kivcgitrace.h"
#include "toolkit/base/kivfmt.h"
#include "toolkit/pages/kivjs.h"
#include "toolkit/text/rowcol.h"

namespace kiv {

namespace {

// Picks the item list of the trigger in attribute n of a menu object.
void pick_rows(kivobj& o, int n, std::string_view trigger) {
  const std::string& text = o.attr(n);
  if (text.empty()) return;
  int rows = getrowcount(text);
  if (rows <= 1) return;
  kivtrace("build_menu rowcount='%d'", rows);
  int chosen = 2;
  for (int i = 1; i <= rows; i += 2) {
    kivtrace("build_menu i ='%d'", i);
    std::string row = getrow_or_empty(text, i);
    kivtrace("build_menu rowdata ='%s'", row);
    std::string first = getcol_or_empty(row, 1);
    kivtrace("build_menu prdata ='%s'", first);
    if (first == trigger) {
      chosen = i + 1;
      break;
    }
  }
  std::string picked = getrow_or_empty(text, chosen);
  modattrib(o, n, picked, o.origin(n));  // a part of the attribute keeps its origin
}

// Field names become parts of script identifiers (<field>_updatemenu,
// item.form.<field>): only names that are identifiers make valid script.
bool js_identifier(std::string_view s) {
  if (s.empty() || (s[0] >= '0' && s[0] <= '9')) return false;
  for (char c : s) {
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
              c == '$';
    if (!ok) return false;
  }
  return true;
}

// "menu.sub<i> = new Array(...);" for one row: its non-empty items after the
// first column; an item other than the last that begins with a blank stands
// as an empty text.
std::string menu_array(int i, std::string_view row) {
  std::string s = sformat("menu.sub%d = new Array(", i);
  int cols = getcolcount(row);
  bool first = true;
  for (int j = 2; j <= cols; ++j) {
    std::string item = getcol_or_empty(row, j);
    if (item.empty()) continue;
    if (!first) s += ',';
    first = false;
    s += '"';
    if (j == cols || item[0] != ' ') s += js_escape(item);
    s += '"';
  }
  s += ");\n";
  return s;
}

}  // namespace

int build_menu(objlist& objs, std::string_view trigger) {
  kivtrace("build_menu trig='%s'", trigger);
  for (kivobj& o : objs) {
    if (o.name().empty()) continue;
    if (getvalfromlist(objs, o.name() + ".TYPE") != "MENU") continue;
    kivtrace("build_menu name='%s'", o.name());
    pick_rows(o, attr::VALUE, trigger);
    pick_rows(o, attr::TITLE, trigger);
  }
  return 0;
}

std::string dynamic_menu_script(std::string_view field, std::string_view rows) {
  std::string s = sformat(
      "<script language=\"JavaScript\">\n <!--\n function %s_updatemenu(item) {\n if (document.images) "
      "{\nmenu = new Object();\nsel = item.selectedIndex;\n choice=item.options[sel].text;\n ",
      field);
  // A row without a choice text offers nothing: it gets neither an array
  // nor a branch, so no branch names an array that does not exist.
  int count = getrowcount(rows);
  std::string branches;
  for (int i = 1; i <= count; ++i) {
    std::string row = getrow_or_empty(rows, i);
    std::string choice = getcol_or_empty(row, 1);
    if (choice.empty()) continue;
    s += menu_array(i, row);
    branches += sformat(branches.empty() ? "if(choice == \"%s\"){\n act=menu.sub%d\n"
                                         : "}else if(choice == \"%s\"){\n act=menu.sub%d\n",
                        js_escape(choice), i);
  }
  s += branches;
  s += branches.empty() ? "act = new Array();\n" : "} else {\n act = new Array();\n }\n";
  s += sformat("item.form.%s.length = act.length;\n", field);
  s += sformat("for(i=0;i<act.length;i++)\n item.form.%s.options[i].text = act[i];\n", field);
  s += " } else {\n alert(\"Your browser does not allow to use this form. Get a newer browser.\");\n }\n }\n"
       " // -->\n </script>\n";
  return s;
}

int dynamic_menu(objlist& objs) {
  kivtrace("dynamic_menu start\n");
  for (kivobj& o : objs) {
    const std::string& name = o.name();
    if (!name.starts_with("dynamic-me")) continue;
    size_t us = name.find('_');
    std::string_view field = us == std::string::npos ? std::string_view() : std::string_view(name).substr(us + 1);
    if (!js_identifier(field)) {
      kivtrace("dynamic_menu: '%s' names no field a script can address\n", name);
      continue;
    }
    modattrib(o, attr::TITLE, dynamic_menu_script(field, o.value()));
  }
  kivtrace("dynamic_menu end\n");
  return 0;
}

}  // namespace kiv

// What the four rule editors share: rule numbers, the HTML table of choices
// a rule form shows (every item and title escaped), a rule's criteria in
// words for the lists, the time of an alarm rule, and the removal of an
// object from tk_obj.
#include <algorithm>
#include <string>
#include <vector>

#include "admin/upadmin_form.h"
#include "admin/upadmin_rules.h"
#include "admin/upadmin_state.h"
#include "engine/maillist.h"
#include "toolkit/text/kivcgimisc.h"
#include "toolkit/base/kivcgitrace.h"
#include "toolkit/text/rowcol.h"

namespace kiv {

namespace {

std::string select_open(std::string_view name) {
  std::string r = "<select name=\"mm_";
  r += data2brows(name);
  r += "\" multiple size=\"5\">";
  return r;
}

void append_option(std::string& html, std::string_view item, bool selected) {
  html += selected ? "<option selected>" : "<option>";
  html += data2brows(item);
  html += "</option>";
}

// The items a menu offers: its columns in order, each once. The first column
// is the menu's selected item, which is also one of the items when the menu
// has a default; it is offered where it stands among them.
std::vector<std::string_view> menu_items(std::string_view choices) {
  const std::vector<std::string_view> cols = columns_of(choices);
  std::vector<std::string_view> items;
  std::string_view selected = cols.empty() ? std::string_view() : cols[0];
  for (size_t i = 1; i < cols.size(); ++i) {
    if (cols[i].empty()) continue;
    if (cols[i] == selected) selected = {};
    items.push_back(cols[i]);
  }
  if (!selected.empty()) items.insert(items.begin(), selected);
  return items;
}

// A menu field of tk_obj, as the rule forms offer it: a field (DBKEY) of
// TYPE "MENU", id_num aside.
bool offered(const kivobj& o) { return o.name() != "id_num" && o.has(attr::DBKEY); }

// The table of choices: each menu field's title and multiple choice, built
// by `choice`.
template <class Choice>
std::string menus_table(Choice choice) {
  std::string html = "<table>";
  for (kivobj& o : *admin().tk_obj) {
    if (!offered(o)) continue;
    if (!o.has(attr::TITLE)) modattrib(o, attr::TITLE, "*");
    if (o.attr(attr::TYPE) != "MENU") continue;
    html += "<tr>";
    if (std::optional<std::string> node = choice(o)) {
      html += "<td><b>";
      html += data2brows(o.attr(attr::TITLE));
      html += "</b></td><td>";
      html += *node;
      html += "</td>";
    }
    html += "</tr>";
  }
  html += "</table>";
  return html;
}

// The lines of a rule's criteria: label (given by `label`), ":", the
// criterion's accepted values as a comma list, "\n".
template <class Label>
std::string criteria_lines(std::string_view rule, std::string_view rulevalue, Label label) {
  std::string text;
  std::optional<std::string> criteria = trigname2rec(rule);
  if (!criteria) return text;
  const std::vector<std::string_view> names = columns_of(*criteria);
  kivtrace("COUNT=%d", static_cast<int>(names.size()));
  for (size_t i = 0; i < names.size(); ++i) {
    const std::string nameitem(names[i]);
    std::string vitem =
        row2commalist_or_empty(getrow_or_empty(rulevalue, static_cast<int>(i) + 1));
    kivtrace("nameitem=%s vitem=%s", nameitem, vitem);
    text += label(nameitem);
    text += ':';
    text += vitem;
    text += '\n';
  }
  return text;
}

}  // namespace

int getrulenumber(std::string_view name) {
  size_t colon = name.rfind(':');
  if (colon == std::string_view::npos) return 0;
  long long n = 0;
  for (size_t i = colon + 1; i < name.size() && name[i] >= '0' && name[i] <= '9'; ++i) {
    n = n * 10 + (name[i] - '0');
    if (n > 1000000000) return 1000000000;
  }
  return static_cast<int>(n);
}

std::optional<std::string> makemultinode(std::string_view name, std::string_view choices) {
  kivtrace("makemultinode statrt");
  if (choices.empty()) return std::nullopt;
  std::string html = select_open(name);
  for (std::string_view item : menu_items(choices)) append_option(html, item, false);
  html += "</select>";
  kivtrace("makemultinode ret=%s", html);
  return html;
}

std::optional<std::string> makemultimailnode(std::string_view name, std::string_view choices,
                                             std::string_view rule, std::string_view rulevalue) {
  kivtrace("makemultimailnode START");
  if (choices.empty()) return std::nullopt;
  kivtrace("makemultinode name=%s val=%s", name, choices);
  std::string html = select_open(name);
  std::optional<std::string> criteria = trigname2rec(rule);
  const int at = criteria ? getindex(*criteria, name) : 0;
  const std::string picked = at > 0 ? getrow_or_empty(rulevalue, at) : std::string();
  const std::vector<std::string_view> picks = columns_of(picked);
  // As many of the rule's values as the menu has columns.
  const size_t count = std::min(picks.size(), static_cast<size_t>(getcolcount(choices)));
  int written = 0;
  for (size_t i = 0; i < count; ++i) {
    if (picks[i].empty()) continue;
    append_option(html, picks[i], true);
    ++written;
  }
  for (std::string_view item : menu_items(choices)) {
    if (written > 0 && rowhasvalue(picked, item)) continue;
    append_option(html, item, false);
  }
  html += "</select>";
  kivtrace("makemultimailnode ret=%s", html);
  return html;
}

int rowhasvalue(std::string_view row, std::string_view value) {
  for (std::string_view col : columns_of(row))
    if (!col.empty() && col == value) return 1;
  return 0;
}

std::string makemenus() {
  return menus_table([](const kivobj& o) { return makemultinode(o.attr(attr::DBKEY), o.value()); });
}

std::string makerulemenus(std::string_view rule, std::string_view rulevalue) {
  return menus_table([&](const kivobj& o) {
    if (!rule.empty() && !rulevalue.empty())
      return makemultimailnode(o.attr(attr::DBKEY), o.value(), rule, rulevalue);
    return makemultinode(o.attr(attr::DBKEY), o.value());
  });
}

std::string ruletext(std::string_view rule, std::string_view rulevalue) {
  const objlist& tk = *admin().tk_obj;
  return criteria_lines(rule, rulevalue, [&](const std::string& criterion) {
    std::optional<std::string> title = getvalfromlist(tk, criterion + ".TITLE");
    return title ? *title : criterion;
  });
}

std::string alarmruletext(std::string_view rule, std::string_view rulevalue, std::string_view control) {
  std::string text;
  if (!control.empty() && control.find(':') != std::string_view::npos && control.find('G') != std::string_view::npos) {
    std::string hour = "4", minute = "0";
    splitalarmtime(control, hour, minute);
    text = "Time >:" + hour + ":" + minute + "\n";
  }
  return text + criteria_lines(rule, rulevalue, [](const std::string& criterion) { return criterion; });
}

void splitalarmtime(std::string_view control, std::string& hour, std::string& minute) {
  if (!control.starts_with('G')) return;
  size_t colon = control.find(':', 1);
  if (colon == std::string_view::npos) return;
  hour = control.substr(1, colon - 1);
  minute = control.substr(colon + 1);
}

int unlinkobject(std::string_view name) {
  objlist& tk = *admin().tk_obj;
  const kivobj* o = tk.find(name);
  return o && removeobj(tk, *o) ? 0 : -1;
}

void caret2bar(std::string& text) {
  for (char& c : text)
    if (c == '^') c = '|';
}

void bar2caret(std::string& text) {
  for (char& c : text)
    if (c == '|') c = '^';
}

}  // namespace kiv

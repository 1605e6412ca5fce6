// The record readers: one record of two rows (column names, then values) put
// back into the VALUE of the objects named like the columns. The six readers
// share one frame and differ only in which objects they touch and what VALUE
// they give them. A value read from a record is marked Origin::record.
#include "engine/upobjdb.h"

#include <functional>

#include "toolkit/base/kivcgitrace.h"
#include "toolkit/objects/kivobj.h"
#include "toolkit/objects/objprotect.h"
#include "toolkit/text/rowcol.h"

namespace kiv {

namespace {

// One column of the record as a reader sees it.
struct Column {
  const std::string& name;
  const std::string& value;  // "^^" already read as empty
  const std::string& type;   // the object's TYPE, empty when none
  const std::string& old;    // the object's VALUE, empty when none
  Origin old_origin;         // where that VALUE came from
};

// A new VALUE and where its text came from: a record's value is marked as
// the record's, so that pages escape it; a text the reader makes itself
// ("*", a menu's items behind an empty choice) is not.
struct NewValue {
  std::string text;
  Origin origin;
};

// The new VALUE for a column, or none to leave the object as it is.
using Rule = std::function<std::optional<NewValue>(const Column&)>;

bool is_menu(const Column& c) { return c.type == "MENU"; }

Origin of_value(const Column& c) { return c.value.empty() ? Origin::config : Origin::record; }

// The column's value itself.
NewValue as_read(const Column& c) { return {c.value, of_value(c)}; }

// A value cast onto a menu: the selection in front of the item list.
NewValue in_front(const Column& c) {
  if (c.old.empty()) return {c.value + std::string(kRowEnd), of_value(c)};
  return {c.value + std::string(kColSep) + c.old, origin_of_both(of_value(c), c.old_origin)};
}

NewValue db2obj_value(const Column& c) { return is_menu(c) ? in_front(c) : as_read(c); }

// Sets the VALUE of the first object of that name, creating the object at
// the tail of the list when there is none; an empty text clears the VALUE.
// The whole column name is the object name, points included.
void setvalue(objlist& list, const std::string& name, const NewValue& v) {
  if (kivobj* o = list.find(name)) {
    modattrib(*o, attr::VALUE, v.text, v.origin);
    return;
  }
  auto node = getnewobj();
  modattrib(*node, attr::NAME, name);
  modattrib(*node, attr::VALUE, v.text, v.origin);
  addobj(list, std::move(node));
}

// The frame of every reader. db2obj_message: the row-count message names the
// count, as db2obj gives it. A record from a request sets only what a
// request may set.
int readrecord(objlist& list, std::string_view record, bool db2obj_message, const Rule& rule,
               const RecordSource& from) {
  int rows = getrowcount(record);
  if (rows != 2) {
    if (db2obj_message)
      errmsg("db2obj: Bad record format rowcount=%d\n", rows);
    else
      errmsg("db2obj: Bad record format \n");
    return 1;
  }
  std::string names = getrow_or_empty(record, 1);
  std::string values = getrow_or_empty(record, 2);
  int count = getcolcount(names);
  if (count != getcolcount(values)) {
    errmsg("Error: Mismatch count  between data and \tkeys\n");
    return -1;
  }
  kivtrace("befor conversion\n");
  for (int i = 1; i <= count; ++i) {
    std::string name = getcol_or_empty(names, i);
    if (name.empty()) continue;  // an object needs a name
    if (name == kHeadName) {     // nor does the list's head take a record's value
      kivtrace("db2obj: column '%s' skipped: the name of the list's head\n", name);
      continue;
    }
    std::string value = getvaluebykey_or_empty(values, names, name);
    if (from.request && !request_may_set(name + ".VALUE", value, &list, from.group)) {
      kivtrace("db2obj: column '%s' names configuration: skipped\n", name);
      continue;
    }
    std::string type = objtext(list, name + ".TYPE");
    const objattr_text old = objattr(list, name, "VALUE");
    if (std::optional<NewValue> v = rule(Column{name, value, type, old.text, old.origin})) setvalue(list, name, *v);
  }
  return 0;
}

}  // namespace

int db2obj(objlist& list, std::string_view record, const RecordSource& from) {
  return readrecord(list, record, true, [](const Column& c) { return db2obj_value(c); }, from);
}

int vdb2obj(objlist& list, std::string_view record, const RecordSource& from) {
  return readrecord(
      list, record, false,
      [](const Column& c) { return c.value.empty() ? NewValue{"*", Origin::config} : as_read(c); }, from);
}

int defaultdb2obj(objlist& list, std::string_view record, const RecordSource& from) {
  return readrecord(list, record, false, [](const Column& c) -> std::optional<NewValue> {
    if (c.value.empty() || c.value == "\n^^" || c.value == "\r^^") return std::nullopt;
    kivtrace("default2obj key=%s val=%s", c.name, c.value);
    return as_read(c);
  }, from);
}

int readdb2obj(objlist& list, std::string_view record, const RecordSource& from) {
  return readrecord(list, record, false, [](const Column& c) { return as_read(c); }, from);
}

int catdb2obj(objlist& list, std::string_view record, const RecordSource& from) {
  return readrecord(list, record, false, [](const Column& c) -> std::optional<NewValue> {
    if (!c.old.empty()) return std::nullopt;
    return db2obj_value(c);
  }, from);
}

int catdefdb2obj(objlist& list, std::string_view record, const RecordSource& from) {
  return readrecord(list, record, false, [](const Column& c) -> std::optional<NewValue> {
    kivtrace("DEF name=%s valye=%s objtype=%s\n", c.name, c.value, c.type);
    if (!is_menu(c)) {
      if (!c.old.empty()) return std::nullopt;
      return as_read(c);
    }
    kivtrace("DEF1 name=%s valye=%s objtype=%s\n", c.name, c.value, c.type);
    kivtrace("DEF1 objval='%s'\n", c.old);
    if (!c.old.empty() && c.value.empty()) return std::nullopt;
    return in_front(c);
  }, from);
}

int db2obj(objlist& list, std::string_view record) { return db2obj(list, record, RecordSource{}); }
int vdb2obj(objlist& list, std::string_view record) { return vdb2obj(list, record, RecordSource{}); }
int defaultdb2obj(objlist& list, std::string_view record) { return defaultdb2obj(list, record, RecordSource{}); }
int readdb2obj(objlist& list, std::string_view record) { return readdb2obj(list, record, RecordSource{}); }
int catdb2obj(objlist& list, std::string_view record) { return catdb2obj(list, record, RecordSource{}); }
int catdefdb2obj(objlist& list, std::string_view record) { return catdefdb2obj(list, record, RecordSource{}); }

}  // namespace kiv

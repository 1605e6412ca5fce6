// Case numbers by picture: the items of case_num-picture, field values
// mapped to prefixes through <field>-prefix objects, the counter key made of
// them, and the date items in the C locale's words.
#include <cassert>
#include <vector>

#include "engine/title2var.h"
#include "engine/upcasenum.h"
#include "engine/upclock.h"
#include "engine/upcommon.h"
#include "platform/exit.h"
#include "toolkit/base/kivcgitrace.h"
#include "toolkit/base/kivfmt.h"
#include "toolkit/objects/kivobj.h"
#include "toolkit/text/kivtext.h"
#include "toolkit/text/rowcol.h"

namespace kiv {

namespace {

bool date_item(std::string_view item) {
  return item == "DAY" || item == "MONTH" || item == "TODAY" || item == "YEAR";
}

// One item of a picture. A date item keeps its word; a field item's text
// becomes its value or prefix, so a value that reads like a date word is
// still a value.
struct Item {
  std::string text;
  bool date = false;
};

// The items of a picture: the runs of characters that are not separator
// characters.
std::vector<Item> picture_items(std::string_view picture, std::string_view separators) {
  assert(!separators.empty());
  std::vector<Item> items;
  size_t i = 0;
  while (i < picture.size()) {
    i = picture.find_first_not_of(separators, i);
    if (i == std::string_view::npos) break;
    size_t end = picture.find_first_of(separators, i);
    if (end == std::string_view::npos) end = picture.size();
    std::string text(picture.substr(i, end - i));
    const bool date = date_item(text);
    items.push_back({std::move(text), date});
    i = end;
  }
  return items;
}

// The text a date item stands for.
std::string date_text(std::string_view item, std::time_t now) {
  if (item == "DAY") return getday(now);
  if (item == "MONTH") return getmonth(now);
  if (item == "TODAY") return getdate1(now);
  return getyear(now);
}

}  // namespace

std::string getday(std::time_t t) { return sformat("%03d", local_time(t).tm_yday + 1); }
std::string getmonth(std::time_t t) { return kMonthNames[local_time(t).tm_mon]; }
std::string getyear(std::time_t t) { return sformat("%d", local_time(t).tm_year + 1900); }
std::string getday() { return getday(engine_now()); }
std::string getmonth() { return getmonth(engine_now()); }
std::string getyear() { return getyear(engine_now()); }

std::optional<std::string> getproductprefix(std::string_view value, std::string_view field,
                                            const objlist& list) {
  const std::string object = std::string(field) + "-prefix";
  const std::string titles = objtext(list, object, "TITLE");
  if (titles.empty()) {
    errmsg("Missing %s TITLES for %s-prefix object or the whole object \n", field, field);
    return std::nullopt;
  }
  const std::string prefixes = objtext(list, object, "VALUE");
  if (prefixes.empty()) {
    errmsg("Missing %s-prefix VALUES for %s-prefix object\n", field, field);
    return std::nullopt;
  }
  std::string prefix = title2var(value, titles, prefixes).value_or(std::string());
  if (!prefix.empty()) return prefix;
  kivtrace("Inconsistent %s-prefix object \n", field);
  kivtrace("No map for '%s' in the %s-prefix object \n", value, field);
  return std::nullopt;
}

namespace {

// The counter key of a picture's items: each field item becomes its value or
// its prefix (or nothing when the prefix is missing); the key is the values
// and prefixes joined by the separator. A field without a value stays as its
// own name and adds nothing to the key.
std::string picture_key(const objlist& list, std::vector<Item>& items, const std::string& separator) {
  const bool mapping = objtext(list, "case_num-map", "VALUE") == "ON";
  std::string key;
  for (Item& item : items) {
    kivtrace("PIC ITEM=%s\n", item.text);
    if (item.date) continue;
    const std::string value = objtext(list, item.text, "VALUE");
    if (value.empty()) continue;
    std::optional<std::string> part = value;
    if (mapping) {
      part = getproductprefix(value, item.text, list);
      if (part) kivtrace("PIC ITEM PREFIX=%s\n", *part);
    }
    if (!part) {
      kivtrace("PIC ITEM VALUE=%s\n", value);
      item.text.clear();
      continue;
    }
    if (!mapping) kivtrace("PIC ITEM VALUE=%s\n", value);
    item.text = *part;
    key += item.text;
    key += separator;
  }
  if (!key.empty()) key.resize(key.size() - separator.size());
  return key;
}

// The number: the items in order, date items always followed by the
// separator, field items unless the separator begins with "?", then the
// counter's number. The separator is never empty.
std::string picture_number(const std::vector<Item>& items, const std::string& separator,
                           const std::string& number) {
  assert(!separator.empty());
  const std::time_t now = engine_now();
  std::string result;
  for (const Item& item : items) {
    if (item.date) {
      result += date_text(item.text, now);
      result += separator;
    } else if (!item.text.empty()) {
      result += item.text;
      if (separator[0] != '?') result += separator;
    }
  }
  result += number;
  return result;
}

}  // namespace

std::string casenum_manage(const objlist& list) {
  const std::string parent = objtext(list, "parent_case_num", "VALUE");
  if (!parent.empty()) {
    if (!stored_parent(list, parent)) {
      errmsg("sub_getmrnum: case number is not defined \n");
      throw Exit{0};
    }
    return sub_casenum_manage(parent);
  }

  const std::string path = casenum_path();
  kivtrace("MRFILE='%s'", path);
  const std::string separator = objtext(list, "case_num-picture", "VALUE");
  const std::string picture = objtext(list, "case_num-picture", "TITLE");
  if (separator.empty() || picture.empty()) {
    kivtrace("DO NOT USE PICTURE. BAD or no PICTURE object\n");
    std::string number = getmrnum("", path);
    kivtrace("DO NOT USE PICTURE ret=%s\n", number);
    return number;
  }
  kivtrace("SEPARATOR=%s\n", separator);
  kivtrace("PICTURE TITLES=%s\n", picture);
  std::vector<Item> items = picture_items(picture, separator);
  const std::string key = picture_key(list, items, separator);
  kivtrace("Total Prefix=%s\n", key);
  const std::string number = getmrnum(key, path);
  kivtrace("Case number using PICTURE=%s\n", number);
  std::string result = picture_number(items, separator, number);
  kivtrace("DO USE PICTURE ret=%s\n", result);
  return result;
}

}  // namespace kiv

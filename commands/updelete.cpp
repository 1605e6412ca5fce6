// The delete of cases and attachments, from the web and from a console.
// Every case goes by its row key alone: the id_num (or row-number) column
// of its row, checked for the whole selection before the first delete.
#include "commands/updelete.h"

#include <cassert>
#include <memory>
#include <optional>
#include <vector>

#include "commands/upskeleton.h"
#include "data/sql_pars.h"
#include "engine/upattachments.h"
#include "engine/upcommon_delete.h"
#include "engine/upcommon_find.h"
#include "engine/upcommon_query.h"
#include "engine/upobjdb.h"
#include "engine/uprowwalk.h"
#include "platform/input.h"
#include "platform/output.h"
#include "toolkit/base/kivcgitrace.h"
#include "toolkit/base/kivcontext.h"
#include "toolkit/base/kivfmt.h"
#include "toolkit/base/kivsettings.h"
#include "toolkit/objects/kivobj.h"
#include "toolkit/text/kivtext.h"
#include "toolkit/text/rowcol.h"

namespace kiv {

namespace {

constexpr std::string_view kNoRecords = "No records to delete. Illogical condition. Please try again";
constexpr std::string_view kNotRead = "No records read from temp file. Illogical condition. Please try again";

// One case to delete: the key object and the exact criterion of its row.
struct DeleteKey {
  std::string criterion;
  int row = 0;  // the data row, from 1
};

bool whole_number(std::string_view v) {
  if (v.empty()) return false;
  for (char c : v)
    if (c < '0' || c > '9') return false;
  return true;
}

// The value of `name` in a row of `header`: the column of that name, else
// one whose name differs only in case (the ODBC road lower-cases names).
std::string key_value(std::string_view row, std::string_view header, std::string_view name) {
  if (std::optional<std::string> v = getvaluebykey(row, header, name)) return *v;
  const int count = getcolcount(header);
  for (int i = 1; i <= count; ++i)
    if (equal_nocase(getcol_or_empty(header, i), name)) return getcol_or_empty(row, i);
  return std::string();
}

// The object that names a case's row: the row-number object when
// row_number names one, else id_num.
std::string key_object(const objlist& objs) {
  primary_func(objs);
  const std::optional<std::string>& rn = settings().row_number;
  return rn && !rn->empty() ? *rn : std::string("id_num");
}

// The key of every data row of `table` (names row first), or none after
// the message of the first row without a usable one: nothing is deleted
// then. An id_num must be a whole number, so that no row's key reads as a
// range ("5--"), a list ("1,9") or no condition at all ("").
std::optional<std::vector<DeleteKey>> row_keys(const std::string& object, std::string_view table) {
  RowWalk rows(table);
  const std::string_view header = rows.next().value_or(std::string_view());
  std::vector<DeleteKey> keys;
  int n = 0;
  for (std::optional<std::string_view> row = rows.next(); row; row = rows.next()) {
    ++n;
    const std::string v = key_value(*row, header, object);
    std::optional<std::string> criterion;
    if (object == "id_num" ? whole_number(v) : !v.empty()) criterion = literal_criterion(v);
    if (!criterion) {
      errmsg("Bad record key '%s' in row %d: nothing was deleted\n", v, n);
      return std::nullopt;
    }
    keys.push_back({std::move(*criterion), n});
  }
  return keys;
}

// Deletes one case by its key alone: the other fields are blank, so they
// are no criteria.
int delete_by_key(objlist& objs, const std::string& object, const DeleteKey& key) {
  writeblankpage(objs);
  setobjvalue(objs, object, key.criterion, Origin::record);
  return delete_(objs);
}

int web_delete(const std::vector<std::string>& words, exlist* request) {
  kivtrace("Using the web interface\n");
  objholder objs = handler_begin(words, {0, {}}, request, RequestCopy::all);
  if (!objs) objs = std::make_unique<objlist>();
  objlist& l = *objs;
  const std::string attachment = objtext(l, "delete_attachment_num.VALUE");
  if (!attachment.empty()) {
    kivtrace("Deleteing attachment");
    delete_attachment(l, attachment);
    handler_page(objs.get(), words);
    return 0;
  }
  writeblankpage(l);
  const std::optional<std::string> text = selection_rows(l, kNoRecords, kNotRead, kNoRecords);
  if (!text) return -1;
  const std::string object = key_object(l);
  const std::optional<std::vector<DeleteKey>> keys = row_keys(object, *text);
  if (!keys) return -1;
  for (const DeleteKey& k : *keys) {
    if (delete_by_key(l, object, k) != 0) {
      errmsg("Delete failed.");
      return 1;
    }
  }
  handler_page(objs.get(), words);
  return 0;
}

// The find criteria of a console delete (at least two words): the case
// number of two words, else the dbkey/value pairs after the command word,
// each an exact match. False after "Bad dbkey value pair" on standard error
// when a key lacks its value.
bool set_console_criteria(objlist& objs, const std::vector<std::string>& words) {
  assert(words.size() >= 2);
  const size_t n = words.size();
  if (n == 2) {
    setobjvalue(objs, "case_num", "==" + words[1], Origin::request);
    return true;
  }
  if (n % 2 == 0) {
    err() << "Bad dbkey value pair\n";
    return false;
  }
  for (size_t i = 1; i + 1 < n; i += 2) setobjvalue(objs, words[i], "==" + words[i + 1], Origin::request);
  return true;
}

// The console's yes to deleting `count` found cases ("y" or "Y"); any other
// answer says "Nothing deleted".
bool confirmed(size_t count) {
  out() << sformat("Found %d case(s). Do you want to continue to delete (y/n):", static_cast<int>(count));
  out().flush();
  const std::string answer = read_console_line().value_or(std::string());
  kivtrace("ANSWER='%s'\n", answer);
  if (answer == "y" || answer == "Y") return true;
  out() << "Nothing deleted\n";
  return false;
}

int console_delete(const std::vector<std::string>& words) {
  const size_t n = words.size();
  const std::string self = words.empty() ? std::string() : words[0];
  if (n < 2) {
    err() << "Wrong Usage\n" << sformat("Usage1: %s case number\n", self)
          << sformat("Usage2: %s dbkey1 value1 dbkey2 value2 ......\n", self);
    return 2;
  }
  objholder objs = handler_begin(words, {0, {}}, nullptr, RequestCopy::none);
  if (!objs) return 1;
  objlist& l = *objs;
  writeblankpage(l);
  if (!set_console_criteria(l, words)) return -1;
  const std::string found = find(l) == 0 ? objtext(l, "findresult.VALUE") : std::string();
  if (found.empty()) {
    err() << sformat("Find of case '%s' failed\n", words[1]);
    return 0;
  }
  const std::string object = key_object(l);
  const std::optional<std::vector<DeleteKey>> keys = row_keys(object, found);
  if (!keys) return -1;
  if (keys->size() > 1 && !confirmed(keys->size())) return 0;
  // The criteria of the find stay out of the deletes: a menu given one
  // holds it in place of its items, which no blank form clears. Each case
  // goes by its key over objects loaded afresh.
  objholder fresh = handler_begin(words, {0, {}}, nullptr, RequestCopy::none);
  if (!fresh) return 1;
  for (const DeleteKey& k : *keys) {
    if (delete_by_key(*fresh, object, k) != 0) {
      out() << "Delete Error \n";
      return 1;
    }
    err() << sformat("Deletion is successful for record=%d\n", k.row);
  }
  return 0;
}

}  // namespace

int up_delete(const std::vector<std::string>& words, exlist* request) {
  if (inherited_env("SERVER_NAME")) return web_delete(words, request);
  return console_delete(words);
}

}  // namespace kiv

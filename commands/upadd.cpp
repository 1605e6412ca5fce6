// The add command in its three modes: the standard add of the case a form
// describes, the plain add (-g), and the batch add of the rows of a data
// file, each row a case of its own.
#include "commands/upadd.h"

#include <memory>
#include <optional>

#include "commands/upskeleton.h"
#include "engine/upcommon_add.h"
#include "engine/upfile.h"
#include "engine/upobjdb.h"
#include "engine/upprofile.h"
#include "engine/upstamp.h"
#include "toolkit/base/kivcgitrace.h"
#include "toolkit/base/kivcontext.h"
#include "toolkit/objects/kivobj.h"
#include "toolkit/objects/objprotect.h"
#include "toolkit/text/rowcol.h"
#include "toolkit/security/security.h"

namespace kiv {

namespace {

constexpr std::string_view kSubmitError = "Submit Error: \n";

// The submitter's profile after a single add. A request that has a login
// writes only its own profile: submitted_by comes from the form, and one
// user may not rewrite another's defaults. Without a login the form's
// submitter is taken, as before logins existed.
void write_profile(const objlist& objs) {
  const std::optional<std::string> login = getuserlogin();
  const std::string submitter = objtext(objs, "submitted_by.VALUE");
  if (login && *login != submitter) {
    kivtrace("up_add: the profile of '%s' is left alone: the request is '%s'\n", submitter, *login);
    return;
  }
  adduserdefaults(objs);
}

// The whole data file of a batch: the scratch data file hidedatafile.VALUE
// names, when it names one, else the file of the command's third word. None
// after the message of the file that could not be read.
std::optional<std::string> batch_file(const objlist& objs, const std::string& word) {
  const std::string hidden = objtext(objs, "hidedatafile.VALUE");
  if (!hidden.empty()) {
    std::optional<std::string> path = hidedatafile_path(hidden);
    std::optional<std::string> text = path ? up_readfile(*path) : std::nullopt;
    if (!text)
      errmsg("upadd1:No records read from temp file. Illogical condition. Please try again");
    return text;
  }
  std::optional<std::string> text = up_readfile(word);
  if (!text) errmsg("upadd2:No records read from temp file. Illogical condition. Please try again");
  return text;
}

// The defaults of every batch row: for each non-empty name of
// bc_submit_default_keys.TITLE the value at the place of its first column
// in bc_submit_default_keys.VALUE, "TODAY" standing for today's date.
void set_batch_defaults(objlist& objs) {
  const std::string names = objtext(objs, "bc_submit_default_keys.TITLE");
  const std::string values = objtext(objs, "bc_submit_default_keys.VALUE");
  if (names.empty() || values.empty()) return;
  const int count = getcolcount(names);
  for (int j = 1; j <= count; ++j) {
    const std::string name = getcol_or_empty(names, j);
    if (name.empty()) continue;
    std::string v = getcol_or_empty(values, getindex(names, name));
    if (v == "TODAY") v = reqctx().today;
    if (!v.empty()) adduniqobj(objs, name + ".VALUE", v);
  }
}

// The values of one data row onto the objects, as a form sets them: each
// non-empty value becomes the VALUE of the object its column names (the
// value of the first column of that name), so a menu takes it as its
// choice. Protected configuration is never set from a row. False after the
// mismatch message when the row and the header differ in column count.
bool set_batch_row(objlist& objs, const std::string& header, const std::string& row, std::string_view group) {
  const int count = getcolcount(header);
  if (getcolcount(row) != count) {
    errmsg("Error: Mismatch count  between data and \tkeys\n");
    return false;
  }
  for (int k = 1; k <= count; ++k) {
    const std::string name = getcol_or_empty(header, k);
    if (name.empty()) continue;
    const std::string v = getvaluebykey_or_empty(row, header, name);
    if (v.empty()) continue;
    const std::string key = name + ".VALUE";
    if (!request_may_set(key, v, &objs, group)) {
      kivtrace("up_add: column '%s' of the data file names configuration: skipped\n", name);
      continue;
    }
    adduniqobj(objs, key, v, Origin::record);
  }
  return true;
}

int batch_add(objlist& objs, const std::vector<std::string>& words, const exlist* request) {
  const std::optional<std::string> text = batch_file(objs, words[2]);
  if (!text) return -1;
  const int rows = getrowcount(*text);
  if (rows < 2) {
    errmsg("No records to add. Illogical condition. Please try again");
    return -1;
  }
  const std::string header = getrow_or_empty(*text, 1);
  // The add asks for the header's first field alone.
  adduniqobj(objs, "enforce_fields.VALUE", getcol_or_empty(header, 1) + std::string(kRowEnd),
             Origin::record);
  const std::string group = group_object(request);
  for (int i = 2; i <= rows; ++i) {
    const std::string row = getrow_or_empty(*text, i);
    kivtrace("up_add: row %d '%s'\n", i, row);
    writeblankpage(objs);
    set_batch_defaults(objs);
    if (!set_batch_row(objs, header, row, group) || add(objs) != 0) {
      errmsg(kSubmitError);
      return 1;
    }
  }
  return handler_page(&objs, words);
}

}  // namespace

int up_add(const std::vector<std::string>& words, exlist* request) {
  objholder objs = handler_begin(words, {2, "Wrong usage: upadd templatefile\n"}, request, RequestCopy::all);
  // Without the case objects the add says which connection object it lacks.
  if (!objs) objs = std::make_unique<objlist>();
  // A value the record could not carry as typed stops the add before
  // anything is drawn or stored.
  if (check_separators(request, *objs) != 0) {
    errmsg(kSubmitError);
    return 1;
  }
  // A third word is only read when it is there.
  const bool three = words.size() == 3;
  if (three && words[2] != "-g") return batch_add(*objs, words, request);
  const int r = three ? gadd(*objs) : add(*objs);
  if (r != 0) {
    errmsg(kSubmitError);
    return 1;
  }
  write_profile(*objs);
  return handler_page(objs.get(), words);
}

}  // namespace kiv

// What the editors of the administration share: the submitted form's values
// (admin_obj), values put back into the form for the page, the stop of an
// operation that finds a required value missing, and the columns of a row
// read in one pass.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "admin/upadmin.h"
#include "platform/exit.h"
#include "toolkit/kivcgitrace.h"
#include "toolkit/kivhtml_rows.h"
#include "toolkit/rowcol.h"

namespace kiv {

// A value of the submitted form: admin_obj's attribute for the key ("" when
// absent), and where its text came from.
struct formtext {
  std::string text;
  Origin origin = Origin::config;
  bool empty() const { return text.empty(); }
};

inline formtext formval(std::string_view key) {
  std::optional<attrview> a = getattrfromlist(admin().admin_obj.get(), key);
  if (!a) return {};
  return {std::string(a->text), a->origin};
}

// Puts a value into the form for the page (an empty text clears it).
inline void setform(std::string_view key, std::string_view text, Origin origin = Origin::config) {
  adduniqobj(admin().admin_obj.get(), key, text, origin);
}

// The stop of an operation: its message through errmsg, then the end of the
// process with status 0, before anything is saved.
template <class... A>
[[noreturn]] void refuse(std::string_view format, const A&... a) {
  errmsg(format, a...);
  throw Exit{0};
}

// A form value that must be there; refuse(missing) when it is empty.
inline formtext required(std::string_view key, std::string_view missing) {
  formtext v = formval(key);
  if (v.empty()) refuse(missing);
  return v;
}

// The columns of one row as getcol gives them (views into it, "^^" empty),
// in one pass; none for a text that is not a row (getcolcount 0).
inline std::vector<std::string_view> columns_of(std::string_view row) {
  if (getcolcount(row) <= 0) return {};
  return row_columns(row);
}

}  // namespace kiv

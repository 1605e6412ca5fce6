// What the editors of the administration share: the submitted form's values
// (admin_obj), values put back into the form for the page, the stop of an
// operation that finds a required value missing, the values an object file
// can keep, the objects that hold passwords, and the columns of a row read
// in one pass.
#pragma once

#include <algorithm>
#include <array>
#include <cassert>
#include <string>
#include <string_view>
#include <vector>

#include "admin/upadmin_state.h"
#include "platform/exit.h"
#include "toolkit/base/kivcgitrace.h"
#include "toolkit/pages/kivhtml_rows.h"
#include "toolkit/text/rowcol.h"

namespace kiv {

// A value of the submitted form: admin_obj's attribute for the key ("" when
// absent), and where its text came from.
struct formtext {
  std::string text;
  Origin origin = Origin::config;
  bool empty() const { return text.empty(); }
};

inline formtext formval(std::string_view key) {
  assert(admin().admin_obj);  // up_admin loads the form before any editor runs
  std::optional<attrview> a = getattrfromlist(*admin().admin_obj, key);
  if (!a) return {};
  return {std::string(a->text), a->origin};
}

// Puts a value into the form for the page (an empty text clears it).
inline void setform(std::string_view key, std::string_view text, Origin origin = Origin::config) {
  assert(admin().admin_obj);
  adduniqobj(*admin().admin_obj, key, text, origin);
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

// The objects whose VALUE is a password. No page is given their values (a
// form shows their box empty), and a form that leaves the box empty keeps
// the stored password.
inline constexpr std::array<std::string_view, 3> kPasswordObjects = {"odbc_pass", "tkemaild_pop_password",
                                                                     "mail_sender_password"};
inline bool is_password_object(std::string_view name) {
  return std::find(kPasswordObjects.begin(), kPasswordObjects.end(), name) != kPasswordObjects.end();
}

// An object file keeps a value on one line: a form value holding a carriage
// return or a line feed is refused before anything changes, "Error: %s
// can't hold a line break\n" naming `what` (an attribute word or an object
// name).
inline void refuse_line_break(const formtext& v, std::string_view what) {
  if (v.text.find_first_of("\r\n") != std::string::npos) refuse("Error: %s can't hold a line break\n", what);
}

// The value as the object-file reader gives it back (white space cut at the
// ends, runs of blanks folded), so that what is stored, and shown after the
// save, is what the file holds.
inline formtext as_stored(formtext v) {
  trimspace(v.text);
  return v;
}

// The columns of one row as getcol gives them (views into it, "^^" empty),
// in one pass; none for a text that is not a row (getcolcount 0).
inline std::vector<std::string_view> columns_of(std::string_view row) {
  if (getcolcount(row) <= 0) return {};
  return row_columns(row);
}

}  // namespace kiv

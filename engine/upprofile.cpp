// Reading and writing profile files, and the profile refresh after an add.
// A profile file holds exactly two rows of row/column text; anything else
// reads as no profile. Writes replace the file atomically.
#include "engine/upprofile.h"

#include <cerrno>

#include "engine/upobjdb.h"
#include "platform/flavour.h"
#include "toolkit/base/kivcontext.h"
#include "toolkit/base/kivcgitrace.h"
#include "toolkit/base/kivio.h"
#include "toolkit/base/kivpath.h"
#include "toolkit/base/kivsettings.h"
#include "toolkit/text/rowcol.h"
#include "toolkit/security/security.h"

namespace kiv {

namespace {

// "<home>/users" or "<home>/staff".
std::string profile_folder(int flag) {
  return reqctx().nvhome + (flag == kStaffProfile ? "/staff" : "/users");
}

// The profile file of a login that passed invalidname; none when the path
// would not lie in its folder (invalidname already refuses every such name).
std::optional<std::string> profile_path(const std::string& login, int flag) {
  const std::string folder = profile_folder(flag);
  std::string path = folder + "/" + login;
  if (!path_under(folder, path) || path == folder) return std::nullopt;
  return path;
}

// True when the login may name a profile file; after the two messages when
// it may not.
bool valid_login(const std::string& login) {
  if (!invalidname(login)) return true;
  errmsg("Invalid Name <%s>.\n", login);
  return false;
}

}  // namespace

std::optional<std::string> getdefuser(std::string login, int flag) {
  if (login.empty()) return std::nullopt;
  trimspace(login);
  if (login.empty() || login.find(' ') != std::string::npos) return std::nullopt;
  if (!valid_login(login)) return std::nullopt;
  std::optional<std::string> path = profile_path(login, flag);
  if (!path) return std::nullopt;
  kivtrace("userfile=%s", *path);
  FilePtr f = open_file(*path, "r");
  if (!f) return std::nullopt;
  kivtrace("userfile1=%s", *path);
  std::string text, line;
  while (getline_limited(f.get(), line, std::string::npos)) {
    kivtrace("line='%s'", line);
    text += line;
  }
  if (std::ferror(f.get())) return std::nullopt;
  kivtrace("userfile2=%s", *path);
  if (getrowcount(text) != 2) return std::nullopt;
  return text;
}

int update_user(const std::string& login, std::string_view text, int flag) {
  if (login.empty()) return -1;
  if (!valid_login(login)) return -1;
  std::optional<std::string> path = profile_path(login, flag);
  if (!path) return -1;
  kivtrace("userfile=%s", *path);
  if (!write_file_atomic(*path, text)) {
    errmsg("Cannot open file <%s> errno=%d \n", *path, errno);
    return -1;
  }
  kivtrace("userfile1=%s", *path);
  if (platform() == Platform::linux) kivtrace("SET DEFAULT DATA='%s'", text);
  return 0;
}

int adduserdefaults(const objlist& list) {
  kivtrace("adduserdefaults: Updating user fields\n");
  const std::string fields = objtext(list, "user_fields.VALUE");
  if (fields.empty()) return 0;
  std::string names, values;
  const int count = getcolcount(fields);
  for (int i = 1; i <= count; ++i) {
    const std::string name = getcol_or_empty(fields, i);
    if (name.empty()) continue;
    names += name;
    names += kColSep;
    values += packetcolumn(objtext(list, name + ".VALUE"));
    values += kColSep;
  }
  // A user_fields row of empty columns makes no profile: a text without rows
  // would read back as none anyway.
  if (names.empty()) return 0;
  names.replace(names.size() - kColSep.size(), kColSep.size(), kRowEnd);
  values.replace(values.size() - kColSep.size(), kColSep.size(), kRowEnd);
  const std::string submitter = objtext(list, "submitted_by.VALUE");
  if (!submitter.empty()) update_user(submitter, names + values, kUserProfile);
  return 0;
}

}  // namespace kiv

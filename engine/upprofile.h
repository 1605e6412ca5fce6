// User and staff profiles: the default field values of one person, kept as a
// two-row record text (field names, then values) in <home>/users/<login> for
// a user and <home>/staff/<login> for a staff member. New-case forms and the
// assignment read them; the profile commands and every single add write them.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "toolkit/objects/kivobj.h"

namespace kiv {

// Which folder a profile lives in: getdefuser and update_user take it as
// their flag (0 users, 1 staff).
inline constexpr int kUserProfile = 0;
inline constexpr int kStaffProfile = 1;

// The profile text of `login` (flag kUserProfile or kStaffProfile): the
// file's lines joined as they are, line ends kept inside the text. The login
// is trimmed first (both ends, inner runs of blanks folded). None when the
// login is empty or still holds a blank; when it fails invalidname (its
// message, then "Invalid Name <%s>.\n"); when the file is missing or
// unreadable; and when the text has not exactly two row ends ("^$"). The
// last three are silent apart from the login messages.
std::optional<std::string> getdefuser(std::string login, int flag);

// Replaces the profile file of `login` whole with `text`, as it stands (no
// line end added): a temporary file beside it, synced and renamed over it, so
// a reader sees the old or the new profile and never an empty one. 0; -1 for
// an empty login, after "Invalid Name <%s>.\n" for one that fails
// invalidname, and after "Cannot open file <%s> errno=%d \n" when the file
// cannot be written (the old profile then stays as it was).
int update_user(const std::string& login, std::string_view text, int flag);

// Writes the submitter's user profile from the record on the form: the
// fields user_fields.VALUE names (a row), in its order, with their VALUEs as
// a packet would carry them ("^^" for an empty value or one that still
// holds a menu's item list), as the profile of submitted_by.VALUE. Nothing
// is written without user_fields, without a submitter, or when user_fields
// names no field. Always 0: a failed write has shown its message.
int adduserdefaults(const objlist& list);

}  // namespace kiv

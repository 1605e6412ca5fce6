// The default profile commands: profiles laid over the case form, a
// person's own profile shown for editing, and a form saved as a profile.
#include "commands/updf.h"

#include <memory>
#include <optional>

#include "commands/upskeleton.h"
#include "engine/upobjdb.h"
#include "engine/upprofile.h"
#include "engine/upstamp.h"
#include "toolkit/base/kivcgitrace.h"
#include "toolkit/objects/kivobj.h"
#include "toolkit/text/rowcol.h"
#include "toolkit/security/security.h"

namespace kiv {

namespace {

constexpr std::string_view kDfUsage = "Wrong usage: up_df templatefile flags\n";
constexpr std::string_view kProfileUsage = "Wrong usage: up_df templatefile\n";

std::string login_or_empty() { return getuserlogin().value_or(std::string()); }

// The flag of a command line: its third word, empty without one.
std::string flag_of(const std::vector<std::string>& words) { return words.size() > 2 ? words[2] : std::string(); }

// The profile of a login of that kind when it has one with text; none
// otherwise (a missing or unreadable file, an invalid name).
std::optional<std::string> profile_of(const std::string& login, int kind) {
  if (login.empty()) return std::nullopt;
  std::optional<std::string> text = getdefuser(login, kind);
  if (!text || text->empty()) return std::nullopt;
  return text;
}

// A value onto a field as a cast puts it: a menu's items stay behind it
// (value "^@" items, or value "^$" for a menu without items), any other
// field takes it as its VALUE. A field no object bears gets an object.
void cast_field(objlist& objs, const std::string& name, const std::string& value) {
  if (kivobj* field = objs.find(name)) {
    castattrib(*field, attr::VALUE, value, Origin::record);
    return;
  }
  adduniqobj(objs, name + ".VALUE", value, Origin::record);
}

// The profile without the columns to which `taken` gives a value: the
// fields another profile has filled already.
std::string without_filled(const std::string& profile, const std::string& taken) {
  const std::string names = getrow_or_empty(profile, 1);
  const std::string values = getrow_or_empty(profile, 2);
  const std::string taken_names = getrow_or_empty(taken, 1);
  const std::string taken_values = getrow_or_empty(taken, 2);
  std::string keys, data;
  const int count = getcolcount(names);
  for (int i = 1; i <= count; ++i) {
    const std::string name = getcol_or_empty(names, i);
    if (!getvaluebykey_or_empty(taken_values, taken_names, name).empty()) continue;
    const std::string value = getcol_or_empty(values, i);
    if (!keys.empty()) {
      keys += kColSep;
      data += kColSep;
    }
    keys += name.empty() ? kEmptyCol : std::string_view(name);
    data += value.empty() ? kEmptyCol : std::string_view(value);
  }
  if (keys.empty()) return {};
  return keys + std::string(kRowEnd) + data + std::string(kRowEnd);
}

// The submitter's and the assignee's profiles, named by the request alone:
// nothing else of the request reaches the objects. Of each name the last
// non-empty variable counts; with none, no profile of that kind is read.
// The staff member's profile fills only the fields still empty, and never
// a field the user's profile filled (a menu, which always holds its items,
// would otherwise take the staff member's choice in front).
void submitter_and_assignee(objlist& objs, const exlist* request) {
  std::string user, staff;
  if (request) {
    for (const exdata& node : request->nodes) {
      if (node.name == "nv_remote_user") {
        setobjvalue(objs, "nv_remote_user", node.value, Origin::request);
      } else if (node.name == "submitted_by.VALUE" && !node.value.empty()) {
        user = node.value;
      } else if (node.name == "assigned_to.VALUE" && !node.value.empty()) {
        staff = node.value;
      }
    }
  }
  kivtrace("up_df: user='%s' staff='%s'\n", user, staff);
  const std::optional<std::string> user_profile = profile_of(user, kUserProfile);
  if (user_profile) db2obj(objs, *user_profile);
  std::optional<std::string> staff_profile = profile_of(staff, kStaffProfile);
  if (staff_profile && user_profile) staff_profile = without_filled(*staff_profile, *user_profile);
  if (staff_profile && !staff_profile->empty()) catdefdb2obj(objs, *staff_profile);
}

// Each non-empty value of the profile onto the field its column names, in
// the profile's column order.
void lay_profile(objlist& objs, const std::string& profile) {
  const std::string names = getrow_or_empty(profile, 1);
  const std::string values = getrow_or_empty(profile, 2);
  const int count = getcolcount(names);
  for (int i = 1; i <= count; ++i) {
    const std::string name = getcol_or_empty(names, i);
    const std::string value = getcol_or_empty(values, i);
    if (name.empty() || value.empty()) continue;
    cast_field(objs, name, value);
  }
}

}  // namespace

int up_df(const std::vector<std::string>& words, exlist* request) {
  const std::string flag = flag_of(words);
  const bool copied = flag == "-us" || flag == "-as";
  objholder objs = handler_begin(words, {3, kDfUsage}, request, copied ? RequestCopy::all : RequestCopy::none);
  if (!objs) return 1;
  objlist& l = *objs;
  kivtrace("up_df: flag='%s'\n", flag);
  if (flag == "-ss") {
    submitter_and_assignee(l, request);
  } else if (flag == "-us") {
    if (std::optional<std::string> p = profile_of(login_or_empty(), kUserProfile)) db2obj(l, *p);
  } else if (flag == "-as") {
    if (std::optional<std::string> p = profile_of(objtext(l, "assigned_to.VALUE"), kStaffProfile))
      catdefdb2obj(l, *p);
  }
  if (flag == "-ss" || copied) setobjvalue(l, "date_open", getdate1(), Origin::config);
  return handler_page(&l, words);
}

int up_getdf(const std::vector<std::string>& words, exlist* request) {
  objholder objs = handler_begin(words, {3, kProfileUsage}, request, RequestCopy::none);
  if (!objs) return 1;
  objlist& l = *objs;
  const int kind = flag_of(words) == "-s" ? kStaffProfile : kUserProfile;
  const std::string login = login_or_empty();
  if (std::optional<std::string> p = profile_of(login, kind)) {
    lay_profile(l, *p);
  } else if (!login.empty()) {
    cast_field(l, kind == kStaffProfile ? "assigned_to" : "submitted_by", login);
  }
  return handler_page(&l, words);
}

int up_sedf(const std::vector<std::string>& words, exlist* request) {
  objholder objs = handler_begin(words, {3, kProfileUsage}, request, RequestCopy::all);
  if (!objs) return 1;
  objlist& l = *objs;
  const std::string flag = flag_of(words);
  const int kind = flag == "-s" || flag == "-sf" ? kStaffProfile : kUserProfile;
  const bool for_owner = flag == "-uf" || flag == "-sf";
  const std::string login = login_or_empty();
  if (login.empty()) {
    errmsg("You are not authenticated. You can't submit/edit defaults.\n");
    return -1;
  }
  const std::string owner = objtext(l, kind == kStaffProfile ? "assigned_to.VALUE" : "submitted_by.VALUE");
  if (!for_owner && !owner.empty() && owner != login) {
    errmsg("You can't submit/edit other people defaults\n");
    return -1;
  }
  if (!objtext(l, "enforce_on_profile.VALUE").empty() && enforce(l) != 0) return -1;
  const std::unique_ptr<packet> pkt = obj2db(l);
  const std::string text = pkt->keys + pkt->data;
  if (text.empty()) {
    errmsg("Error submit/edit defaults\n");
    return -1;
  }
  const std::string& whose = for_owner ? owner : login;
  kivtrace("up_sedf: profile of '%s', kind %d\n", whose, kind);
  // A form without its owner saves nothing; a profile that could not be
  // written has said why, and no page says it was saved.
  if (!whose.empty() && update_user(whose, text, kind) != 0) return 1;
  return handler_page(&l, words);
}

}  // namespace kiv

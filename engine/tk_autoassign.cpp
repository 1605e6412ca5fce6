// Automatic assignment by rules or card files, and the workflow.
#include "engine/tk_autoassign.h"

#include <algorithm>
#include <cerrno>
#include <vector>

#include "data/mailrecords.h"
#include "engine/maillist.h"
#include "engine/upclock.h"
#include "engine/upcommon.h"
#include "engine/upobjdb.h"
#include "engine/upprofile.h"
#include "toolkit/base/kivcontext.h"
#include "toolkit/base/kivcgitrace.h"
#include "toolkit/base/kivio.h"
#include "toolkit/base/kivlock.h"
#include "toolkit/base/kivpath.h"
#include "toolkit/base/kivsettings.h"
#include "toolkit/objects/kivobj.h"
#include "toolkit/text/rowcol.h"

namespace kiv {

namespace {

// Puts the assignee on the case: `who` (cut to its first login in the
// three-table model when `cut`) into showassignedlist and assigned_to; a
// single login's staff profile onto the objects; with `status`, a non-empty
// assigned_state (perhaps from that profile) into status.
void assign(objlist& list, std::string who, bool cut, bool status) {
  if (cut && settings().threetablemodel) {
    size_t blank = who.find(' ');
    if (blank != std::string::npos) {
      who.resize(blank);
      kivtrace("staff has been trancuated to one staff in the three table model staff=%s", who);
    }
  }
  setobjvalue(list, "showassignedlist", who, Origin::record);
  setobjvalue(list, "assigned_to", who, Origin::record);
  trimspace(who);
  if (who.find(' ') == std::string::npos) {
    std::optional<std::string> profile = getdefuser(who, kStaffProfile);
    if (profile && !profile->empty()) defaultdb2obj(list, *profile);
  }
  if (!status) return;
  std::string state = objtext(list, "assigned_state.VALUE");
  if (!state.empty()) setobjvalue(list, "status", state, Origin::record);
}

// The words of a card file, the index of the marked one (the last with a
// "*"; -1 for none) and the words without their marks.
struct Cards {
  std::vector<std::string> logins;
  int marked = -1;
};

// Split by hand rather than through a string stream: the streams would bring
// the C++ locale machinery into every program that carries the engine.
Cards read_cards(const std::string& text) {
  Cards c;
  constexpr const char* kBlanks = " \t\n\v\f\r";
  size_t start = text.find_first_not_of(kBlanks);
  while (start != std::string::npos) {
    const size_t end = std::min(text.find_first_of(kBlanks, start), text.size());
    const std::string word = text.substr(start, end - start);
    start = text.find_first_not_of(kBlanks, end);
    size_t stars = word.find_first_not_of('*');
    if (stars == std::string::npos) continue;  // a mark with no login
    if (stars > 0) c.marked = static_cast<int>(c.logins.size());
    c.logins.push_back(word.substr(stars));
  }
  return c;
}

std::string write_cards(const Cards& c) {
  std::string out;
  for (size_t i = 0; i < c.logins.size(); ++i) {
    if (static_cast<int>(i) == c.marked) out += '*';
    out += c.logins[i];
    out += '\n';
  }
  return out;
}

// The whole text of a file that opens for reading; none when it does not,
// or when it cannot be read.
std::optional<std::string> read_whole(const std::string& path) {
  std::string text;
  if (!read_whole_file(path, text)) return std::nullopt;
  return text;
}

// Hands out the next login of one card file, under its lock. None with
// `tried` false when the file does not open (the caller tries the next).
std::optional<std::string> take_card(const std::string& path, bool& tried) {
  tried = false;
  // Only a file that exists gets a lock file beside it.
  if (!read_whole(path)) return std::nullopt;
  FileLock lock;
  const std::string lockpath = path + ".lock";
  if (!lock.acquire(lockpath)) {
    tried = true;
    errmsg("Can't lock file <%s> errno=%d\n", lockpath, errno);
    return std::nullopt;
  }
  // Read again under the lock: another request may have moved the mark.
  std::optional<std::string> text = read_whole(path);
  if (!text) return std::nullopt;
  tried = true;
  Cards cards = read_cards(*text);
  if (cards.logins.empty()) {
    kivtrace("card_assign: no login in '%s'\n", path);
    return std::nullopt;
  }
  std::string login;
  if (cards.marked < 0) {
    login = cards.logins[0];
    cards.marked = 0;
  } else {
    login = cards.logins[static_cast<size_t>(cards.marked)];
    cards.marked = (cards.marked + 1) % static_cast<int>(cards.logins.size());
  }
  if (!write_file_atomic(path, write_cards(cards))) {
    errmsg("Cannot write file <%s> errno=%d \n", path, errno);
    return std::nullopt;
  }
  trimspace(login);
  return login;
}

}  // namespace

std::optional<std::string> card_assign(std::string_view category) {
  const std::string home = reqctx().nvhome;
  const std::string folder = home + "/client/config";
  const std::string plain = folder + "/assign";
  std::vector<std::string> files;
  if (!category.empty()) {
    std::string path = sformat("%s/client/config/assign_%s", home, category);
    if (safe_name(category) && path_under(folder, path))
      files.push_back(path);
    else
      kivtrace("card_assign: category '%s' names no assign file\n", category);
  }
  files.push_back(plain);
  for (const std::string& path : files) {
    bool tried = false;
    std::optional<std::string> login = take_card(path, tried);
    if (tried) return login;
  }
  errmsg("Cannot open assin file <%s> \n", plain);
  return std::nullopt;
}

int tk_autoassign(objlist& list) {
  kivtrace("tk_autoassign start\n");
  const std::string control = objtext(list, "autoassign_control.VALUE");
  if (control.empty()) {
    setobjvalue(list, "showassignedlist", "Auto Assignment is not defined", Origin::config);
    kivtrace("Autoassign1 is not defined");
    return -1;
  }
  const std::string staff = objtext(list, "assigned_to.VALUE");
  if (control == "ON") {
    if (!staff.empty() && !staff.starts_with("nobody")) {
      kivtrace("Autoassign is enabled. Autoassig will not execute becuase there is a staff on the ticket. "
               "staff='%s'",
               staff);
      return 0;
    }
    if (staff.starts_with("nobody")) kivtrace("Autoassign is ON and staff is nobody");
    std::string who = getmaillist(list, kAssignMode).main;
    if (!who.empty())
      assign(list, who, true, true);
    else
      setobjvalue(list, "showassignedlist", "No One", Origin::config);
    std::string shown = objtext(list, "showassignedlist.VALUE");
    if (!shown.empty())
      kivtrace("showassignedlist is ='%s'\n", shown);
    else
      kivtrace("showassignedlist is not defined\n");
    const std::time_t now = engine_now();
    setobjvalue(list, "date_assigned", getdate1(now), Origin::config);
    setobjvalue(list, "time_assigned", gettime3(now), Origin::config);
    return 0;
  }
  if (control == "CARD") {
    if (!staff.empty() && staff != "nobody") {
      kivtrace("Autoassign2 is not defined");
      return 0;
    }
    std::optional<std::string> login = card_assign(objtext(list, "category.VALUE"));
    if (!login) return 0;
    assign(list, *login, false, true);
    return 0;
  }
  setobjvalue(list, "showassignedlist", "Auto Assignment is OFF", Origin::config);
  kivtrace("autoassign is disabled");
  return -1;
}

int tk_workflow(objlist& list) {
  const std::string control = objtext(list, "workflow_control.VALUE");
  if (control.empty()) {
    kivtrace("workflow is not defined");
    return -1;
  }
  if (control != "ON") {
    kivtrace("workflow is disabled");
    return -1;
  }
  std::string who = getmaillist(list, kWorkflowMode).main;
  if (who.empty()) return 0;
  assign(list, who, true, false);
  return 0;
}

}  // namespace kiv

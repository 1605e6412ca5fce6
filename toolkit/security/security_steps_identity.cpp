// The request's identity: its user and the user's groups, and in the Linux
// flavour the state file's user id the process switches to.
#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/flavour.h"
#include "platform/output.h"
#include "toolkit/base/kivcgitrace.h"
#include "toolkit/base/kivcontext.h"
#include "toolkit/base/kivio.h"
#include "toolkit/security/security.h"
#include "toolkit/security/security_steps.h"
#include "toolkit/text/exlist.h"

namespace kiv {

namespace {

// A user id as the state file gives it: decimal digits naming a valid id.
std::optional<uid_t> decimal_id(std::string_view text) {
  if (text.empty() || text.size() > 10) return std::nullopt;
  unsigned long long v = 0;
  for (char ch : text) {
    if (ch < '0' || ch > '9') return std::nullopt;
    v = v * 10 + static_cast<unsigned>(ch - '0');
  }
  if (v >= static_cast<uid_t>(-1)) return std::nullopt;  // (uid_t)-1 is no id
  return static_cast<uid_t>(v);
}

// Makes the saved uploads the user's; false when one cannot be handed over.
bool give_uploads(uid_t uid, gid_t gid) {
  for (const std::string& path : reqctx().uploads)
    if (::lchown(path.c_str(), uid, gid) != 0) return false;
  return true;
}

// Switches to the state file's USER: 0, or the failing result (after its
// message).
int switch_to_state_user(const exlist& request) {
  std::optional<std::string> user = getstateval(&request, "USER");
  if (!user) {
    kivtrace("USER is not specified in the state file\n");
    return 0;
  }
  // Only a decimal id is one: a user name or a typo would read as id 0 and
  // leave a front program started as root running as root.
  std::optional<uid_t> id = decimal_id(*user);
  if (!id) {
    pagef("Failed to setuid to id='%d'. errno=%d\n", std::atoi(user->c_str()), EINVAL);
    return -1;
  }
  // A root process gives up root's groups first (the user's own groups, or
  // none), so that nothing of root's remains after the switch. The files it
  // saved for uploads are private to their owner: they are handed to the
  // user, whose command moves them into the case's attachments.
  if (::geteuid() == 0 && *id != 0) {
    const struct passwd* pw = ::getpwuid(*id);
    gid_t gid = pw ? pw->pw_gid : static_cast<gid_t>(*id);
    bool ok = give_uploads(*id, gid);
    ok = ok && (pw ? ::initgroups(pw->pw_name, gid) == 0 : ::setgroups(0, nullptr) == 0);
    if (!ok || ::setgid(gid) != 0) {
      pagef("Failed to setuid to id='%d'. errno=%d\n", static_cast<long long>(*id), errno);
      return -1;
    }
  }
  int r = ::setuid(*id);
  if (r != 0) pagef("Failed to setuid to id='%d'. errno=%d\n", static_cast<long long>(*id), errno);
  return r;
}

}  // namespace

int setuser(exlist& request) {
  RequestContext& c = reqctx();
  kivtrace("REMOTE USER");
  if (std::optional<std::string> u = getnodeval(&request, "nv_remote_user")) {
    kivtrace("nv_remote_user=%s", *u);
    c.remote_user = *u;
  } else {
    kivtrace("nv_remote_user IS NULL");
    c.remote_user.reset();
  }
  fixremoteuser();
  setusergrups(request);
  // Only the Linux flavour becomes the state file's user.
  if (platform() != Platform::linux) return 0;
  return switch_to_state_user(request);
}

void fixremoteuser() {
  std::optional<std::string> login = getuserlogin();
  if (!login) return;
  size_t bs = login->find('\\');
  if (bs != std::string::npos) reqctx().remote_user = login->substr(bs + 1);
}

void setusergrups(exlist& request) {
  std::optional<std::string> user = getuserlogin();
  if (!user) return;
  std::optional<std::string> group = getstateval(&request, "GROUP");
  if (!group) return;
  const std::string& states = reqctx().statefile;
  size_t slash = states.rfind('/');
  std::string file = (slash == std::string::npos ? std::string() : states.substr(0, slash + 1)) + "usergroups";
  kivtrace("groupfile=%s user=%s", file, *user);
  std::optional<std::string> groups = getusergrp(file, *user);
  if (!groups) {
    err() << "User '" << *user << "' does not exist in groups\n";
    return;
  }
  kivtrace("User '%s' belongs to group '%s'\n", *user, *groups);
  add_startup_node(request, *group + ".VALUE", *groups);
}

std::optional<std::string> getusergrp(const std::string& path, const std::string& user) {
  FilePtr f = open_file(path, "r");
  if (!f) {
    err() << "Cannot open group file " << path << "\n";
    return std::nullopt;
  }
  std::string result, line;
  // Whole lines of any length; a CR LF line end counts as a line end.
  while (getline_limited(f.get(), line, std::string::npos)) {
    if (line[0] == '#') continue;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::string_view group(line.data(), colon);
    std::string_view members = std::string_view(line).substr(colon + 1);
    for (;;) {
      size_t comma = members.find(',');
      if (members.substr(0, comma) == user) {
        result.append(group);
        result += ',';
      }
      if (comma == std::string_view::npos) break;
      members.remove_prefix(comma + 1);
    }
  }
  if (result.empty()) return std::nullopt;
  if (result.back() == ',' || result.back() == ' ') result.pop_back();
  return result;
}

}  // namespace kiv

// The security step of a request's start-up and the request's identity: the
// login, account, logout and session steps the action calls for (the
// security table), the identity a session gives, and the user and groups
// the request runs as.
#pragma once

#include <optional>
#include <string>

namespace kiv {

struct exlist;

// Why a security step refused the request (its message is shown already).
enum class StepRefusal {
  no_login,         // "Security violation\n" ...
  login_refused,    // "Security check failed\n"
  change_refused,   // "Can't change account\n"
  account_refused,  // "Can't create new account\n" / "Can't fchpass new account\n"
  logout_marker,    // "Cannot open logout file %s\n"
  session_refused,  // the three-line text of the session-key check
  session_record,   // the session record of a new key cannot be written
};

// What a security step throws when it refuses the request; the start-up
// decides how the request then ends.
struct StepRefused {
  StepRefusal why;
};

// What of the start-up the security steps depend on.
struct SecurityOptions {
  bool custom = false;           // custom security (CUSTOM_SECURITY)
  bool identity_always = false;  // an account step sets nv_remote_user even over one the list has
};

// Runs the step of the security table that the request context's action
// calls for while logins are on (tkesecflag), then takes the identity from
// the session when the step did not decide it. Throws StepRefused.
void run_security_step(exlist& request, const SecurityOptions& options);

// The request's user (REMOTE_USER) from the list's nv_remote_user, without a
// domain part, and the user's groups; in the Linux flavour then the user id
// of USER. 0, or the failing result of setuid.
int setuser(exlist& request);
// Cuts the domain part ("DOM\") off the request's user.
void fixremoteuser();
// Adds the user's groups to the list as <GROUP>.VALUE.
void setusergrups(exlist& request);
// The groups of `user` in a usergroups file, joined by commas, or none.
std::optional<std::string> getusergrp(const std::string& path, const std::string& user);

}  // namespace kiv

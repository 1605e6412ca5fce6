// The CGI start-up: the first step of every request after its home is
// known, which turns the state file and the request into the request
// variable list, and the identity and group steps it ends with.
#pragma once

#include <optional>
#include <string>

namespace kiv {

struct exlist;

// The start-up of a request: content-type header, state file, form, field
// limit, action, the security step the action calls for, user and groups.
// Returns the request variable list (also readexdata's answer), or nullptr;
// ends the process on the failures that say so. In the Linux flavour the
// state file comes from PROG_STATES (the argument is not used), no header is
// written, and the caller runs the action's command on the list (the Linux
// front program calls it without an argument).
exlist* unixcgiinit(const std::string& statefile = std::string());
// Puts DATE=<asctime of now> into the environment.
void setdateandtime();
// REMOTE_USER from the list's nv_remote_user, without a domain part, and the
// user's groups; in the Linux flavour then the user id of USER. 0, or the
// failing result of setuid.
int setuser(exlist& list);
void fixremoteuser();
void setusergrups(exlist& list);
// The groups of `user` in a usergroups file, joined by commas, or none.
std::optional<std::string> getusergrp(const std::string& path, const std::string& user);
// The text without the carriage returns that stand before a line feed.
std::string filtertwolines(std::string_view text);
// 0 when the file exists, else non-zero.
int statloginfile(const std::string& path);

}  // namespace kiv

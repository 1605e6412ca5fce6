// The CGI start-up: the first step of every request after its home is
// known, which turns the state file and the request into the request
// variable list, and runs the security and identity steps it ends with.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kiv {

struct exlist;

// The start-up of a request: content-type header, state file, form, field
// limit, action, the security step the action calls for, user and groups.
// The home is the request context's, else NVHOME as inherited. Keeps the
// action, MENUTRIG, the session key, the user and the date in the request
// context and publishes them (publish_environment) when it returns the
// request variable list (also readexdata's answer). A refusal gives nullptr
// or ends the process, as its flavour says, and removes the request's
// uploads. In the Linux flavour the state file is the request context's
// fixed_statefile, else PROG_STATES (the argument is not used), no header is
// written, and the caller runs the
// action's command on the list (the Linux front program calls it without an
// argument).
exlist* unixcgiinit(const std::string& statefile = std::string());
// The request's DATE (asctime of now, with its newline) into the context.
void setdateandtime();
// The content-type line of a page of the home `home`: "Content-type:
// text/html\n\n", with "Cache-Control: no-store\n" before its blank line
// while logins are on there (<home>/client/config/login_config exists), so
// that no page of a session is kept by the browser or a cache.
std::string_view content_type_header(const std::string& home);

}  // namespace kiv

// Logins, passwords and session keys (the login code builds on this file).
#pragma once

#include <optional>
#include <string>

namespace kiv {

// SCRIPT_NAME after its last "/", or none when it is unset or empty.
std::optional<std::string> getscript();

}  // namespace kiv

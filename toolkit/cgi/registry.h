// Registry values of the Windows programs: the home folder (NVHOME) and the
// state-file name (PROG_STATES) under HKEY_LOCAL_MACHINE\SOFTWARE\KIV\...
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kiv {

// The data of the value NVHOME of `key`, or none. Ends the process with
// status -1 when the registry refuses access.
std::optional<std::string> getregentry(std::string_view key);

// The data of the value `name` of `key`, or none; the same steps.
std::optional<std::string> getregvalue(std::string_view key, std::string_view name);

}  // namespace kiv

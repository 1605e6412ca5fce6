// The home folder of an installation: from NVHOME in the environment, else
// from the registry key of the running program, with the choice among several
// homes by a digit in the script's name.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kiv {

// The home folder. Records the registry's PROG_STATES value, when there is
// one, in the request context for the dispatcher. Ends the process with
// status 1 when no home is found.
std::string getproducthome();

// The home folder of `key` (SOFTWARE\KIV\TIKLO\Current when empty), or none.
// A home from the registry is also put into the environment as NVHOME.
std::optional<std::string> getnvhome(std::string_view key);

// Turns every backslash into a forward slash, in place.
void slashpath(std::string& text);

// One home of a ";"-separated list, chosen by the digit before the last point
// of SCRIPT_NAME (0-based); the first home when there is no digit there or
// the digit lies past the end of the list.
std::string pickhome(const std::string& list);

}  // namespace kiv

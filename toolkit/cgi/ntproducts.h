// The home folder of an installation: from NVHOME in the environment, else
// from the registry key of the running program, with the choice among several
// homes by a digit in the script's name.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kiv {

// What the lookup found: the home folder, and the state-file name that the
// registry value PROG_STATES of the program's key gives (none when it gives
// none). The caller keeps them (the dispatcher in the request context, which
// publishes the home as NVHOME).
struct producthome {
  std::string home;
  std::optional<std::string> prog_states;
};

// Looks the home folder up: NVHOME as the process inherited it, else the
// registry key of the script, else SOFTWARE\KIV\VORNA\Current. Sets
// nothing. Ends the process with status 1 when no home is found.
producthome getproducthome();

// The home folder of `key` (SOFTWARE\KIV\TIKLO\Current when empty), or none:
// NVHOME as inherited, else the registry's NVHOME value of the key with its
// backslashes turned into slashes (and one home picked from a list).
std::optional<std::string> getnvhome(std::string_view key);

// Turns every backslash into a forward slash, in place.
void slashpath(std::string& text);

// One home of a ";"-separated list, chosen by the digit before the last point
// of SCRIPT_NAME (0-based); the first home when there is no digit there or
// the digit lies past the end of the list.
std::string pickhome(const std::string& list);

}  // namespace kiv

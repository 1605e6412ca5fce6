// Helpers shared by the two bar-code station tools: the system error report
// and the reading of numbers from options and settings.
#pragma once

#include <string_view>

namespace kiv {

// Prints "%s: (%d) %s\n" on standard output with `text`, the system's error
// number of the last failed call and the system's message for it.
void printerror(std::string_view text);

// The leading integer of a text as atoi reads it: optional white space, a
// sign, digits; 0 when there is none. Values beyond int are held at its ends.
int leadingint(std::string_view text);

}  // namespace kiv

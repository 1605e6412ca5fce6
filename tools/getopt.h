// The option scanner of the bar-code station tools. It reads options as the
// POSIX scanner does, with this system's own wording of the two complaints,
// and keeps its position in a state object rather than in globals.
#pragma once

#include <string>
#include <string_view>

namespace kiv {

struct GetoptState {
  int optind = 1;      // the next word to look at
  std::string optarg;  // the argument of the option just returned
  size_t nextchar = 0; // position inside a group of letters ("-nb"), 0 at a new word
};

// The next option letter of argv, '?' for a letter not in `options` or
// without its argument (after the complaint on standard error), -1 when the
// options have ended: at the first word that is not an option ("-" alone is
// none) or after "--". A letter followed by ':' in `options` takes an
// argument, the rest of its word or else the next word.
int getopt(GetoptState& st, int argc, const char* const argv[], std::string_view options);

// The part of a program's first word after its last "/".
std::string progname(const char* argv0);

}  // namespace kiv

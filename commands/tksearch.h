// The outside search: runs the installation's search script and copies what
// it wrote into the page.
#pragma once

#include <chrono>

namespace kiv {

// How long the search script may run before it is stopped.
inline constexpr std::chrono::seconds kSearchLimit{60};

// Runs <home>/client/bin/tksearch (no shell, standard input from /dev/null,
// the environment without loader and shell-control variables) with its
// standard output going to the scratch file "<home>/tmp/search.<time>.<pid>",
// then copies that file into the page and deletes it. 0 after success; -1
// after "Can't open command %s\n" when the script cannot be started; 1 after
// a message when it failed (a status other than 0, a signal, or no end within
// the limit; its output is not shown then) or its output file cannot be made
// or read ("Cannot open tmpfile file\n").
int tksearch();

}  // namespace kiv

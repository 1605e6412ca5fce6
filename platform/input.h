// The console input seam: a line typed on standard input, for the console
// commands that ask a question. Tests put a pipe on descriptor 0.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace kiv {

// The longest answer read; the rest of a longer line is read and dropped.
inline constexpr size_t kConsoleLineMax = 4096;

// One line from descriptor `fd` (standard input by default), without its
// line end (a carriage return before it is dropped too), read byte by byte
// so that nothing past the line is taken from the input. At most
// kConsoleLineMax bytes are kept. None at the end of the input (or on a
// read error) before any byte of a line.
std::optional<std::string> read_console_line(int fd = 0);

}  // namespace kiv

// tagscanner: collects the bar codes scanned at a bar-code station, live from
// a reader on a serial port or from a file of scanned codes, sorts them into
// records by a tag scheme and writes the records as row/column text into a
// result file, with complaints about out-of-order codes in an error file.
#pragma once

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kiv {

class SerialPort;

// An entry holds at most this many characters.
inline constexpr size_t kEntryMax = 255;

// How long the port reader waits for a silent reader before it gives up:
// `waits` empty looks at the input queue `idle` apart. KIV_TAGSCANNER_IDLE_MS
// in the environment shortens the interval (for tests).
struct PortIdle {
  std::chrono::milliseconds idle{3000};
  int waits = 4;
};

// The tag scheme: the tags of -b in slot order ("" marks a free-format slot)
// and one value per slot.
struct Scheme {
  std::vector<std::string> tags;
  std::vector<std::string> slots;
};

// Where matchentries writes, and how.
struct MatchOutput {
  std::string keyrow;             // -k, written unchanged ahead of the records
  bool listing = false;           // -n: only list the entries on standard output
  std::FILE* result = nullptr;    // -a
  std::FILE* error = nullptr;     // -e
};

// Opens a file or prints "openfile() cannot open %s\n" and the system error
// on standard error and ends the process with status 3.
std::FILE* openfile(const std::string& path, const char* mode);

// The next entry of the input file: the bytes up to `sep`, a carriage return
// or a line feed (which is dropped). None at the end of the file; bytes after
// the last separator are no entry. Of a longer entry the first kEntryMax + 1
// characters are kept, so that it shows as too long.
std::optional<std::string> readentry(std::FILE* file, char sep);

// Opens and sets up the reader's port; on failure prints "Failed to open
// port" with the system error and ends the process with status -1.
SerialPort openport(const std::string& device);

// The next entry from the port, or none when the reader has fallen silent:
// the input queue stayed empty through `idle.waits` waits in a row. A code
// that was half received then is dropped; a failed read ends the entry.
std::optional<std::string> readportentry(SerialPort& port, char sep, const PortIdle& idle);

// The tags of a tag row and one empty value slot per tag.
Scheme splitscheme(std::string_view tagrow);

// The index of the first non-empty tag that the entry begins with, or -1.
int findtag(std::string_view entry, const std::vector<std::string>& tags);

// Writes one record: the values joined by "^@", an empty one as "^^", the row
// ended by "^$"; then flushes.
void writerecord(const std::vector<std::string>& slots, std::FILE* result);

// Lists the entries, or writes the key row and sorts the entries into
// records (see tagscanner.cpp). Ends the process with status -1 when the
// first entry does not begin with the first tag.
void matchentries(const std::vector<std::string>& entries, Scheme& scheme, const MatchOutput& out);

// The program: gives the exit status, 3 also when a write to the save,
// result or error file failed.
int tagscanner_main(int argc, const char* const argv[]);

}  // namespace kiv

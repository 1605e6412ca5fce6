// The request variable list's files: the state-file reader, the NAME=VALUE
// file writer and the trace of the list. The list itself is in
// toolkit/text/exlist.h.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "toolkit/text/exlist.h"

namespace kiv {

// Traces every node; -1 for no list, else 0.
int printexdata(const exlist* list);

// The request variable list of a command (the start-up's list).
exlist* readexdata();

// Reads the state-file lines of an open file, from where it stands to its
// end, into a list: the file is read at once and split as addmacro(text)
// does. A read error ends the lines where it happened.
exlist addmacro(std::FILE* file);

// The state-file lines of a whole text into a list. Lines are taken as
// getmacroline takes them (a line longer than 10,239 bytes in pieces, each
// piece a line of its own); a line that does not begin with "#" or white
// space, holds "=" and ends with a line feed gives a node: the name before
// the first "=", the value up to the line end, each cut at a NUL and
// trimmed (trimspace); a line without a name gives none. The first node goes
// in as it stands, the others by the add rule (addexdatanode), all marked as
// the state file's. "KIVDEBUG" with a value that reads as 1 turns the trace
// on.
exlist addmacro(std::string_view text);

// The next line (10,240-byte limit) that does not begin with "#" or white
// space, or none at end of file.
std::optional<std::string> getmacroline(std::FILE* file);

// The list of a NAME=VALUE file, or none (with a message) when it cannot be
// opened.
std::optional<exlist> file2ex(const std::string& path);

// Writes the list as NAME=VALUE lines (a new file renamed over the old one);
// 0, or -1 after its message: no list, a node that cannot be written (each
// is named by exnode2line, and the file is left as it was), a file that
// cannot be written.
int ex2file(const exlist* list, const std::string& path);

// The line of one node into `buffer`; 0, or 1 for a node that cannot be
// written.
int exnode2line(const exdata& node, std::string& buffer);

}  // namespace kiv

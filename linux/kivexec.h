// The request variable stream: how the Linux start-up hands the request
// variable list to the command program it starts. Every node goes as a
// 20-byte head (lengths at offsets 8 and 12, 32-bit little-endian, each the
// text's length + 1, 0 or less for no text) followed by the name and the
// value with their NULs; the end of the stream ends the list. The head's
// first word tells where the node came from; readers of the bare format
// ignore it.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "toolkit/request/kivcgiform.h"
#include "toolkit/request/kivexfile.h"

namespace kiv::kivexec {

inline constexpr size_t kHeadSize = 20;

// Where a node came from, as the head's first word carries it. A reader
// takes any other word as a request value.
enum class StreamSource : int32_t {
  request = 0,    // a form entry: what a request may set is checked again
  statefile = 1,  // the state file's value: configuration
  startup = 2,    // set by the start-up (the login, the user's groups)
};

// A text longer than the intake takes (kMaxContentLength) cannot be a
// request variable: a head announcing more ends the list there.
inline constexpr long long kMaxStreamText = kMaxContentLength + 1;

// Process-wide state of the stream. One instance; tests reset it
// (registered with the state resets).
struct ExecState {
  // A descriptor writeexdata writes the records to and closes (-1: none).
  // The front itself hands the records to the process layer, whose loop
  // holds both ends of the command's pipes.
  int kivwritefd = -1;
  // The one child the front started, for sigchild (-1: none known).
  pid_t child = -1;
  // The list readexdata read from descriptor 0, once per process.
  exlist list;
  bool read = false;
};

ExecState& execstate();

// ---- the records ----

// The node records of the list, in list order. A node's source word: 2 for
// what the start-up set (nv_remote_user, the group object of GROUP), 1 for a
// state-file value, 0 for a form value. A state-file name whose value a form
// replaced goes as two records, the state file's value (1) and right behind
// it the form's (0), so that the command, like `up`, decides with its own
// objects whether the form may set it and otherwise still has the state
// file's value. No list: no bytes.
std::string exdatarecords(const exlist* list);

// One node's record with the given source word (a bare writer passes 0).
std::string exdatarecord(std::string_view name, std::string_view value, int32_t word);

// The records of one node sent as coming from `source`: its record, or for
// a state-file node whose value a form replaced the state file's record and
// right behind it the form's, which the reader joins again.
std::string noderecords(const exdata& node, StreamSource source);

// Writes the records of the list to kivwritefd (commandwritebuf) and closes
// it; the result of the close (-1 when there was no descriptor). A short
// write is not reported: the reader then sees a shorter stream.
int writeexdata(const exlist* list);

// The next node read from `fd`, with its source, or none at the end of the
// stream. A head that stops short, a text that stops short and a length
// above kMaxStreamText all give none (the partial node is dropped). Texts
// grow only as their bytes arrive; a negative length means no bytes. The
// node is taken as received: no add rule and no decoding of "&#" codes.
std::optional<exdata> getexdatanode(int fd = 0);

// The request variable list of a command program, read from descriptor 0
// on the first call and kept (also as the request context's list, which the
// toolkit's readexdata() answers). Nullptr for an empty stream.
exlist* readexdata();

// Reads the list from `fd` into `list` until the stream ends; the number of
// records read. Nodes are linked as received, with one exception: a form
// record right behind the state-file record of the same name joins it, as
// the form's value over that state-file entry (the node then holds both, as
// the front's list did).
size_t readexdata_from(int fd, exlist& list);

// ---- buffered reads and writes on the pipes ----

// Writes all of `bytes`, repeating interrupted and partial writes; stops at
// a write that gives 0 or fails otherwise (EPIPE: the reader has gone). The
// number of bytes written.
size_t commandwritebuf(int fd, std::string_view bytes);

// Reads until `buffer` is full, repeating interrupted reads; stops at the
// end of the input or an error. The buffer is zeroed first. The number of
// bytes read.
size_t commandreadbuf(int fd, std::span<char> buffer);

}  // namespace kiv::kivexec

// The request variable stream (see kivexec.h): the writer of the node
// records, the reader that rebuilds the list in the command program, and the
// whole-buffer reads and writes on the pipes.
#include "linux/kivexec.h"

#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cstring>

#include "platform/state.h"
#include "toolkit/base/kivcontext.h"
#include "toolkit/objects/objprotect.h"

namespace kiv::kivexec {

namespace {

// A text's bytes are read in pieces of at most this much, so that memory
// grows with what has arrived, not with what a head announces.
constexpr size_t kReadPiece = 64 * 1024;

void reset_execstate() { execstate() = ExecState{}; }

void put_word(std::string& out, int32_t v) {
  const auto u = static_cast<uint32_t>(v);
  for (int shift = 0; shift < 32; shift += 8) out += static_cast<char>((u >> shift) & 0xff);
}

int32_t get_word(const char* p) {
  uint32_t u = 0;
  for (int i = 3; i >= 0; --i) u = (u << 8) | static_cast<unsigned char>(p[i]);
  return static_cast<int32_t>(u);
}

// Length + 1 of a text, 0 for none. A text longer than a 32-bit length can
// say is cut there (the intake's cap keeps texts far below it).
int32_t length_word(std::string_view text) {
  if (text.empty()) return 0;
  return static_cast<int32_t>(std::min<size_t>(text.size(), INT32_MAX - 1) + 1);
}

void put_text(std::string& out, std::string_view text) {
  const int32_t len = length_word(text);
  if (len <= 0) return;
  out.append(text.substr(0, static_cast<size_t>(len - 1)));
  out += '\0';
}

// Where a node of the front's list comes from, as the stream says it.
StreamSource source_word(const exdata& n, const std::string& group) {
  // Only the start-up sets these: the form's entries of the same names are
  // dropped at intake.
  if (n.source == ExSource::startup || n.name == "nv_remote_user" || (!group.empty() && n.name == group + ".VALUE"))
    return StreamSource::startup;
  return n.in_state ? StreamSource::statefile : StreamSource::request;
}

// A form record that joins the node before it: the form's value over the
// state-file entry of the same name that record carried alone.
bool joins(const exdata& last, const exdata& next) {
  return next.source == ExSource::form && !next.name.empty() && last.source == ExSource::statefile &&
         last.name == next.name && last.value == last.state_value;
}

ExSource source_of(int32_t word) {
  switch (word) {
    case static_cast<int32_t>(StreamSource::statefile): return ExSource::statefile;
    case static_cast<int32_t>(StreamSource::startup): return ExSource::startup;
    default: return ExSource::form;
  }
}

// Reads a text of `len` bytes (len > 0) into `text`, growing it piece by
// piece. False when the stream ends first.
bool read_text(int fd, int32_t len, std::string& text) {
  const auto want = static_cast<size_t>(len);
  text.clear();
  while (text.size() < want) {
    const size_t have = text.size();
    const size_t piece = std::min(kReadPiece, want - have);
    text.resize(have + piece);
    const size_t got = commandreadbuf(fd, std::span<char>(text.data() + have, piece));
    if (got < piece) return false;
  }
  return true;
}

}  // namespace

ExecState& execstate() {
  static ExecState state;
  KIV_REGISTER_RESET(&reset_execstate);
  return state;
}

std::string exdatarecord(std::string_view name, std::string_view value, int32_t word) {
  std::string r;
  r.reserve(kHeadSize + name.size() + value.size() + 2);
  put_word(r, word);
  put_word(r, 0);
  put_word(r, length_word(name));
  put_word(r, length_word(value));
  put_word(r, 0);
  assert(r.size() == kHeadSize);
  put_text(r, name);
  put_text(r, value);
  return r;
}

std::string noderecords(const exdata& node, StreamSource source) {
  if (source != StreamSource::statefile || node.value == node.state_value)
    return exdatarecord(node.name, node.value, static_cast<int32_t>(source));
  return exdatarecord(node.name, node.state_value, static_cast<int32_t>(StreamSource::statefile)) +
         exdatarecord(node.name, node.value, static_cast<int32_t>(StreamSource::request));
}

std::string exdatarecords(const exlist* list) {
  std::string out;
  if (!list) return out;
  const std::string group = group_object(list);
  for (const exdata& n : list->nodes) out += noderecords(n, source_word(n, group));
  return out;
}

int writeexdata(const exlist* list) {
  ExecState& st = execstate();
  if (st.kivwritefd < 0) return -1;
  commandwritebuf(st.kivwritefd, exdatarecords(list));
  const int r = ::close(st.kivwritefd);
  st.kivwritefd = -1;
  return r;
}

std::optional<exdata> getexdatanode(int fd) {
  char head[kHeadSize];
  if (commandreadbuf(fd, head) < kHeadSize) return std::nullopt;
  const int32_t word = get_word(head);
  const int32_t namelen = get_word(head + 8);
  const int32_t valuelen = get_word(head + 12);
  if (namelen > kMaxStreamText || valuelen > kMaxStreamText) return std::nullopt;
  std::string name, value;
  if (namelen > 0 && !read_text(fd, namelen, name)) return std::nullopt;
  if (valuelen > 0 && !read_text(fd, valuelen, value)) return std::nullopt;
  // formexdatanode keeps each text up to its NUL: the writer's terminator,
  // or an earlier one the bytes hold.
  return formexdatanode(name, value, source_of(word));
}

size_t readexdata_from(int fd, exlist& list) {
  size_t n = 0;
  while (std::optional<exdata> node = getexdatanode(fd)) {
    ++n;
    if (!list.nodes.empty() && joins(list.nodes.back(), *node)) {
      list.nodes.back().value = std::move(node->value);
      continue;
    }
    list.nodes.push_back(std::move(*node));
  }
  return n;
}

exlist* readexdata() {
  ExecState& st = execstate();
  if (!st.read) {
    st.read = true;
    readexdata_from(0, st.list);
    reqctx().request_vars = st.list.empty() ? nullptr : &st.list;
  }
  return st.list.empty() ? nullptr : &st.list;
}

size_t commandwritebuf(int fd, std::string_view bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  return done;
}

size_t commandreadbuf(int fd, std::span<char> buffer) {
  std::memset(buffer.data(), 0, buffer.size());
  size_t done = 0;
  while (done < buffer.size()) {
    const ssize_t n = ::read(fd, buffer.data() + done, buffer.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  return done;
}

}  // namespace kiv::kivexec

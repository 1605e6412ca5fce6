// The case-number counter: its lock, the table of word pairs read from the
// counter file, the next plain and sub-case numbers, and the whole table
// written back through a synced temporary file while the lock is held, so a
// crash or a full disk leaves the old table or the new one, never a part.
#include "engine/upcasenum.h"

#include <algorithm>
#include <climits>
#include <map>
#include <vector>

#include <unistd.h>

#include "engine/upclock.h"
#include "platform/exit.h"
#include "platform/state.h"
#include "toolkit/base/kivcontext.h"
#include "toolkit/base/kivcgitrace.h"
#include "toolkit/base/kivfmt.h"
#include "toolkit/base/kivio.h"
#include "toolkit/base/kivlock.h"
#include "toolkit/base/kivpath.h"
#include "toolkit/base/kivsettings.h"

namespace kiv {

namespace {

// The counter locks this process holds, by lock-file path, and how many
// time-based numbers it has handed out. One instance per process; a reset
// (tests) drops them all.
struct CounterLocks {
  std::map<std::string, FileLock, std::less<>> held;
  long long fallbacks = 0;
};

void reset_counterlocks();

CounterLocks& counterlocks() {
  static CounterLocks locks;
  KIV_REGISTER_RESET(&reset_counterlocks);
  return locks;
}

void reset_counterlocks() {
  counterlocks().held.clear();
  counterlocks().fallbacks = 0;
}

// Drops a lock taken by openlock when it goes out of scope, also when the
// process is being ended by kiv::Exit.
class HeldLock {
 public:
  explicit HeldLock(std::string path) : path_(std::move(path)) {}
  ~HeldLock() { closelock(path_); }
  HeldLock(const HeldLock&) = delete;
  HeldLock& operator=(const HeldLock&) = delete;

 private:
  std::string path_;
};

// One counter line. A file whose words do not pair up ends in an entry
// without a number, which is kept as it is and never counts.
struct Entry {
  std::string key;
  std::string number;
};
using Table = std::vector<Entry>;

bool blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

Table parse_table(std::string_view text) {
  Table t;
  std::vector<std::string> words;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && blank(text[i])) ++i;
    size_t start = i;
    while (i < text.size() && !blank(text[i])) ++i;
    if (i > start) words.emplace_back(text.substr(start, i - start));
  }
  for (size_t w = 0; w < words.size(); w += 2)
    t.push_back({words[w], w + 1 < words.size() ? words[w + 1] : std::string()});
  return t;
}

// The table as the file holds it. A word without its pair is written after
// every whole line: a line appended behind it would otherwise be read back
// shifted by one word, its key taken as the odd word's number.
std::string format_table(const Table& t) {
  std::string text, odd;
  for (const Entry& e : t) {
    if (e.number.empty())
      odd += sformat("%s\n", e.key);
    else
      text += sformat("%s\t%s\n", e.key, e.number);
  }
  return text + odd;
}

// The value of a stored number as atoi reads it (white space, a sign and
// digits), held within the range of the type.
long long leading_integer(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && blank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long long v = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    const int d = text[i] - '0';
    if (v > (LLONG_MAX - d) / 10) return negative ? -LLONG_MAX : LLONG_MAX;
    v = v * 10 + d;
  }
  return negative ? -v : v;
}

// The digits of a number's text plus one, as decimal text of any length:
// "999" gives "1000". Leading zeros go, as atoi's reading drops them.
std::string increment_digits(std::string_view digits) {
  std::string d(digits.substr(std::min(digits.find_first_not_of('0'), digits.size())));
  int i = static_cast<int>(d.size()) - 1;
  for (; i >= 0 && d[i] == '9'; --i) d[i] = '0';
  if (i < 0)
    d.insert(d.begin(), '1');
  else
    ++d[i];
  return d;
}

// The stored successor of a number: its value plus one, in plain decimal.
// A number past the range of the type is counted on as text, so a counter
// never hands out one number twice.
std::string successor(std::string_view number) {
  const long long v = leading_integer(number);
  if (v != LLONG_MAX) return std::to_string(v + 1);
  size_t i = 0;
  while (i < number.size() && blank(number[i])) ++i;
  if (i < number.size() && number[i] == '+') ++i;
  size_t end = i;
  while (end < number.size() && number[end] >= '0' && number[end] <= '9') ++end;
  return increment_digits(number.substr(i, end - i));
}

bool plain_number(const Entry& e) { return !e.number.empty() && e.number.find('.') == std::string::npos; }

bool all_digits(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

// The fallback number, digits only: the current time in seconds (ten
// digits), then this process's id in seven (no process id has more), so
// that processes that fall back in the same second, as adds that all waited
// out one held lock do, get numbers of their own. From this process's second
// fallback on, the count of its fallbacks follows (a batch add draws many
// numbers in one process and one second). The fixed widths keep every
// number distinct: its length and its parts tell the time, the process and
// the count apart.
std::string time_number() {
  const long long count = ++counterlocks().fallbacks;
  std::string number =
      sformat("%010d%07d", static_cast<long long>(engine_now()), static_cast<long long>(::getpid()));
  if (count > 1) number += std::to_string(count);
  kivtrace("case number %s from the time in seconds and the process id%s\n", number,
           count > 1 ? " and a running count" : "");
  return number;
}

// The counter's own bounds on what it adds: words of at most
// kCounterWordMax characters, and at most kCounterLines lines. A line past
// them is refused (traced); lines already there stay in use.
enum class Room { ok, too_long, full };

Room room_for(const Table& t, std::string_view key, std::string_view number) {
  if (key.size() > kCounterWordMax || number.size() > kCounterWordMax) {
    kivtrace("case number file: the key '%s' or its number '%s' is longer than %d characters: no line added\n", key,
             number, static_cast<long long>(kCounterWordMax));
    return Room::too_long;
  }
  if (t.size() >= kCounterLines) {
    kivtrace("case number file: %d lines already: no line added for '%s'\n", static_cast<long long>(t.size()), key);
    return Room::full;
  }
  return Room::ok;
}

bool read_table(const std::string& path, Table& t) {
  std::string text;
  if (!read_whole_file(path, text)) return false;
  t = parse_table(text);
  return true;
}

bool write_table(const std::string& path, const Table& t) {
  // A rewrite that was killed leaves its temporary file; the next one, under
  // the same lock, clears what is old.
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  remove_stale_files(folder, name + ".tmp", kStaleFileAge);
  std::string why;
  if (write_file_atomic(path, format_table(t), &why)) return true;
  kivtrace("case number file '%s' not rewritten: %s", path, why);
  return false;
}

}  // namespace

std::string casenum_path() { return reqctx().nvhome + "/client/config/case_num"; }

std::string counter_word(std::string_view text) {
  std::string w(text);
  for (char& c : w) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u == 0x7f) c = '_';
  }
  return w;
}

int openlock(const std::string& lockpath) {
  CounterLocks& locks = counterlocks();
  if (locks.held.count(lockpath)) return -1;
  FileLock lock;
  if (!lock.acquire(lockpath, engineclock().counter_wait)) return -1;
  locks.held.emplace(lockpath, std::move(lock));
  return 0;
}

int closelock(const std::string& lockpath) {
  CounterLocks& locks = counterlocks();
  auto it = locks.held.find(lockpath);
  if (it == locks.held.end()) return -1;
  locks.held.erase(it);
  return 0;
}

std::string getmrnum(std::string_view prefix, const std::string& path) {
  const std::string lockpath = path + ".lock";
  if (openlock(lockpath) != 0) {
    kivtrace("LOCK1");
    return time_number();
  }
  HeldLock hold(lockpath);
  Table t;
  if (!read_table(path, t)) {
    errmsg("Cannot open case number file <%s> \n", path);
    return time_number();
  }
  const bool use_default = prefix.empty() || prefix == " ";
  const std::string key = use_default ? std::string("DEFAULT") : counter_word(prefix);
  std::optional<std::string> number;
  for (Entry& e : t) {
    if (e.key != key || !plain_number(e)) continue;
    number = e.number;
    e.number = successor(e.number);
  }
  if (!number) {
    if (use_default || room_for(t, key, "2") != Room::ok) return time_number();
    t.push_back({key, "2"});
    number = "1";
  }
  if (!write_table(path, t)) {
    errmsg("Cannot open case number file <%s> \n", path);
    return time_number();
  }
  return *number;
}

std::string sub_getmrnum(std::string_view parent, const std::string& path) {
  const std::string lockpath = path + ".lock";
  if (openlock(lockpath) != 0) {
    errmsg("sub_getmrnum: can't lock casenum file \n");
    throw Exit{0};
  }
  HeldLock hold(lockpath);
  if (parent.empty()) {
    errmsg("sub_getmrnum: case number is not defined \n");
    throw Exit{0};
  }
  Table t;
  if (!read_table(path, t)) {
    errmsg("sub_getmrnum:Cannot open case number file <%s> \n", path);
    throw Exit{0};
  }
  const std::string key = counter_word(parent);
  std::optional<std::string> number;
  for (Entry& e : t) {
    const size_t point = e.number.rfind('.');
    if (e.key != key || point == std::string::npos) continue;
    const std::string running = e.number.substr(point + 1);
    if (!all_digits(running)) {
      errmsg("sub_getmrnum: case number is not formated as x.x \n");
      throw Exit{0};
    }
    number = std::string(parent) + "." + running;
    e.number = e.number.substr(0, point) + "." + successor(running);
  }
  if (!number) {
    switch (room_for(t, key, key + ".2")) {
      case Room::ok:
        break;
      case Room::too_long:  // no case number the counter could have made
        errmsg("sub_getmrnum: case number is not defined \n");
        throw Exit{0};
      case Room::full:
        errmsg("sub_getmrnum:Cannot open case number file <%s> \n", path);
        throw Exit{0};
    }
    t.push_back({key, key + ".2"});
    number = std::string(parent) + ".1";
  }
  if (!write_table(path, t)) {
    errmsg("sub_getmrnum:Cannot open case number file <%s> \n", path);
    throw Exit{0};
  }
  return *number;
}

std::string sub_casenum_manage(std::string_view parent) {
  const std::string path = casenum_path();
  kivtrace("SUB_CASE_MANAGE MRFILE='%s'", path);
  std::string number = sub_getmrnum(parent, path);
  kivtrace("SUB_CASE_MANAGE  ret=%s\n", number);
  return number;
}

}  // namespace kiv

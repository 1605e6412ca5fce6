// tagscanner (see tagscanner.h): reading entries from a file or a port,
// matching them against the tag scheme, the result, error and save files,
// and the command line.
#include "tools/tagscanner.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <thread>

#include "platform/exit.h"
#include "platform/output.h"
#include "platform/serial.h"
#include "toolkit/base/kivfmt.h"
#include "toolkit/base/kivio.h"
#include "toolkit/text/rowcol.h"
#include "tools/getopt.h"
#include "tools/tagcommon.h"

namespace kiv {

namespace {

bool ends_entry(char c, char sep) { return c == sep || c == '\r' || c == '\n'; }

// Keeps a byte of an entry; past kEntryMax + 1 bytes the entry is known to be
// too long and the rest is not kept.
void keep(std::string& entry, char c) {
  if (entry.size() <= kEntryMax) entry += c;
}

void put(std::FILE* f, std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), f);
  std::fflush(f);
}

// Why an entry cannot go into a record: row/column text has no escape for its
// markers, and an entry holds at most kEntryMax characters. None when it can.
std::optional<std::string> refusal(const std::string& entry, size_t number) {
  for (std::string_view marker : {kColSep, kRowEnd, kEmptyCol})
    if (entry.find(marker) != std::string::npos)
      return sformat("\nInput barcode error (entry #%d): refusing `%s' holding a row/column marker\n",
                     number, entry);
  if (entry.size() > kEntryMax)
    return sformat("\nInput barcode error (entry #%d): refusing an entry longer than %d characters `%s...'\n",
                   number, kEntryMax, entry.substr(0, kEntryMax));
  return std::nullopt;
}

// The record being filled and the search window over the slots. Slot values
// stay from one record to the next until they are overwritten or blanked, so
// a record may repeat the leading values of the record before. A record is
// written once: `pending` says whether anything was stored since the last row.
class Matcher {
 public:
  Matcher(Scheme& scheme, const MatchOutput& out)
      : s_(scheme), out_(out), n_(static_cast<int>(scheme.tags.size())) {}

  // Sorts entry `number` (from 1) into the record; `final` for the last
  // entry that is sorted.
  void take(size_t number, const std::string& entry, bool final) {
    int t = findtag(entry, s_.tags);
    bool stored = t < 0 ? take_free(number, entry) : take_tagged(number, entry);
    if (!stored && final) complete();
    if (stored && last_ == n_ - 1) {
      writerecord(s_.slots, out_.result);
      pending_ = false;
      wstart_ = 0;
    }
    if (final) complete();
  }

 private:
  bool is_free(int slot) const { return s_.tags[static_cast<size_t>(slot)].empty(); }

  void store(int slot, const std::string& entry) {
    s_.slots[static_cast<size_t>(slot)] = entry;
    last_ = slot;
    wstart_ = slot - 1;
    pending_ = true;
  }

  // Ends the record in hand: the slots after the last filled one are blanked
  // and the row is written, unless it has been written already.
  void complete() {
    for (int i = last_ + 1; i < n_; ++i) s_.slots[static_cast<size_t>(i)].clear();
    if (pending_) writerecord(s_.slots, out_.result);
    pending_ = false;
  }

  // A code that matches no tag fills the free-format slot that follows the
  // last filled one (slot 0 after a complete record).
  bool take_free(size_t number, const std::string& entry) {
    int f = last_ == n_ - 1 ? 0 : last_ + 1;
    if (is_free(f)) {
      if (f <= last_) complete();
      store(f, entry);
      return true;
    }
    if (wstart_ == 0)
      put(out_.error, sformat("\nInput barcode error (entry #%d): ignoring extra free format tag `%s'\n",
                              number, entry));
    else
      jumping(number, entry);
    return false;
  }

  // A tagged code goes into the first slot of the window, at most three slots
  // from its start, whose tag it begins with. Free-format slots ahead of the
  // record that the window passes are blanked, and the window moves on
  // behind them. A slot at or before the last filled one starts a new record.
  bool take_tagged(size_t number, const std::string& entry) {
    std::vector<int> blanked;
    int last = last_;
    int wstart = wstart_;
    for (bool moved = true; moved;) {
      moved = false;
      for (int i = std::max(wstart, 0); i <= wstart + 2 && i < n_; ++i) {
        if (is_free(i)) {
          if (i <= last) continue;
          blanked.push_back(i);
          last = i;
          wstart = i - 1;
          moved = true;
          break;
        }
        if (!entry.starts_with(s_.tags[static_cast<size_t>(i)])) continue;
        if (i <= last_) complete();
        for (int b : blanked) s_.slots[static_cast<size_t>(b)].clear();
        store(i, entry);
        return true;
      }
    }
    jumping(number, entry);
    return false;
  }

  void jumping(size_t number, const std::string& entry) {
    put(out_.error,
        sformat("\nJumping consecutive barcode tag detected (entry #%d): %s\n", number, entry));
  }

  Scheme& s_;
  const MatchOutput& out_;
  int n_;
  int last_ = -1;
  int wstart_ = 0;
  bool pending_ = false;
};

void usage(const char* argv0) {
  err() << sformat(
      "Usage: %s -b barcode_index_str -k dbkey_str [-t time] [-r rec_sep] [-n] [-o outfile] "
      "[-a result file] [-e err file] [-d device_file | barcode_file]\n",
      argv0);
}

// The entry list, with the system's own complaint when it cannot grow.
void addentry(std::vector<std::string>& entries, std::string entry, const char* argv0) {
  try {
    entries.push_back(std::move(entry));
  } catch (const std::bad_alloc&) {
    err() << sformat("%s: realloc: Out of space\n", argv0);
    throw Exit{2};
  }
}

PortIdle idle_from_environment() {
  PortIdle idle;
  if (const char* v = std::getenv("KIV_TAGSCANNER_IDLE_MS"); v && leadingint(v) > 0)
    idle.idle = std::chrono::milliseconds(leadingint(v));
  return idle;
}

struct ScanOptions {
  std::string tags;            // -b
  std::string keys;            // -k
  int wait = 10;               // -t, seconds
  char sep = '\r';             // -r
  bool listing = false;        // -n
  std::optional<std::string> save, result, error, device;
};

// The tag and key rows are both given and name as many fields; else ends
// with status 2 after its message (and the usage for a missing row).
void check_scheme(const ScanOptions& o, const char* program) {
  if (o.tags.empty()) {
    err() << "Missing barcode_tag_string...\n";
    usage(program);
    throw Exit{2};
  }
  if (o.keys.empty()) {
    err() << "Missing dbkey_string...\n";
    usage(program);
    throw Exit{2};
  }
  int nk = getcolcount(o.keys);
  int nb = getcolcount(o.tags);
  // A row without its "^$" has no columns; it cannot give a scheme.
  if (nk != nb || nb == 0) {
    err() << sformat(
        "Number of fields in dbkey_string(%d)(%s) and barcode_tag_string(%d)(%s) mismatch...\n", nk,
        o.keys, nb, o.tags);
    throw Exit{2};
  }
}

// Steps 1 to 3 of the command line; ends with status 2 on an error.
ScanOptions scanoptions(int argc, const char* const argv[], int& optind) {
  if (argc < 2) {
    usage(argv[0]);
    throw Exit{2};
  }
  ScanOptions o;
  bool error = false;
  GetoptState st;
  for (int c; (c = getopt(st, argc, argv, "nb:k:f:r:d:t:o:e:a:")) != -1;) {
    switch (c) {
      case 'n': o.listing = true; break;
      case 'b': o.tags = st.optarg; break;
      case 'k': o.keys = st.optarg; break;
      case 'f': break;  // accepted, not used
      case 'r': o.sep = st.optarg.empty() ? '\0' : st.optarg[0]; break;
      case 'd': o.device = st.optarg; break;
      case 'o': o.save = st.optarg; break;
      case 'e': o.error = st.optarg; break;
      case 'a': o.result = st.optarg; break;
      case 't':
        o.wait = leadingint(st.optarg);
        if (o.wait <= 0) {
          err() << "time must be > 0...\n";
          error = true;
        }
        break;
      default: error = true; break;
    }
  }
  optind = st.optind;
  if (error) {
    usage(argv[0]);
    throw Exit{2};
  }
  check_scheme(o, argv[0]);
  return o;
}

FilePtr required(const std::optional<std::string>& path, const char* missing) {
  if (!path) {
    err() << missing;
    throw Exit{2};
  }
  return FilePtr(openfile(*path, "w"));
}

// Closes a file that was written; false, after "cannot write %s\n" on
// standard error, when any write to it failed, so that a short result is
// never taken for a whole one.
bool closewritten(FilePtr& file, const std::string& path) {
  if (!file) return true;
  bool ok = !std::ferror(file.get());
  ok &= std::fclose(file.release()) == 0;
  if (!ok) err() << sformat("cannot write %s\n", path);
  return ok;
}

void save(std::FILE* savefile, const std::string& entry, char sep) {
  if (!savefile) return;
  std::fwrite(entry.data(), 1, entry.size(), savefile);
  std::fputc(sep, savefile);
}

int scan(int argc, const char* const argv[]) {
  int optind = 1;
  ScanOptions o = scanoptions(argc, argv, optind);
  std::optional<SerialPort> port;
  FilePtr input;
  if (o.device) {
    port.emplace(openport(*o.device));
  } else if (optind < argc) {
    input.reset(openfile(argv[optind], "r"));
  } else {
    err() << "Missing input file\n";
    usage(argv[0]);
    throw Exit{2};
  }
  FilePtr savefile;
  if (o.save) savefile.reset(openfile(*o.save, "w"));
  FilePtr result = required(o.result, "Missing result file\n");
  FilePtr error = required(o.error, "Missing error file\n");

  std::vector<std::string> entries;
  entries.reserve(10);
  PortIdle idle = idle_from_environment();
  if (port) std::this_thread::sleep_for(std::chrono::seconds(o.wait));
  for (;;) {
    std::optional<std::string> e = port ? readportentry(*port, o.sep, idle) : readentry(input.get(), o.sep);
    if (!e) break;
    save(savefile.get(), *e, o.sep);
    if (!e->empty()) addentry(entries, std::move(*e), argv[0]);
  }
  bool written = !o.save || closewritten(savefile, *o.save);
  input.reset();
  if (port) port->close();

  Scheme scheme = splitscheme(o.tags);
  matchentries(entries, scheme, {o.keys, o.listing, result.get(), error.get()});
  written &= closewritten(result, *o.result);
  written &= closewritten(error, *o.error);
  return written ? 0 : 3;
}

}  // namespace

std::FILE* openfile(const std::string& path, const char* mode) {
  std::FILE* f = std::fopen(path.c_str(), mode);
  if (f) return f;
  int e = errno;
  err() << sformat("openfile() cannot open %s\n", path);
  err() << sformat("openfile(): %s\n", std::strerror(e));
  throw Exit{3};
}

std::optional<std::string> readentry(std::FILE* file, char sep) {
  std::string entry;
  for (int c; (c = std::getc(file)) != EOF;) {
    if (ends_entry(static_cast<char>(c), sep)) return entry;
    keep(entry, static_cast<char>(c));
  }
  return std::nullopt;
}

SerialPort openport(const std::string& device) {
  std::optional<SerialPort> port = SerialPort::open(device);
  // The kernel keeps its own queue sizes, and termios has no event mask, DSR
  // handshake or abort-on-error switch; the rest of the reader's line is set.
  if (!port || !port->set_line({.baud = 9600,
                                .data_bits = 8,
                                .parity = 'N',
                                .stop_bits = 1,
                                .parity_check = false,
                                .hardware_flow = false,
                                .software_flow = false,
                                .dtr = true,
                                .rts = false})) {
    printerror("Failed to open port");
    throw Exit{-1};
  }
  return std::move(*port);
}

std::optional<std::string> readportentry(SerialPort& port, char sep, const PortIdle& idle) {
  std::string entry;
  int waits = 0;
  for (;;) {
    if (port.queued() > 0) {
      waits = 0;
      char c;
      if (!port.read_byte(c)) return entry;
      if (ends_entry(c, sep)) return entry;
      keep(entry, c);
      continue;
    }
    if (waits == idle.waits) return std::nullopt;
    std::this_thread::sleep_for(idle.idle);
    ++waits;
  }
}

Scheme splitscheme(std::string_view tagrow) {
  Scheme s;
  int n = getcolcount(tagrow);
  for (int i = 1; i <= n; ++i) s.tags.push_back(getcol_or_empty(tagrow, i));
  s.slots.assign(s.tags.size(), std::string());
  return s;
}

int findtag(std::string_view entry, const std::vector<std::string>& tags) {
  for (size_t i = 0; i < tags.size(); ++i)
    if (!tags[i].empty() && entry.starts_with(tags[i])) return static_cast<int>(i);
  return -1;
}

void writerecord(const std::vector<std::string>& slots, std::FILE* result) {
  std::string row;
  for (size_t i = 0; i < slots.size(); ++i) {
    if (i) row += kColSep;
    row += slots[i].empty() ? std::string(kEmptyCol) : slots[i];
  }
  row += kRowEnd;
  put(result, row);
}

// Listing mode prints the entries numbered from 1. Otherwise the key row is
// written and the entries are sorted into records: entries that cannot go
// into row/column text are refused into the error file; the first entry that
// is sorted must begin with the first tag (a free-format first slot takes
// anything); each further entry goes into a slot of the search window, or is
// reported and dropped. The record in hand at the end is written.
void matchentries(const std::vector<std::string>& entries, Scheme& scheme, const MatchOutput& out) {
  if (out.listing) {
    for (size_t i = 0; i < entries.size(); ++i)
      kiv::out() << sformat("% 4d - `%s'\n", i + 1, entries[i]);
    return;
  }
  put(out.result, out.keyrow);
  std::vector<std::optional<std::string>> refused;
  size_t final = entries.size();
  for (size_t i = 0; i < entries.size(); ++i) {
    refused.push_back(refusal(entries[i], i + 1));
    if (!refused.back()) final = i;
  }
  Matcher m(scheme, out);
  bool first = true;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (refused[i]) {
      put(out.error, *refused[i]);
      continue;
    }
    const std::string& tag0 = scheme.tags.front();
    if (first && !tag0.empty() && !entries[i].starts_with(tag0)) {
      put(out.error, sformat("\nInput barcode error (entry #%d): expecting tag `%s' but see `%s'\n", i + 1,
                             tag0, entries[i]));
      throw Exit{-1};
    }
    first = false;
    m.take(i + 1, entries[i], i == final);
  }
}

int tagscanner_main(int argc, const char* const argv[]) {
  try {
    return scan(argc, argv);
  } catch (const Exit& e) {
    return e.status;
  }
}

}  // namespace kiv

// The multipart form-data reader: a byte-at-a-time delimiter matcher over
// the body, the header lines of each part, and the files of file parts,
// each saved under <home>/tmp in a file of its own. Then the structured
// header parser and the file-name helpers it uses.
#include "toolkit/request/multipart.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "platform/exit.h"
#include "platform/output.h"
#include "toolkit/request/kivcgiclient.h"
#include "toolkit/base/kivcgitrace.h"
#include "toolkit/text/exlist.h"
#include "toolkit/text/kivtext.h"
#include "toolkit/text/rowcol.h"

namespace kiv {

namespace {

constexpr size_t kHeaderLine = 8192;

void perror_out(const std::string& what) {
  err() << what << ": " << std::strerror(errno) << "\n";
}

// The temporary folder of uploads: <home>/tmp, or /tmp without a home.
std::string upload_folder() {
  const std::string& home = reqctx().nvhome;
  return home.empty() ? std::string("/tmp") : home + "/tmp";
}

// The field name up to its first point, reduced to characters that are safe
// in a file name. A base that would name an upload like one of the scratch
// files of tmp (a found selection, a reader's result, a chart) gets
// "upload_" before it, so that no upload passes for a scratch file.
std::string upload_base(std::string_view name) {
  std::string base(name.substr(0, name.find('.')));
  for (char& c : base) {
    unsigned char u = static_cast<unsigned char>(c);
    bool ok = (u >= '0' && u <= '9') || (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') ||
              c == '_' || c == '-';
    if (!ok) c = '_';
  }
  if (base.empty()) return std::string("upload");
  if (base == "tmp_datafile" || base == "out" || base == "chartfile") return "upload_" + base;
  return base;
}

// Creates a new file for an upload: <tmp>/<base>.<pid>, or with ".<n>"
// after it when that name is taken (another field of the request, or a file
// left behind by an earlier process of the same id). Never opens an existing
// file. Ends the process when no file can be created.
std::FILE* create_upload(const std::string& base, std::string& path) {
  const std::string stem = upload_folder() + "/" + base + "." + std::to_string(::getpid());
  for (int n = 0; n < 1000; ++n) {
    path = n == 0 ? stem : stem + "." + std::to_string(n);
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0 && errno == EEXIST) continue;
    if (fd < 0) break;
    std::FILE* f = ::fdopen(fd, "wb");
    if (!f) {
      ::close(fd);
      ::unlink(path.c_str());
      break;
    }
    reqctx().uploads.push_back(path);
    return f;
  }
  perror_out(path);
  remove_saved_uploads();
  throw Exit{1};
}

// A form name that the start-up reads as the request's action or menu
// trigger (found without regard to case), or that names a setting of the
// state file: no file part may carry one.
bool names_control(std::string_view name) {
  return equal_nocase(name, "KIVACTION") || equal_nocase(name, "MENUTRIG") || is_state_setting(name);
}

// Standard input is always binary here; the step stays for the message.
int set_binary_input(std::FILE*) { return 0; }

class MultipartReader {
 public:
  MultipartReader(std::FILE* in, long length, std::string delimiter)
      : in_(in), left_(length), delim_(std::move(delimiter)) {
    list_.emplace_back();
  }

  form_entries run() {
    while (data_mode()) {
      if (!header_mode()) break;
    }
    finish_unended_part();
    return std::move(list_);
  }

 private:
  int get() {
    if (pending_ != EOF) {
      int c = pending_;
      pending_ = EOF;
      return c;
    }
    if (left_ <= 0) return EOF;
    int c = std::getc(in_);
    if (c == EOF) {
      left_ = 0;  // the input ended early: stop there
      return EOF;
    }
    --left_;
    return c;
  }

  form_entry& current() { return list_[cur_]; }

  // One byte of the current part's data.
  void data_byte(char c) {
    if (dropped_) return;
    if (file_) {
      long max = reqctx().attachmentmaxlen;
      if (max > 0 && count_ >= max) too_large(max);
      if (std::fputc(c, file_) == EOF) write_failed();
    } else {
      buffer_ += c;
    }
    ++count_;
  }

  [[noreturn]] void too_large(long max) {
    errmsg("Data size per attachment exceeded\n");
    errmsg("Maximum attachment size is %d bytes", max);
    close_file();
    remove_saved_uploads();
    throw Exit{0};
  }

  // Closes the file being written; false when it could not be written whole.
  bool close_file() {
    if (!file_) return true;
    bool ok = !std::ferror(file_);
    ok = std::fclose(file_) == 0 && ok;
    file_ = nullptr;
    return ok;
  }

  // An upload that could not be written whole (a full disk, a size limit of
  // the system) would pass for a saved one: the request ends instead.
  [[noreturn]] void write_failed() {
    int e = errno;
    close_file();
    errno = e;
    perror_out(path_);
    remove_saved_uploads();
    throw Exit{1};
  }

  // Drops the file being written: deleted, forgotten, its entry valueless.
  void drop_file() {
    close_file();
    ::unlink(path_.c_str());
    take_upload(path_);  // deleted here: no longer one to remove at the end
    current().value.reset();
  }

  void end_part() {
    if (file_) {
      if (count_ == 0)
        drop_file();
      else if (!close_file())
        write_failed();
    } else if (!file_part_ && current().name && count_ > 0) {
      current().value = buffer_;
    }
    count_ = 0;
    file_part_ = false;
    dropped_ = false;
    if (current().name) {
      list_.emplace_back();
      cur_ = list_.size() - 1;
    }
  }

  // A part still open when the body ends is incomplete: its file is not kept.
  void finish_unended_part() {
    if (file_) drop_file();
  }

  // Reads data until a whole delimiter has matched (true) or the body ends.
  bool data_mode() {
    size_t pos = 0, skip = 0;
    int c;
    while ((c = get()) != EOF) {
      for (;;) {
        if (pos == 0) {
          if (c == delim_[0]) {
            pos = 1;
          } else if (c == '\n') {  // a bare line feed stands for "\r\n"
            pos = 2;
            skip = 1;
          } else if (c == '-') {  // the delimiter at the very start of the body
            pos = 3;
            skip = 2;
          } else {
            data_byte(static_cast<char>(c));
          }
          break;
        }
        if (c == delim_[pos]) {
          if (++pos == delim_.size()) {
            end_part();
            return true;
          }
          break;
        }
        // The partial match broke: what matched was data after all.
        for (size_t i = skip; i < pos; ++i) data_byte(delim_[i]);
        pos = skip = 0;
      }
    }
    return false;
  }

  // One header line of at most 8191 bytes, within the body; false when
  // nothing could be read.
  bool read_line(std::string& line) {
    line.clear();
    int c;
    while (line.size() + 1 < kHeaderLine && (c = get()) != EOF) {
      line += static_cast<char>(c);
      if (c == '\n') break;
    }
    return !line.empty();
  }

  // Reads the header lines of a part; true when its data follows.
  bool header_mode() {
    int c;
    while ((c = get()) != EOF && is_space(c)) {
    }
    if (c == EOF) return false;
    pending_ = c;
    std::string line;
    while (read_line(line)) {
      if (line[0] == '\n' || line[0] == '\r' || line[0] == '-') return true;
      if (starts_nocase(line, "Content-Type")) continue;
      parsed_header h = header_parse(1, line);
      std::string hname = h.name;
      trimspace(hname);
      // Only the disposition line says what the part is.
      if (!equal_nocase(hname, "Content-Disposition")) continue;
      disposition(line, h.groups ? *h.groups : header_groups{});
    }
    return false;
  }

  void disposition(const std::string& line, const header_groups& groups) {
    std::optional<std::string> filename = header_attribute(groups, "filename");
    std::optional<std::string> name = header_attribute(groups, "name");
    if (file_) end_part();  // a second disposition line: the empty file part ends
    if (name && name->empty()) name.reset();
    dropped_ = false;
    if (filename && name && names_control(*name)) {
      // An upload named like the action or a setting would make the path of
      // its saved copy the request's action (shown in the refusal) or a
      // setting's value: the part is read past and gives no entry.
      kivtrace("parse_multipart: the file part '%s' names the action or a setting: dropped\n", *name);
      file_part_ = true;
      dropped_ = true;
      return;
    }
    if (filename && name) {
      file_part_ = true;
      std::string base = name->substr(0, name->find('.'));
      current().name = base + "filename.VALUE";
      std::string client = trans(getnamefromline(line));
      if (client.empty())
        current().value.reset();
      else
        current().value = client;
      file_ = create_upload(upload_base(base), path_);
      list_.push_back(form_entry{*name, path_});
      cur_ = list_.size() - 1;
      return;
    }
    file_part_ = false;
    buffer_.clear();
    if (name) current().name = *name;
  }

  std::FILE* in_;
  long left_;
  std::string delim_;
  int pending_ = EOF;
  form_entries list_;
  size_t cur_ = 0;
  std::string buffer_;
  long count_ = 0;
  bool file_part_ = false;
  bool dropped_ = false;  // the part's bytes are read past
  std::FILE* file_ = nullptr;
  std::string path_;
};

}  // namespace

form_entries parse_multipart() { return parse_multipart(stdin); }

form_entries parse_multipart(std::FILE* in) {
  if (set_binary_input(in) != 0) {
    perror_out("Cannot set mode");
    throw Exit{0};
  }
  cgiinfo info;
  getcgiinfo(info);
  if (!info.content_length_set) {
    err() << "No CONTENT_LENGTH\n";
    throw Exit{1};
  }
  if (!info.content_type) {
    err() << "No CONTENT_TYPE\n";
    throw Exit{1};
  }
  if (info.content_length_bad || info.content_length > kMaxContentLength) {
    err() << "Bad CONTENT_LENGTH\n";
    throw Exit{1};
  }
  std::optional<std::string> boundary =
      header_attribute(header_structured(*info.content_type), "boundary");
  // Without a boundary nothing can be split into parts.
  if (!boundary || boundary->empty()) return form_entries(1);
  MultipartReader reader(in, info.content_length, "\r\n--" + *boundary);
  return reader.run();
}

// ---- structured header lines ----

int eoa(int c) {
  unsigned char u = static_cast<unsigned char>(c);
  if (u < 33 || u >= 128) return 1;
  return std::strchr(",;=?@<>()[]", u) ? 1 : 0;
}

namespace {

class Scanner {
 public:
  explicit Scanner(std::string_view t) : t_(t) {}
  bool end() const { return i_ >= t_.size() || t_[i_] == '\n' || t_[i_] == '\r'; }
  char peek() const { return t_[i_]; }
  void next() { ++i_; }

  // White space and comments in parentheses (nested, "\" escaping).
  void skip_gap() {
    for (;;) {
      while (!end() && is_space(static_cast<unsigned char>(peek()))) next();
      if (end() || peek() != '(') return;
      skip_comment();
    }
  }

  void skip_comment() {
    int depth = 0;
    while (!end()) {
      char c = peek();
      next();
      if (c == '\\') {
        if (!end()) next();
      } else if (c == '(') {
        ++depth;
      } else if (c == ')' && --depth <= 0) {
        return;
      }
    }
  }

  std::string token() {
    std::string r;
    while (!end() && !eoa(peek())) {
      r += peek();
      next();
    }
    return r;
  }

  // After the opening quote: up to the closing one, "\" escaping one byte.
  std::string quoted() {
    std::string r;
    while (!end() && peek() != '"') {
      if (peek() == '\\') {
        next();
        if (end()) break;
      }
      r += peek();
      next();
    }
    if (!end()) next();
    return r;
  }

 private:
  std::string_view t_;
  size_t i_ = 0;
};

}  // namespace

header_groups header_structured(std::string_view text) {
  header_groups groups(1);
  Scanner s(text);
  for (;;) {
    s.skip_gap();
    if (s.end()) break;
    char c = s.peek();
    if (c == ';') {
      s.next();
      continue;
    }
    if (c == ',') {
      s.next();
      groups.emplace_back();
      continue;
    }
    if (eoa(c)) {  // a stray special character
      s.next();
      continue;
    }
    header_attr a;
    a.token = s.token();
    s.skip_gap();
    if (!s.end() && s.peek() == '=') {
      s.next();
      s.skip_gap();
      if (!s.end() && s.peek() == '"') {
        s.next();
        a.value = s.quoted();
      } else {
        a.value = s.token();
      }
    }
    groups.back().push_back(std::move(a));
    // Up to the next ";" or ",", anything else is skipped.
    for (;;) {
      s.skip_gap();
      if (s.end() || s.peek() == ';' || s.peek() == ',') break;
      s.next();
    }
  }
  return groups;
}

std::optional<std::string> header_attribute(const header_groups& groups, std::string_view name) {
  if (groups.empty()) return std::nullopt;
  for (const header_attr& a : groups.front())
    if (equal_nocase(a.token, name)) return a.value.value_or(std::string());
  return std::nullopt;
}

// The address in angle brackets wherever it stands (after a display name of
// several words too), without blanks; without brackets, the first word
// outside comments and quoted parts.
std::string header_address(std::string_view text) {
  Scanner s(text);
  std::string r;
  bool word_done = false;
  while (!s.end()) {
    char c = s.peek();
    if (c == '(') {
      s.skip_comment();
    } else if (c == '"') {
      s.next();
      s.quoted();
    } else if (c == '<') {
      s.next();
      std::string inner;
      while (!s.end() && s.peek() != '>') {
        if (!is_space(static_cast<unsigned char>(s.peek()))) inner += s.peek();
        s.next();
      }
      return inner;
    } else if (is_space(static_cast<unsigned char>(c))) {
      word_done = !r.empty();
      s.next();
    } else {
      if (!word_done) r += c;
      s.next();
    }
  }
  return r;
}

parsed_header header_parse(int kind, std::string_view line) {
  parsed_header h;
  size_t colon = line.find(':');
  h.name = std::string(line.substr(0, colon));
  if (colon == std::string_view::npos) return h;
  std::string_view rest = line.substr(colon + 1);
  while (!rest.empty() && is_space(static_cast<unsigned char>(rest.front()))) rest.remove_prefix(1);
  if (rest.empty()) return h;
  if (kind == 1)
    h.groups = header_structured(rest);
  else if (kind == 3)
    h.text = header_address(rest);
  else
    h.text = std::string(rest);
  return h;
}

// ---- file names ----

std::string trans(std::string_view name) {
  kivtrace("trans: Original name=%s\n", name);
  std::string r(name);
  trimspace(r);
  for (char sep : {'/', '\\', ':'}) {
    size_t at = r.rfind(sep);
    if (at != std::string::npos) r.erase(0, at + 1);
  }
  for (char& c : r)
    if (std::strchr(" %?*)(}{^#!'&~", c) && c != '\0') c = '_';
  kivtrace("trans: Translated name retp=%s\n", r);
  return r;
}

std::string getnamefromline(std::string_view line) {
  size_t at = line.find("filename=");
  if (at == std::string_view::npos) {
    kivtrace("trans: no 'filename='  Translated name retp=%s\n", "Noname");
    return "Noname";
  }
  size_t open = line.find('"', at);
  if (open == std::string_view::npos) {
    kivtrace("getnamefromline: no double quote Translated name retp=%s\n", "Noname");
    return "Noname";
  }
  size_t close = line.rfind('"');
  if (close == open) {
    kivtrace("getnamefromline: no end double quote Translated name\n");
    return std::string(line.substr(open + 1));
  }
  std::string r(line.substr(open + 1, close - open - 1));
  kivtrace("getnamefromline:Translated name retp=%s\n", r);
  return r;
}

}  // namespace kiv

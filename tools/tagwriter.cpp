// tagwriter (see tagwriter.h): the label format file, the printer command
// stream and the command line.
#include "tools/tagwriter.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "platform/exit.h"
#include "platform/output.h"
#include "platform/serial.h"
#include "toolkit/base/kivcontext.h"
#include "toolkit/base/kivfmt.h"
#include "toolkit/base/kivio.h"
#include "toolkit/text/kivtext.h"
#include "toolkit/text/rowcol.h"
#include "tools/getopt.h"
#include "tools/tagcommon.h"

namespace kiv {

namespace {

// Format file lines are read as with a 256-byte line buffer: 254 characters,
// the line end and the terminator.
constexpr size_t kLineBuffer = 256;
constexpr size_t kImageChunk = 1024;
constexpr size_t kImageNameMax = 31;

bool is_blank(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

// Reads the next line of a format file, as much of it as a line may hold.
// The rest of a longer line is skipped, so that its tail is never taken for
// a setting line of its own.
bool readformatline(std::FILE* file, std::string& line) {
  if (!getline_limited(file, line, kLineBuffer)) return false;
  if (!line.ends_with('\n'))
    for (int c; (c = std::getc(file)) != EOF && c != '\n';) {
    }
  return true;
}

size_t skip_blanks(std::string_view s, size_t i) {
  while (i < s.size() && is_blank(s[i])) ++i;
  return i;
}

// Field n (from 1) of a value as a number; a missing or empty field is 0.
int numfield(std::string_view value, int n) {
  std::optional<std::string> f = getcol(value, n);
  return f ? leadingint(*f) : 0;
}

std::string textfield(std::string_view value, int n) { return getcol_or_empty(value, n); }

template <size_t N>
std::optional<std::array<int, N>> numbers(std::FILE* f, std::string_view key) {
  std::optional<std::string> v = getconfigvalue(key, f);
  if (!v) return std::nullopt;
  std::array<int, N> a{};
  for (size_t i = 0; i < N; ++i) a[i] = numfield(*v, static_cast<int>(i) + 1);
  return a;
}

int clamped(std::FILE* f, std::string_view key, int absent, int low, int high) {
  std::optional<std::string> v = getconfigvalue(key, f);
  if (!v) return absent;
  return std::clamp(numfield(*v, 1), low, high);
}

std::optional<LabelLogo> readlogo(std::FILE* f) {
  std::optional<std::string> v = getconfigvalue("LOGO", f);
  if (!v) return std::nullopt;
  LabelLogo logo;
  for (int i = 0; i < 4; ++i) logo.f[static_cast<size_t>(i)] = numfield(*v, i + 1);
  logo.path = textfield(*v, 5);
  std::string letter = textfield(*v, 6);
  logo.format = letter.empty() ? 0 : letter[0];
  if (logo.path.empty()) return std::nullopt;
  return logo;
}

// The element commands of LABEL, BARCODE and ASCII_BC share one shape.
std::string element(std::string_view head, const std::array<int, 5>& f, const std::string& text) {
  return sformat(std::string(head) + "%01d%01d%03d%04d%04d%s\r", f[0], f[1], f[2], f[3], f[4], text);
}

// The download of the logo image ahead of the label: the header commands,
// then the image's bytes exactly as read, 1,024 at a time.
// False when a write failed.
bool sendlogo(SerialPort& port, const LabelLogo& logo, std::string_view image) {
  bool sent = sendcommand(port, "\x01" "D\r");
  sent &= sendcommand(port, "\x02qA\r");
  std::string head = "\x02IA";
  if (logo.format) head += logo.format;
  sent &= sendcommand(port, head + logoname(logo) + "\r");
  for (size_t at = 0; at < image.size(); at += kImageChunk)
    sent &= sendcommand(port, image.substr(at, kImageChunk));
  return sent;
}

void usage(const char* argv0) {
  err() << sformat(
      "Usage: %s [-f config_file] [-l label] [-q how_many] [-b barcode_id] [-n] [-d device_file]\n",
      argv0);
}

}  // namespace

std::optional<std::string> getconfigvalue(std::string_view key, std::FILE* file) {
  std::rewind(file);
  std::string line;
  while (readformatline(file, line)) {
    if (!line.empty() && line[0] == '#') continue;
    while (!line.empty() && is_blank(line.back())) line.pop_back();
    size_t i = skip_blanks(line, 0);
    if (!equal_nocase(std::string_view(line).substr(i, key.size()), key)) continue;
    i += key.size();
    if (i < line.size() && line[i] != '=' && !is_blank(line[i])) continue;  // a longer word
    i = skip_blanks(line, i);
    if (i >= line.size() || line[i] != '=') return std::nullopt;
    return line.substr(skip_blanks(line, i + 1));
  }
  return std::nullopt;
}

LabelFormat readlabelformat(const std::string& path) {
  LabelFormat format;
  FilePtr f = open_file(path, "r");
  if (!f) {
    out() << sformat("Cannot open config file %s!!!\n", path);
    return format;
  }
  format.heat = clamped(f.get(), "HEAT_INDEX", 13, 1, 20);
  format.offset = clamped(f.get(), "LEFT_OFFSET", 0, 0, 4000);
  format.label = numbers<5>(f.get(), "LABEL");
  format.line = numbers<4>(f.get(), "LINE");
  format.barcode = numbers<5>(f.get(), "BARCODE");
  format.ascii_bc = numbers<5>(f.get(), "ASCII_BC");
  format.logo = readlogo(f.get());
  return format;
}

std::string logofile(const LabelLogo& logo) {
  if (logo.path.starts_with("/")) return logo.path;
  return sformat("%s/client/config/%s", reqctx().nvhome, logo.path);
}

std::string logoname(const LabelLogo& logo) {
  size_t slash = logo.path.rfind('/');
  std::string name = slash == std::string::npos ? logo.path : logo.path.substr(slash + 1);
  name.resize(std::min(name.size(), kImageNameMax));
  return name.substr(0, 8);
}

void blankcontrols(std::string& text) {
  for (char& c : text) {
    unsigned char b = static_cast<unsigned char>(c);
    if (b < 0x20 || b == 0x7f) c = ' ';
  }
}

std::vector<std::string> labelcommands(const LabelFormat& format, const LabelJob& job) {
  std::string label = job.label;
  std::string barcode = job.barcode;
  blankcontrols(label);
  blankcontrols(barcode);
  std::vector<std::string> c = {"\x02O0210\r", "\x02" "d\r", "\x02L\r", "D11\r", "PC\r", "SC\r"};
  c.push_back(sformat("H%02d\r", format.heat));
  c.push_back("R0007\r");
  c.push_back(sformat("C%04d\r", format.offset));
  c.push_back("'FHV...VVVVHHHH\r");
  if (const auto& f = format.label; f && (*f)[0] && (*f)[1]) c.push_back(element("19", *f, label));
  if (const auto& f = format.line; f && (*f)[2] && (*f)[3])
    c.push_back(sformat("1X00000%04d%04dL%03d%03d\r", (*f)[0], (*f)[1], (*f)[2], (*f)[3]));
  if (const auto& f = format.barcode; f && (*f)[0] && (*f)[1]) {
    c.push_back(element("1a", *f, barcode));
    c.push_back("+01\r");
  }
  if (const auto& f = format.ascii_bc; f && (*f)[0] && (*f)[1]) {
    c.push_back(element("19", *f, barcode));
    c.push_back("+01\r");
  }
  if (const auto& l = format.logo; l && l->f[0] && l->f[1])
    c.push_back(sformat("1Y%01d%01d000%04d%04d%s\r", l->f[0], l->f[1], l->f[2], l->f[3], logoname(*l)));
  c.push_back(sformat("Q%04d\r", job.quantity));
  c.push_back("E\r");
  return c;
}

bool sendcommand(SerialPort& port, std::string_view text) {
  if (text.empty() || port.write(text)) return true;
  printerror("GetOverlappedResult failed");
  return false;
}

void printlabel(const LabelJob& job, const LabelFormat& format) {
  std::optional<SerialPort> port = SerialPort::open(job.device);
  if (!port) {
    printerror("Failed to open port");
    throw Exit{1};
  }
  if (!port->set_timeouts({.interval_ms = 2, .total_per_byte_ms = 1, .total_ms = 1}))
    printerror("SetCommTimeouts failed");
  if (!port->set_line({.baud = 9600, .data_bits = 8, .parity = 'N', .stop_bits = 1}))
    printerror("SetCommState failed");
  bool sent = true;
  if (format.logo) {
    // The whole image is read before anything is sent, so that a file that
    // is missing or cannot be read does not leave the printer waiting in
    // download mode.
    std::string path = logofile(*format.logo);
    std::string image;
    if (!read_whole_file(path, image)) {
      out() << sformat("Cannot open config file %s!!!\n", path);
      port->close();
      throw Exit{1};
    }
    sent = sendlogo(*port, *format.logo, image);
  }
  for (const std::string& c : labelcommands(format, job)) sent &= sendcommand(*port, c);
  port->close();
  // A label that did not reach the printer whole is no label.
  throw Exit{sent ? 0 : 1};
}

int tagwriter_main(int argc, const char* const argv[]) {
  start_home(kTagwriterHome);
  try {
    if (argc < 2) {
      usage(argv[0]);
      return 2;
    }
    LabelJob job;
    bool have_device = false;
    bool error = false;
    GetoptState st;
    for (int c; (c = getopt(st, argc, argv, "nb:f:l:q:d:")) != -1;) {
      switch (c) {
        case 'f': job.config = st.optarg; break;
        case 'l': job.label = st.optarg; break;
        case 'b': job.barcode = st.optarg; break;
        case 'n': break;
        case 'd':
          job.device = st.optarg;
          have_device = true;
          break;
        case 'q':
          job.quantity = leadingint(st.optarg);
          if (job.quantity <= 0) {
            err() << "number must be > 0...\n";
            error = true;
          }
          break;
        default: error = true; break;
      }
    }
    if (!have_device) {
      err() << "Missing device file\n";
      usage(argv[0]);
      return 2;
    }
    if (error) {
      usage(argv[0]);
      return 2;
    }
    LabelFormat format;
    if (job.config) format = readlabelformat(*job.config);
    printlabel(job, format);
  } catch (const Exit& e) {
    return e.status;
  }
}

}  // namespace kiv

// The trace (kivtrace) and the error message (errmsg) with the
// installation's error-text file.
#include "toolkit/base/kivcgitrace.h"


#include "platform/output.h"
#include "toolkit/base/kivio.h"

namespace kiv {

std::string html_escape(std::string_view text) {
  std::string r;
  r.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': r += "&#38;"; break;
      case '<': r += "&#60;"; break;
      case '>': r += "&#62;"; break;
      case '"': r += "&#34;"; break;
      case '\'': r += "&#39;"; break;
      default: r += c;
    }
  }
  return r;
}

namespace {

bool path_char(char c) {
  const unsigned char u = static_cast<unsigned char>(c);
  return (u >= '0' && u <= '9') || (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || c == '.' || c == '_' ||
         c == '-' || u >= 128;
}

// The text with the home folder "NVHOME" wherever it stands as a path of
// its own or the start of one (not inside a longer name). A home of one
// character ("/") names no place worth hiding.
std::string hide_home(std::string_view text) {
  if (!reqctx().web_page) return std::string(text);
  std::string_view home = reqctx().nvhome;
  while (home.size() > 1 && home.back() == '/') home.remove_suffix(1);
  if (home.size() <= 1) return std::string(text);
  std::string r;
  size_t from = 0;
  for (size_t at = text.find(home); at != std::string_view::npos; at = text.find(home, at + 1)) {
    const size_t end = at + home.size();
    const bool starts = at == 0 || !path_char(text[at - 1]);
    const bool ends = end == text.size() || text[end] == '/' || !path_char(text[end]);
    if (at < from || !starts || !ends) continue;
    r.append(text.substr(from, at - from));
    r += "NVHOME";
    from = end;
  }
  r.append(text.substr(from));
  return r;
}

std::string tk_file(std::string_view name) {
  return reqctx().nvhome + "/client/kivhtml/tk/" + std::string(name);
}

// The text of an installation file of the error page, written as it stands.
void write_frame_file(std::string_view name) {
  if (reqctx().nvhome.empty()) return;
  std::string text;
  if (read_whole_file(tk_file(name), text)) out() << text;
}

}  // namespace

std::string page_escape(std::string_view text) { return html_escape(hide_home(text)); }

void content_type_written() { reqctx().header_end = page_bytes(); }

void begin_error_page() {
  RequestContext& c = reqctx();
  if (c.error_page || !c.header_end || page_bytes() != *c.header_end) return;
  c.error_page = true;
  write_frame_file("errhead.html");
}

void end_error_page() {
  RequestContext& c = reqctx();
  if (!c.error_page) return;
  c.error_page = false;
  c.header_end.reset();
  write_frame_file("errfoot.html");
}

void pagef_v(std::string_view format, std::span<const FmtArg> args) {
  begin_error_page();
  out() << vformat(format, args, page_escape);
}

int kivtrace_v(std::string_view format, std::span<const FmtArg> args) {
  RequestContext& c = reqctx();
  if (!c.kivdebug) return 0;
  if (!c.debugfp) {
    // The file the start-up named, else the one the process inherited.
    if (std::optional<std::string> name = request_env("KIVTRACE_FILE")) {
      c.debugfp = std::fopen(name->c_str(), "a+");
      if (!c.debugfp) out() << "Cannot open `" << html_escape(*name) << "'\n";
    }
  }
  if (c.debugfp) {
    std::string line = vformat(format, args);
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), c.debugfp);
    std::fflush(c.debugfp);
  }
  out() << "<PRE>\n" << vformat(format, args, html_escape) << "</PRE>\n";
  out().flush();
  return 0;
}

namespace {

// The text of an errors.txt line counts as empty when it holds nothing but
// its line end: "pattern|" silences the matching messages.
bool blank_text(std::string_view t) { return t.empty() || t == "\n" || t == "\r\n"; }

// Looks the format up in errors.txt. True when a line matched (and its text,
// if any, was written); false when the message is to be shown as written.
bool installation_text(std::string_view format) {
  const std::string& home = reqctx().nvhome;
  if (home.empty()) return false;
  std::string path = home + "/client/config/errors.txt";
  FilePtr f = open_file(path, "r");
  if (!f) {
    kivtrace("can't open '%s'", path);
    return false;
  }
  std::string line;
  while (getline_limited(f.get(), line, 1024)) {
    size_t bar = line.find('|');
    if (bar == std::string::npos) continue;
    std::string_view pattern(line.data(), bar);
    if (format.find(pattern) == std::string_view::npos) continue;
    std::string_view text = std::string_view(line).substr(bar + 1);
    if (!blank_text(text)) {
      const char* dashes = "-------------------------------\n";
      out() << "<PRE>\n" << dashes << text << dashes << "</PRE>\n";
    }
    return true;
  }
  return false;
}

}  // namespace

int errmsg_v(std::string_view format, std::span<const FmtArg> args) {
  begin_error_page();
  if (installation_text(format)) return 0;
  out() << "<PRE>\n" << vformat(format, args, page_escape) << "</PRE>\n";
  out().flush();
  return 0;
}

}  // namespace kiv

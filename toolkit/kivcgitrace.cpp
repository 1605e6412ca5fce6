// The trace (kivtrace) and the error message (errmsg) with the
// installation's error-text file.
#include "toolkit/kivcgitrace.h"


#include "platform/output.h"
#include "toolkit/kivio.h"

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

void pagef_v(std::string_view format, std::span<const FmtArg> args) {
  out() << vformat(format, args, html_escape);
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
  if (installation_text(format)) return 0;
  out() << "<PRE>\n" << vformat(format, args, html_escape) << "</PRE>\n";
  out().flush();
  return 0;
}

}  // namespace kiv

// The trace and the user-visible error message.
// kivtrace writes printf-style lines to the trace file (the one the start-up
// names, else KIVTRACE_FILE as the process inherited it) and
// echoes them into the page while tracing is on. errmsg writes a message into
// the page inside a preformatted block, in the installation's wording when
// client/config/errors.txt has a line for it. Arguments shown in the page are
// HTML-escaped; formats are the system's own texts and are not.
#pragma once

#include <span>
#include <string_view>

#include "toolkit/base/kivcontext.h"
#include "toolkit/base/kivfmt.h"

namespace kiv {

int kivtrace_v(std::string_view format, std::span<const FmtArg> args);
int errmsg_v(std::string_view format, std::span<const FmtArg> args);

// Returns 0; does nothing (not even format) while tracing is off.
template <class... A>
int kivtrace(std::string_view format, const A&... a) {
  if (!reqctx().kivdebug) return 0;
  const std::array<FmtArg, sizeof...(A)> args{FmtArg(a)...};
  return kivtrace_v(format, args);
}

// Returns 0.
template <class... A>
int errmsg(std::string_view format, const A&... a) {
  const std::array<FmtArg, sizeof...(A)> args{FmtArg(a)...};
  return errmsg_v(format, args);
}

// Writes a printf-style message into the page with its text arguments
// HTML-escaped (the format is written as it stands).
void pagef_v(std::string_view format, std::span<const FmtArg> args);
template <class... A>
void pagef(std::string_view format, const A&... a) {
  const std::array<FmtArg, sizeof...(A)> args{FmtArg(a)...};
  pagef_v(format, args);
}

// HTML escape for message arguments: & < > " ' become character references.
std::string html_escape(std::string_view text);

// A message argument as a page shows it: in a page that goes to a browser
// (the request context's web_page), where the text names the home folder or
// a path under it, the home stands as "NVHOME" (a page never tells where the
// installation lies); then HTML-escaped. The trace file and console runs
// keep the paths as they are.
std::string page_escape(std::string_view text);

// The frame of a refusal page. The content-type line is written
// (content_type_written records where the page stood then); when a message
// (errmsg, pagef) is the first thing that follows it, the installation's
// error head <home>/client/kivhtml/tk/errhead.html is written before it, as
// it stands (no markers are read in it), once a request; end_error_page
// then writes errfoot.html beside it at the end of the request. Either file
// may be missing: then nothing is written in its place.
void content_type_written();
void begin_error_page();
void end_error_page();

}  // namespace kiv

// The CGI environment record and the request method code.
#include <climits>

#include "platform/output.h"
#include "toolkit/request/kivcgiclient.h"
#include "toolkit/base/kivcgitrace.h"
#include "toolkit/base/kivcontext.h"
#include "toolkit/text/kivtext.h"

namespace kiv {

namespace {

// The CGI variables are the web server's: as the process inherited them.
std::optional<std::string> env(const char* name) { return inherited_env(name); }

// CONTENT_LENGTH must be decimal digits (surrounding blanks allowed) within
// the 32-bit range; anything else is a bad length.
bool parse_length(const std::string& text, int& value) {
  size_t i = 0, n = text.size();
  while (i < n && text[i] == ' ') ++i;
  size_t digits = i;
  long long v = 0;
  while (i < n && text[i] >= '0' && text[i] <= '9') {
    v = v * 10 + (text[i] - '0');
    if (v > INT_MAX) return false;
    ++i;
  }
  if (i == digits) return false;
  while (i < n && text[i] == ' ') ++i;
  if (i != n) return false;
  value = static_cast<int>(v);
  return true;
}

}  // namespace

int getcgiinfo(cgiinfo& r) {
  r = cgiinfo{};
  r.server_software = env("SERVER_SOFTWARE");
  r.server_name = env("SERVER_NAME");
  r.gateway_interface = env("GATEWAY_INTERFACE");
  r.server_protocol = env("SERVER_PROTOCOL");
  r.server_port = env("SERVER_PORT");
  r.request_method = env("REQUEST_METHOD");
  r.http_accept = env("HTTP_ACCEPT");
  r.path_info = env("PATH_INFO");
  r.path_translated = env("PATH_TRANSLATED");
  r.script_name = env("SCRIPT_NAME");
  r.query_string = env("QUERY_STRING");
  r.remote_host = env("REMOTE_HOST");
  r.remote_addr = env("REMOTE_ADDR");
  r.auth_type = env("AUTH_TYPE");
  r.remote_user = env("REMOTE_USER");
  r.remote_ident = env("REMOTE_IDENT");
  r.content_type = env("CONTENT_TYPE");
  // An empty CONTENT_LENGTH means no body, as an unset one does.
  std::optional<std::string> len = env("CONTENT_LENGTH");
  r.content_length_set = len.has_value();
  if (len && !len->empty()) {
    if (!parse_length(*len, r.content_length)) {
      r.content_length = 0;
      r.content_length_bad = true;
    }
  }
  return r.server_name ? 1 : 0;
}

int printcgiinfo(const cgiinfo& r) {
  kivtrace("WWW Protocol Configuration Begin\n");
  kivtrace("--------------------------------\n");
  auto line = [](const char* fmt, const std::optional<std::string>& v) {
    if (v) kivtrace(fmt, *v);
  };
  line("server_name=%s\n", r.server_name);
  line("remote_host %s\n", r.remote_host);
  line("remote_addr=%s\n", r.remote_addr);
  line("remote_user=%s\n", r.remote_user);
  line("remote_ident=%s\n", r.remote_ident);
  line("auth_type=%s\n", r.auth_type);
  line("request_method=%s\n", r.request_method);
  line("gateway_interface=%s\n", r.gateway_interface);
  line("server_protocol=%s\n", r.server_protocol);
  if (r.content_length != 0) kivtrace("content_length=%d\n", r.content_length);
  line("content_type=%s\n", r.content_type);
  line("server_software=%s\n", r.server_software);
  line("server_port=%s\n", r.server_port);
  line("http_accept=%s\n", r.http_accept);
  line("path_info=%s\n", r.path_info);
  line("path_translated=%s\n", r.path_translated);
  line("query_string=%s\n", r.query_string);
  line("script_name=%s\n", r.script_name);
  kivtrace("WWW Protocol Configuration End\n");
  kivtrace("------------------------------\n");
  return 0;
}

int mcode(const cgiinfo& r) {
  if (!r.request_method) return M_NONE;
  const std::string& m = *r.request_method;
  auto starts = [&](std::string_view p) { return starts_nocase(m, p); };
  if (starts("GET")) return M_GET;
  if (starts("POST")) return M_POST;
  if (starts("PUT")) return M_PUT;
  if (starts("HEAD")) return M_HEAD;
  return M_NONE;
}

void print_htmlheader() { out() << "Content-type: text/html\n\n"; }

}  // namespace kiv

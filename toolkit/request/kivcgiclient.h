// The CGI environment record: the variables the web server gives a request,
// read once into one record, and the request method's code.
#pragma once

#include <optional>
#include <string>

namespace kiv {

// The CGI environment variables, none where a variable is not set.
struct cgiinfo {
  std::optional<std::string> server_software, server_name, gateway_interface, server_protocol,
      server_port, request_method, http_accept, path_info, path_translated, script_name,
      query_string, remote_host, remote_addr, auth_type, remote_user, remote_ident,
      content_type;
  // The decimal value of CONTENT_LENGTH; 0 when it is not set or not a valid
  // length (content_length_bad then tells the start-up to refuse the body).
  int content_length = 0;
  bool content_length_bad = false;
  // Whether CONTENT_LENGTH is set at all (an empty one counts as set).
  bool content_length_set = false;
};

// Method codes of mcode.
enum : int { M_NONE = 0, M_GET = 1, M_POST = 2, M_PUT = 3, M_HEAD = 4 };

// Fills the record from the environment the process inherited from the web
// server; 1 when SERVER_NAME is set, else 0.
int getcgiinfo(cgiinfo& record);
// Traces the record; 0.
int printcgiinfo(const cgiinfo& record);
// The method code of REQUEST_METHOD (prefix, without regard to case).
int mcode(const cgiinfo& record);
// Writes "Content-type: text/html\n\n".
void print_htmlheader();

}  // namespace kiv

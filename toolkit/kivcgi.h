// The CGI environment record, the request method, the content-type header,
// the text escapes between the browser and the stored data, and the CGI
// start-up that turns a request into the request variable list.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kiv {

struct exdata;
struct exlist;

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
};

// Method codes of mcode.
enum : int { M_NONE = 0, M_GET = 1, M_POST = 2, M_PUT = 3, M_HEAD = 4 };

// Fills the record from the environment; 1 when SERVER_NAME is set, else 0.
int getcgiinfo(cgiinfo& record);
// Traces the record; 0.
int printcgiinfo(const cgiinfo& record);
// The method code of REQUEST_METHOD (prefix, without regard to case).
int mcode(const cgiinfo& record);
// Writes "Content-type: text/html\n\n".
void print_htmlheader();

// HTML-escapes a value for a page: " < > & ' tab and line ends become
// character references, line ends " <br> " while the line-break switch is on.
std::string data2brows(std::string_view text);
// URL-encodes a value for a link.
std::string convdata2html(std::string_view text);
// URL-encodes `text` into `out` and gives `out` back.
std::string& d2html(std::string& out, std::string_view text);
// Decodes in a request variable's value the character references that
// data2brows writes; any other text is left as it is.
void brows2data(exdata& node);
// Decodes a text the same way.
std::string brows2data_text(std::string_view value);
// Cuts trailing blanks in place.
std::string& trim(std::string& text);
// Copies at most size - 1 characters of `text` into `out`; nullptr (and out
// untouched) when size is below 1.
std::string* strmaxcpy(std::string& out, std::string_view text, long size);
// The scanner's end-of-input hook: every input ends the scan.
int yywrap();

// ---- the CGI start-up ----

// The start-up of a request: content-type header, state file, form, field
// limit, action, the security step the action calls for, user and groups.
// Returns the request variable list (also readexdata's answer), or nullptr;
// ends the process on the failures that say so. In the Linux flavour the
// state file comes from PROG_STATES (the argument is not used), no header is
// written, and the caller runs the action's command on the list (the Linux
// front program calls it without an argument).
exlist* unixcgiinit(const std::string& statefile = std::string());
// Puts DATE=<asctime of now> into the environment.
void setdateandtime();
// REMOTE_USER from the list's nv_remote_user, without a domain part, and the
// user's groups; in the Linux flavour then the user id of USER. 0, or the
// failing result of setuid.
int setuser(exlist& list);
void fixremoteuser();
void setusergrups(exlist& list);
// The groups of `user` in a usergroups file, joined by commas, or none.
std::optional<std::string> getusergrp(const std::string& path, const std::string& user);
// The text without the carriage returns that stand before a line feed.
std::string filtertwolines(std::string_view text);
// 0 when the file exists, else non-zero.
int statloginfile(const std::string& path);

}  // namespace kiv

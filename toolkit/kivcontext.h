// The request context: the process-wide state of one request, in one place.
// Every request is one process, so there is one instance; tests reset it
// between cases with reset_reqctx().
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace kiv {

struct exlist;

struct RequestContext {
  // Home folder known to errmsg: the value the CGI start-up took from NVHOME.
  std::string nvhome;
  // The home that getproducthome found, and the state-file name the registry
  // gave under the program's key (PROG_STATES), for the dispatcher.
  std::string producthome;
  std::string prog_states;

  // Trace switch: 0 off, 1 on. Nothing switches it off again.
  int kivdebug = 0;
  // The trace file, opened in append mode at the first trace line.
  std::FILE* debugfp = nullptr;

  // Session key of the request ("NOKEY" when there is none) and the folder of
  // the login files.
  std::string skey;
  std::string logindir;

  // Line-break switch of data2brows, set and cleared by the template words
  // bron and broff.
  bool bron = false;

  // The request variable list the start-up built (readexdata's answer).
  exlist* request_vars = nullptr;

  // Set by the CGI start-up: the state file's path (the usergroups file lies
  // beside it), security on (client/config/login_config exists), the size
  // limit of one uploaded file (-1: none), the files it saved for uploads
  // (only these are real uploads), and the login that the request's valid
  // session key is bound to.
  std::string statefile;
  int tkesecflag = 0;
  long attachmentmaxlen = -1;
  std::vector<std::string> uploads;
  std::string session_login;
};

RequestContext& reqctx();

// A command takes over an upload the start-up saved for this request: from
// then on the file is the command's (it moves or deletes it), and it is no
// longer removed when the request ends. False when `path` is not one of this
// request's saved uploads (nothing changes then).
bool take_upload(std::string_view path);

// Back to a new process's state: closes the trace file.
void reset_reqctx();

}  // namespace kiv

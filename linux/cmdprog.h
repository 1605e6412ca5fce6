// The main of a Linux command program: the program the front starts with
// its standard input on the request variable stream. It reads the stream
// before anything else, then runs one handler with the program's own
// arguments as the words (argv[0] the program, argv[1] the template, as the
// state file's command line gives them) and ends with the handler's status.
#pragma once

#include <string>
#include <vector>

#include "engine/uphandler.h"
#include "linux/kivexec.h"
#include "platform/exit.h"
#include "platform/flavour.h"
#include "platform/output.h"
#include "toolkit/base/kivcgitrace.h"
#include "toolkit/base/kivcontext.h"
#include "toolkit/base/kiv_malloc.h"

namespace kiv::kivexec {

// The whole program around `handler`. The handler's usage check sees the
// word count, so fewer than two words give its usage message and status 2
// after the stream has been read.
inline int command_main(int argc, char** argv, handler_fn handler) {
  set_platform(Platform::linux);
  kiv_malloc_init();
  int status = 0;
  try {
    exlist* request = readexdata();
    // The installation's error texts (client/config/errors.txt) lie under
    // the home the front passed on, also for the usage message.
    start_home(default_home());
    // The page goes to the browser through the front, which wrote its
    // content-type line and nothing after it: a refusal that is the first
    // thing the command writes is framed as the front's own are.
    reqctx().web_page = true;
    content_type_written();
    const std::vector<std::string> words(argv, argv + argc);
    status = handler(words, request);
  } catch (const Exit& e) {
    status = e.status;
  }
  end_error_page();
  flush_all();
  return status;
}

}  // namespace kiv::kivexec

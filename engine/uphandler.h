// The shape of a command handler of the dispatcher: the command line of the
// request's action split into words (words[0] the command word, words[1] as a
// rule the template file; a handler's usage check counts them) and the
// request variable list the CGI start-up built (null in the console modes). A handler that ends
// normally returns the status its request ends with; one that must end the
// process from deep inside throws kiv::Exit.
#pragma once

#include <string>
#include <vector>

#include "toolkit/request/kivexfile.h"

namespace kiv {

using handler_fn = int (*)(const std::vector<std::string>& words, exlist* request);

}  // namespace kiv

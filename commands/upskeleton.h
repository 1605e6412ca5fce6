// The steps every command handler shares: the usage check, the command
// start-up with its case objects, the request copied onto them, and at the
// end the answer page printed from the handler's template. A handler calls
// handler_begin, does its own work on the objects, calls handler_page and
// ends the process with the status its command gives.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/upcommon.h"
#include "toolkit/request/kivexfile.h"

namespace kiv {

// How the request variables reach the objects.
enum class RequestCopy {
  all,       // ex2obj: every variable, new objects created
  existing,  // castex2obj: existing objects only, menus keep their items
  none,      // the handler copies them itself, or not at all
};

// The usage check of a handler: with fewer than `min_words` words (the
// command word included) the message goes into the page through errmsg and
// the process ends with status 2. A minimum of 0 means no check.
struct handler_usage {
  int min_words = 2;
  std::string_view message;
};

// Steps before a handler's own work: the usage check, get_prog_param,
// loadobj (tk_obj into the holder, the command settings from it) and the
// request copied as `copy` says. The holder is empty when tk_obj cannot be
// read (the loader has said so in the page).
objholder handler_begin(const std::vector<std::string>& words, const handler_usage& usage, const exlist* request,
                        RequestCopy copy);

// The path of a page template: "<home>/client/kivhtml/tk/<name>".
std::string page_path(std::string_view name);

// The rows of the selection a list or confirmation page hands on: the whole
// scratch data file hidedatafile.VALUE names, when it is the request's own
// (hidedatafile_path), row 1 naming the columns. None after `none` when no
// file is named, after `unread` when the file cannot be read or is not the
// request's own, and after `too_few` when it holds fewer than 2 rows.
std::optional<std::string> selection_rows(const objlist& objs, std::string_view none, std::string_view unread,
                                          std::string_view too_few);

// The answer page: the template words[1] (an empty name when the command
// line has none) printed over the objects. printhtml's result: 0, or 1 when
// the template cannot be read.
int handler_page(const objlist* objs, const std::vector<std::string>& words);

}  // namespace kiv

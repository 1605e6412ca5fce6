// The handlers that do nothing beyond the shared steps: the start page, the
// confirmation of a search form, and two plain form pages. Each keeps its
// objects after its page until the process ends (or the next of these pages,
// or a reset of the process state): a request's process drops them whole.
#pragma once

#include <string>
#include <vector>

#include "toolkit/request/kivexfile.h"

namespace kiv {

// The start page: the request onto the objects and the template printed.
// Returns 0 whatever the page gives; makes no usage check.
int up_startup(const std::vector<std::string>& words, exlist* request);

// The confirmation page of a search form. With two words the request goes
// onto the objects (new ones created); with three or more only existing
// objects take it, and a menu keeps its items behind the chosen value.
// sort_titles1_menu.VALUE becomes the menu of the titles of the database
// fields. Returns the page's status; ends the process with 2 (after the
// usage message) with fewer than two words.
int up_confirmfind(const std::vector<std::string>& words, exlist* request);

// Plain pages over the request: return the page's status; end the process
// with 2 with fewer than two words. No command word of the dispatcher names
// them.
int up_cs(const std::vector<std::string>& words, exlist* request);
int up_cf(const std::vector<std::string>& words, exlist* request);

}  // namespace kiv

// The dispatcher `up`: one program for every help-desk command. Started by
// the web server it reads the request, finds the command line the state file
// binds to the request's action and calls the handler its first word names;
// started from a console it shows its version or runs a console mode.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/uphandler.h"

namespace kiv {

// The most words a command line is split into; further words are dropped.
inline constexpr size_t kMaxCommandWords = 83;

// The state file of `up`, and of its `kepa` build.
inline constexpr std::string_view kUpStates = "admin_states";
inline constexpr std::string_view kKepaStates = "kepa_states";

// One row of the command word table. A command whose handler is not in this
// build has no handler: its word is answered like a word outside the table.
// A handler's result is the status its request ends with, except where
// `page_result` says it is only its page's result (the administration's):
// that request ends with 0 when the handler returns.
struct command_entry {
  std::string_view word;
  handler_fn handler;
  bool page_result = false;
};

// The command word table, in the order words are compared.
std::span<const command_entry> command_table();

// The handler of the first row whose word equals `word` exactly (with case),
// or nullptr.
handler_fn find_handler(std::string_view word);

// A command line split at blanks (only ' ' separates; runs of blanks count as
// one), at most kMaxCommandWords words.
std::vector<std::string> split_command(std::string_view line);

// The name a program gives itself from argv[0]: the text after its last
// "/", or when there is none after its last backslash, or all of it.
std::string program_name(std::string_view argv0);

// The start of a console program of the Windows flavour (up without a web
// server, up_trans): SCRIPT_NAME becomes the program's name, with ".exe"
// when it holds no point (the registry key of the home is named after it),
// and the home is looked up (getproducthome, which ends the process with 1
// when there is none) and kept in the request context; both are published.
void console_start(std::string_view argv0);

// "<home>/client/config/<name>".
std::string statefile_path(std::string_view home, std::string_view name);

// The whole program: the CGI road when the process inherited SCRIPT_NAME,
// else the console modes. `states` is the default state file name (kUpStates
// or kKepaStates). However the request ends, the uploads it saved and no
// command took over are removed. The process's exit status (-1 for a refused
// request).
int up_main(int argc, const char* const argv[], std::string_view states);

}  // namespace kiv

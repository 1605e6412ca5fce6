// The dispatcher: the command word table, the CGI road from the request's
// action to its handler, and the console modes.
#include "commands/up.h"

#include <array>
#include <cstdlib>
#include <optional>

#include "admin/upadmin.h"
#include "commands/tksearch.h"
#include "commands/upbarcode.h"
#include "commands/upstartup.h"
#include "platform/exit.h"
#include "platform/output.h"
#include "toolkit/kivcgi.h"
#include "toolkit/kivcgitrace.h"
#include "toolkit/kivcontext.h"
#include "toolkit/ntproducts.h"

namespace kiv {

namespace {

// The search script's run as a handler. A search that failed ends the
// request with its status, so the failure is not taken for a page.
int tksearch_handler(int, const std::vector<std::string>&, exlist*) {
  const int r = tksearch();
  if (r != 0) throw Exit{r};
  return 0;
}

// Handlers not in this build yet stand as nullptr.
constexpr std::array<command_entry, 25> kCommands{{
    {"up_startup", up_startup},
    {"up_add", nullptr},
    {"up_assign", nullptr},
    {"up_chart", nullptr},
    {"up_confirmfind", up_confirmfind},
    {"up_confirmprint", nullptr},
    {"up_df", nullptr},
    {"up_find", nullptr},
    {"up_getdf", nullptr},
    {"up_modify", nullptr},
    {"up_print", nullptr},
    {"up_respond", nullptr},
    {"up_row2form", nullptr},
    {"up_sedf", nullptr},
    {"up_delete", nullptr},
    {"up_tree", nullptr},
    {"up_gsql", nullptr},
    {"up_cal", nullptr},
    {"up_sms", nullptr},
    {"tksearch", tksearch_handler},
    {"code__label", code_label},
    {"code_label", code_label},
    {"code__intake", code_intake},
    {"code_intake", code_intake},
    {"up_admin", up_admin},
}};

std::string env_text(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

// ---- CGI ----

[[noreturn]] void cgi_main(std::string_view states) {
  RequestContext& c = reqctx();
  c.prog_states.clear();
  const std::string home = getproducthome();
  const std::string path = statefile_path(home, c.prog_states.empty() ? states : c.prog_states);
  exlist* list = unixcgiinit(path);
  kivtrace("start\n");

  const std::string action = env_text("KIVACTION");
  if (!list || action.empty()) {
    out() << "No KIVACTION variable\n";
    throw Exit{-1};
  }
  kivtrace("kivaction=%s\n", action);
  // Only the state file binds actions: a form field named like an action
  // never supplies a command line.
  const std::optional<std::string> command = getstateval(list, action);
  const std::vector<std::string> words = split_command(command.value_or(std::string()));
  if (words.empty()) {
    pagef("No command for action '%s'\n", action);
    throw Exit{-1};
  }
  kivtrace("Command=%s\n", *command);
  if (std::optional<std::string> debug = getstateval(list, "KIVDEBUG"); debug && std::atoi(debug->c_str()) == 1)
    c.kivdebug = 1;

  const handler_fn handler = find_handler(words[0]);
  if (!handler) {
    pagef("Unknown command '%s' for action '%s'\n", words[0], action);
    throw Exit{-1};
  }
  handler(static_cast<int>(words.size()), words, list);
  throw Exit{0};
}

// ---- console ----

std::string program_name(std::string_view argv0) {
  size_t cut = argv0.rfind('/');
  if (cut == std::string_view::npos) cut = argv0.rfind('\\');
  return std::string(cut == std::string_view::npos ? argv0 : argv0.substr(cut + 1));
}

// The modes whose work is not in this build yet say so and fail.
[[noreturn]] void not_built(std::string_view what) {
  err() << what << " is not built yet\n";
  throw Exit{1};
}

void two_words(std::string_view first, std::string_view second) {
  if (first == "convert") {
    if (second == "users" || second == "staff") not_built("Converting profiles into tables");
    out() << "Wrong convert syntax\n";
  } else if (first == "merge") {
    not_built("Merging resolution texts into problem texts");
  } else {
    out() << "Nothing to do\n";
  }
}

[[noreturn]] void console_main(int argc, const char* const argv[]) {
  const std::string argv0 = argc > 0 && argv[0] ? argv[0] : "";
  std::string name = program_name(argv0);
  if (name.find('.') == std::string::npos) name += ".exe";
  setenv("SCRIPT_NAME", name.c_str(), 1);
  kivtrace("SCRIPTNAME=%s env=%s\n", env_text("SCRIPT_NAME"), "SCRIPT_NAME=" + name);
  getproducthome();
  if (argc == 1) {
    out() << argv0 << ":Version: 5.8.0\n";
  } else if (argc == 3) {
    two_words(argv[1], argv[2]);
  } else {
    not_built("Adding a record from the console");
  }
  throw Exit{0};
}

}  // namespace

std::span<const command_entry> command_table() { return kCommands; }

handler_fn find_handler(std::string_view word) {
  for (const command_entry& e : kCommands)
    if (e.word == word) return e.handler;
  return nullptr;
}

std::vector<std::string> split_command(std::string_view line) {
  std::vector<std::string> words;
  size_t i = 0;
  while (words.size() < kMaxCommandWords) {
    i = line.find_first_not_of(' ', i);
    if (i == std::string_view::npos) break;
    size_t end = line.find(' ', i);
    words.emplace_back(line.substr(i, end == std::string_view::npos ? line.npos : end - i));
    i = end;
  }
  if (i != std::string_view::npos && line.find_first_not_of(' ', i) != std::string_view::npos)
    kivtrace("command line of more than %d words: the rest is dropped\n", static_cast<int>(kMaxCommandWords));
  return words;
}

std::string statefile_path(std::string_view home, std::string_view name) {
  std::string path(home);
  path += "/client/config/";
  path += name;
  return path;
}

int up_main(int argc, const char* const argv[], std::string_view states) {
  try {
    if (std::getenv("SCRIPT_NAME"))
      cgi_main(states);
    else
      console_main(argc, argv);
  } catch (const Exit& e) {
    return e.status;
  }
  return 0;
}

}  // namespace kiv

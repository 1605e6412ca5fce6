// The dispatcher: the command word table, the CGI road from the request's
// action to its handler, and the console modes.
#include "commands/up.h"

#include <array>
#include <cstdlib>
#include <optional>

#include "admin/upadmin.h"
#include "commands/tksearch.h"
#include "commands/upadd.h"
#include "commands/upassign.h"
#include "commands/upbarcode.h"
#include "commands/upcal.h"
#include "commands/upconfirmprint.h"
#include "commands/updelete.h"
#include "commands/updf.h"
#include "commands/upfind.h"
#include "commands/upgsql.h"
#include "commands/upmodify.h"
#include "commands/upprint.h"
#include "commands/uprow2form.h"
#include "commands/upsms.h"
#include "commands/upstartup.h"
#include "commands/uptree.h"
#include "engine/upconvert.h"
#include "engine/upprofile.h"
#include "platform/exit.h"
#include "platform/output.h"
#include "toolkit/cgi/kivcgi.h"
#include "toolkit/base/kivcgitrace.h"
#include "toolkit/base/kivcontext.h"
#include "toolkit/cgi/ntproducts.h"

namespace kiv {

namespace {

// The search script's run as a handler: its result is the request's status,
// so a failed search is not taken for a page.
int tksearch_handler(const std::vector<std::string>&, exlist*) { return tksearch(); }

// A word whose handler is not in the build stands as nullptr and is refused
// like a word outside the table (every word is built now).
constexpr std::array<command_entry, 25> kCommands{{
    {"up_startup", up_startup},
    {"up_add", up_add},
    {"up_assign", up_assign},
    {"up_chart", up_chart},
    {"up_confirmfind", up_confirmfind},
    {"up_confirmprint", up_confirmprint},
    {"up_df", up_df},
    {"up_find", up_find},
    {"up_getdf", up_getdf},
    {"up_modify", up_modify},
    {"up_print", up_print},
    {"up_respond", up_respond},
    {"up_row2form", up_row2form},
    {"up_sedf", up_sedf},
    {"up_delete", up_delete},
    {"up_tree", up_tree},
    {"up_gsql", up_gsql},
    {"up_cal", up_cal},
    {"up_sms", up_sms},
    {"tksearch", tksearch_handler},
    {"code__label", code_label},
    {"code_label", code_label},
    {"code__intake", code_intake},
    {"code_intake", code_intake},
    {"up_admin", up_admin, true},
}};

const command_entry* find_entry(std::string_view word) {
  for (const command_entry& e : kCommands)
    if (e.word == word) return &e;
  return nullptr;
}

// ---- CGI ----

// The request from the home to the handler's page: the home and the state
// file, the CGI start-up, the command line the state file binds to the
// action, the handler. Refusals end with -1.
int cgi_main(std::string_view states) {
  RequestContext& c = reqctx();
  const producthome found = getproducthome();
  c.nvhome = found.home;
  c.prog_states = found.prog_states.value_or(std::string());
  const std::string path = statefile_path(c.nvhome, c.prog_states.empty() ? states : c.prog_states);
  exlist* request = unixcgiinit(path);
  kivtrace("start\n");

  const std::string action = request ? c.action : std::string();
  if (action.empty()) {
    out() << "No KIVACTION variable\n";
    return -1;
  }
  kivtrace("kivaction=%s\n", action);
  // Only the state file binds actions: a form field named like an action
  // never supplies a command line, and a setting of the state file is none.
  const std::optional<std::string> command = getstatecommand(request, action);
  const std::vector<std::string> words = split_command(command.value_or(std::string()));
  if (words.empty()) {
    pagef("No command for action '%s'\n", action);
    return -1;
  }
  kivtrace("Command=%s\n", *command);
  if (std::optional<std::string> debug = getstateval(request, "KIVDEBUG"); debug && std::atoi(debug->c_str()) == 1)
    c.kivdebug = 1;

  const command_entry* entry = find_entry(words[0]);
  if (!entry || !entry->handler) {
    pagef("Unknown command '%s' for action '%s'\n", words[0], action);
    return -1;
  }
  const int result = entry->handler(words, request);
  return entry->page_result ? 0 : result;
}

// ---- console ----

// The console modes by the two words: the conversions end with 1 when
// anything in them failed, so that a script sees it.
int two_words(std::string_view first, std::string_view second) {
  if (first == "convert") {
    if (second == "users") return convertprofiles(kUserProfile) == 0 ? 0 : 1;
    if (second == "staff") return convertprofiles(kStaffProfile) == 0 ? 0 : 1;
    out() << "Wrong convert syntax\n";
  } else if (first == "merge") {
    return merge_problem_resolution() == 0 ? 0 : 1;
  } else {
    out() << "Nothing to do\n";
  }
  return 0;
}

int console_main(int argc, const char* const argv[]) {
  const std::string argv0 = argc > 0 && argv[0] ? argv[0] : "";
  console_start(argv0);
  if (argc == 1) {
    out() << argv0 << ":Version: 5.8.0\n";
    return 0;
  }
  if (argc == 3) return two_words(argv[1], argv[2]);
  // Any other count adds one record without a request: with one or three
  // and more arguments that is always the standard add, never the batch.
  std::vector<std::string> words;
  for (int i = 0; i < argc; ++i) words.emplace_back(argv[i] ? argv[i] : "");
  return up_add(words, nullptr);
}

// Removes the request's untaken uploads however up_main is left.
struct UploadsRemoved {
  ~UploadsRemoved() { remove_saved_uploads(); }
};

}  // namespace

std::span<const command_entry> command_table() { return kCommands; }

std::string program_name(std::string_view argv0) {
  size_t cut = argv0.rfind('/');
  if (cut == std::string_view::npos) cut = argv0.rfind('\\');
  return std::string(cut == std::string_view::npos ? argv0 : argv0.substr(cut + 1));
}

void console_start(std::string_view argv0) {
  RequestContext& c = reqctx();
  std::string name = program_name(argv0);
  if (name.find('.') == std::string::npos) name += ".exe";
  c.script_name = name;
  publish_environment();
  kivtrace("SCRIPTNAME=%s env=%s\n", name, "SCRIPT_NAME=" + name);
  c.nvhome = getproducthome().home;
  publish_environment();
}

handler_fn find_handler(std::string_view word) {
  const command_entry* e = find_entry(word);
  return e ? e->handler : nullptr;
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
  UploadsRemoved uploads;
  int status;
  try {
    status = inherited_env("SCRIPT_NAME") ? cgi_main(states) : console_main(argc, argv);
  } catch (const Exit& e) {
    status = e.status;
  }
  // A refusal page that began with the installation's error head ends with
  // its foot, however the request ended.
  end_error_page();
  return status;
}

}  // namespace kiv

// The request context: the process-wide state of one request, in one place.
// Every request is one process, so there is one instance; tests reset it
// between cases (the accessor registers the reset, platform/state.h).
//
// The environment is an output of the request, not a channel inside it: the
// start-up, the command start-up and the template engine keep what they
// find here, and publish_environment() writes the variables that templates
// (EB), hook scripts and child programs read, all from this record, in one
// step. What the process inherited (the web server's CGI variables, NVHOME,
// PROG_STATES, ...) is read through inherited_env(), which never gives back
// a value the process published itself.
#pragma once

#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kiv {

struct exlist;

struct RequestContext {
  // ---- the installation ----

  // The home folder (NVHOME), the one value every part of a program reads.
  // Set once, at the program's start: by the dispatcher's lookup (the
  // environment, then the registry), by a secure front's fixed
  // configuration, or by start_home() (the environment, then the program's
  // default). Error texts, trace file, login and session files, uploads,
  // scratch files, object files and templates all lie under it.
  std::string nvhome;
  // The state-file name the registry gave under the program's key
  // (PROG_STATES), for the dispatcher.
  std::string prog_states;
  // The state file a set-user-ID front was built with, which the Linux
  // start-up reads in place of PROG_STATES; empty: none is fixed.
  std::string fixed_statefile;

  // ---- the trace ----

  // Trace switch: 0 off, 1 on. Nothing switches it off again.
  int kivdebug = 0;
  // The trace file (KIVTRACE_FILE) the start-up names, "<home>/debug.txt";
  // empty: the one the process inherited, if any. Opened in append mode at
  // the first trace line.
  std::string trace_file;
  std::FILE* debugfp = nullptr;

  // ---- the request ----

  // The program's own script name (SCRIPT_NAME) when a console run named
  // itself; none: the web server's.
  std::optional<std::string> script_name;
  // The request's action (KIVACTION) and menu trigger (MENUTRIG), from the
  // form.
  std::string action;
  std::string menutrig;
  // The session key the request carries, as far as it has the shape of one
  // ("NOKEY" when it has none), and the folder of the login files.
  std::string skey;
  std::string logindir;
  // The key of the request's session (skey): made by a login or an account
  // step, or the request's key once checked; and the login it is bound to.
  std::string session_key;
  std::string session_login;
  // The login name of a login or account step (login), and the user of the
  // request (REMOTE_USER) when the start-up decided it; none: the web
  // server's REMOTE_USER stands.
  std::optional<std::string> login;
  std::optional<std::string> remote_user;
  // The time of the request in asctime's form with its newline (DATE).
  std::string date;

  // Line-break switch of data2brows, set and cleared by the template words
  // bron and broff.
  bool bron = false;

  // The page's length (page_bytes) just after the start-up wrote the
  // content-type line; none: this request wrote none. A message that finds
  // the page still at that length begins the page, and first writes the
  // installation's error head (error_page: written, so the foot ends it).
  std::optional<size_t> header_end;
  bool error_page = false;
  // The page goes to a browser: set by the CGI start-up and by a Linux
  // command program's start. Its messages then never show where the home
  // lies (page_escape); a console run shows its paths to the administrator.
  bool web_page = false;

  // The request variable list the start-up built (readexdata's answer).
  exlist* request_vars = nullptr;

  // Set by the CGI start-up: the state file's path (the usergroups file lies
  // beside it), security on (client/config/login_config exists), the size
  // limit of one uploaded file (-1: none), and the files it saved for
  // uploads (only these are real uploads; the ones no command takes over
  // are removed when the process ends).
  std::string statefile;
  int tkesecflag = 0;
  long attachmentmaxlen = -1;
  std::vector<std::string> uploads;

  // ---- the command ----

  // The search path (PATH): the installation's program folders in front of
  // the inherited one.
  std::string search_path;
  // The date and times of the command start-up (TODAY, TIME, TIME24).
  std::string today, time, time24;
  // The path of the template being printed below the home (TEMPLATE_PATH).
  std::string template_path;

  // ---- what the environment held before the request published ----
  struct Inherited {
    std::string name;
    std::optional<std::string> value;      // before the first publication
    std::optional<std::string> published;  // written last; none while `value` stands
  };
  std::vector<Inherited> inherited;
};

RequestContext& reqctx();

// The names of the variables the request publishes, in the order they are
// written: NVHOME, SCRIPT_NAME, KIVTRACE_FILE, KIVACTION, login, REMOTE_USER,
// MENUTRIG, DATE, skey, PATH, TODAY, TIME, TIME24, TEMPLATE_PATH.
std::span<const std::string_view> published_names();

// Writes every published variable that the context holds a value for into
// the environment; a variable it no longer holds one for goes back to what
// the process inherited. Called where the context gains such values: at the
// end of the start-up, the console start, the command start-up and when a
// template is printed.
void publish_environment();

// A variable of the environment as the process inherited it (from the web
// server or its parent), or none: the value before the process published
// its own under that name.
std::optional<std::string> inherited_env(std::string_view name);

// The value of an environment variable as the request sees it: what the
// context publishes under that name, else the inherited value. The template
// marker EB reads variables through this.
std::optional<std::string> request_env(std::string_view name);

// What the request publishes under that name, or none where the context
// holds no value for it: never the inherited value, unlike request_env.
std::optional<std::string> published_env(std::string_view name);

// The flavour's default home folder: "c:/tiklo" in the Windows flavour,
// "/usr/local/norvale" in the Linux flavour.
std::string_view default_home();

// Sets the home folder (nvhome) at a program's start, where nothing set it
// before: NVHOME as the process inherited it, else `fallback` (empty: no
// home, which the CGI start-up refuses). A home already set (the
// dispatcher's lookup, a secure front's configuration) stays as it is.
// Gives the home. This is the only place a home falls back to anything.
const std::string& start_home(std::string_view fallback);

// ---- uploads ----

// A command takes over an upload the start-up saved for this request: from
// then on the file is the command's (it moves or deletes it), and it is no
// longer removed when the request ends. False when `path` is not one of this
// request's saved uploads (nothing changes then).
bool take_upload(std::string_view path);
// True when `path` is a file the multipart reader saved for this request and
// no command has taken over.
bool is_saved_upload(std::string_view path);
// Deletes every saved upload no command took over, and forgets them: at the
// end of every request (a normal end, an Exit, a refusal, exhausted memory).
// Allocates nothing.
void remove_saved_uploads();

// Back to a new process's state: closes the trace file, and puts back the
// environment variables the request published (unless something else
// changed them since).
void reset_reqctx();

}  // namespace kiv

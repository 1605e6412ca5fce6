// The Linux start-up of the front program `upcgi`: the toolkit's CGI start-up
// in the Linux flavour, then the process tail, which starts the command line
// the state file binds to the request's action as a child process, hands it
// the request variable list as a stream on its standard input and copies
// its output to the web server. A front that runs set-user-ID or
// set-group-ID takes nothing that steers it from its environment.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/process.h"
#include "toolkit/request/kivexfile.h"

namespace kiv::kivexec {

// The most words a command line may have; a longer one is not started.
inline constexpr size_t kMaxCommandWords = 19;

// How long a command may run before its process group is killed. It covers
// the longest wait of a command of this system (code_intake's reader, see
// commands/upbarcode.h) with room to spare.
inline constexpr std::chrono::seconds kCommandLimit{900};

// The search path of a secure front, and of its command's lookup.
inline constexpr std::string_view kSecurePath = "/usr/local/bin:/usr/bin:/bin";

// The state file of a secure front, fixed when the program is built.
std::string_view fixed_statefile();

// What the front takes from where. In a secure front the state file is the
// fixed one, the home is the folder above its client/config, the search
// path is kSecurePath, and PROG_STATES, NVHOME, KIVDEBUG, KIVTRACE_FILE and
// PATH of the environment count for nothing.
struct FrontConfig {
  bool secure = false;
  std::string statefile;  // empty: the start-up's own choice (PROG_STATES, else its default)
  std::string home;       // empty: NVHOME
};

// True when this process runs set-user-ID or set-group-ID (AT_SECURE).
bool running_secure();

// The configuration of a front; `secure` as running_secure() says.
FrontConfig front_config(bool secure);

// Puts a secure front's configuration in place of the environment's: the
// variables that would steer it (PROG_STATES, NVHOME, KIVDEBUG,
// KIVTRACE_FILE, PATH) are removed before anything reads them, and the home
// and the state file are the request context's (nvhome, fixed_statefile).
// The search path reaches the command's lookup as a parameter (runcommand);
// nothing goes through the environment.
void apply_front_config(const FrontConfig& config);

// Empty when `path` and every folder above it belong to root and can be
// written by no one else; else what is wrong, for the message.
std::string untrusted_reason(const std::string& path);

// After the identity switch: empty when no id of root remains (real,
// effective and saved user and group ids, supplementary groups) and none
// can be taken back; else what remains. A set-group-ID front gives up its
// group here (the real group id becomes all three).
std::string root_remains();

// The words of a command text, split at blanks (runs of blanks count as
// one); none when it has more than kMaxCommandWords words.
std::optional<std::vector<std::string>> command_words(std::string_view text);

// The command's environment. An ordinary front passes the start-up's own
// variables first (KIVACTION, skey, REMOTE_USER, login, MENUTRIG, DATE, as
// the request context holds them), then this process's environment without
// the variables that change how a program is loaded. A secure front passes
// an allow-list and nothing else: the start-up's variables as the context
// publishes them, the fixed NVHOME, PROG_STATES and PATH, then the CGI
// variables of the web server (those of the CGI environment record and the
// request's HTTP_* headers, HTTP_PROXY never).
std::vector<std::string> command_environment(const FrontConfig& config);

// What the front holds of its command while it runs. One instance; tests
// reset it (registered with the state resets).
struct FrontState {
  // The words of the command setup_pipe prepared.
  std::vector<std::string> command;
  // How long the command may run before its process group is killed
  // (kCommandLimit; tests shorten it).
  std::chrono::milliseconds command_limit = kCommandLimit;
  // The page the command's output is copied to (standard output), whether
  // it has gone (a write failed, or found no room before the deadline), and
  // until when a write may wait for room (the command's time limit).
  int pagefd = 1;
  bool page_gone = false;
  std::chrono::steady_clock::time_point page_deadline = std::chrono::steady_clock::time_point::max();
};

FrontState& frontstate();

// Prepares the command: installs sigpipe (and SIGSEGV, SIGBUS at their
// defaults), flushes the page, traces "setup_pipe OLD cmd='%s'\n" and keeps
// its words in frontstate(). 0; -1 (message on standard error) for a command
// of no word or of more than kMaxCommandWords words, which is not started.
int setup_pipe(const std::string& command);

// Runs the prepared command through the process layer: the argument vector
// of its words, command_environment(config), its own process group,
// frontstate().command_limit, and in a secure front the lookup on
// kSecurePath. The layer writes `input` (the list's records) down its
// standard input in the same loop that hands each piece of its output to
// commandread2out as it arrives. The result as command_end gives it.
int runcommand(const std::string& input, const FrontConfig& config);

// How a run of the command ends the front: 0 when it ran (a note on standard
// error when it was killed at its limit) or its program could not be run
// ("Can't execute %s errno=%d\n" on standard error); -1 after "bad  finish
// read errno=%d\n" on standard error when its output could not be read.
// When no process could be made ("setup_pipe can't fork errno=%d\n") or its
// pipes could not ("setup_pipe can't close pipes\n errno=%d"), both on
// standard error, the process ends with status 1.
int command_end(const process::Result& result, const std::string& program, const process::Options& options);

// The start-up's signal handlers. sigpipe reinstalls itself and
// does nothing else, so that a write to a reader that has gone fails with
// EPIPE instead of ending the front. sigchild collects the one child whose
// id execstate() holds, by that id; it is not installed while the process
// layer supervises the child, since the layer reaps it itself.
void sigchild(int);
void sigpipe(int);

// The copying step: one piece of the command's output to the page
// (frontstate().pagefd), written whole: interrupted and partial writes are
// repeated, and a write waits for room no longer than page_deadline. From
// the first write that fails (EPIPE: the web server has gone) or finds no
// room in time, the page has gone: that piece and every later one are
// dropped, so that the command is still read to its end and finishes its
// work. 0 when the piece was written, -1 when it was dropped.
int commandread2out(std::string_view piece);

// The Linux start-up as a whole: the toolkit's start-up in the Linux
// flavour, then the process tail. 0 after the command's output has been
// copied to its end, -1 when reading it failed; ends the process (kiv::Exit)
// on the start-up's failures and on the tail's own.
int unixcgiinit();
// The same with the front's configuration already taken.
int unixcgiinit(const FrontConfig& config);

// The program upcgi: the content-type line first ("Content-type:
// text/html\n\n", with "Cache-Control: no-store" while logins are on in its
// home: content_type_header), then unixcgiinit(); its exit status. However
// it ends, the uploads the request saved and the command did not move are
// removed.
int upcgi_main();

}  // namespace kiv::kivexec

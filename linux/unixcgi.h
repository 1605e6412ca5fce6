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

#include "toolkit/kivexfile.h"

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
// variables that would steer it are removed or set to the fixed values, and
// the home is the request context's.
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

// The command's environment: the start-up's own variables first (KIVACTION,
// skey, REMOTE_USER, login, MENUTRIG, DATE, as the request context holds
// them), then this process's environment without the variables that change
// how a program is loaded; a
// secure front also drops the variables the C library ignores in
// set-user-ID programs (GCONV_PATH, LOCPATH, NLSPATH, MALLOC_*, ...).
std::vector<std::string> command_environment(const FrontConfig& config);

// Starts the command through the process layer: the argument vector of its
// words, the environment above, its own process group and kCommandLimit.
// The layer writes `input` (the list's records) down its standard input in
// the same loop that takes its output, which goes into a spool that
// kivreadfd is left reading from its start. 0 when the command ran or its
// program could not be run ("Can't execute %s errno=%d\n" on standard
// error; the spool stays empty); -1 when no process could be made ("setup_pipe
// can't fork errno=%d\n") or the spool could not be ("setup_pipe can't close
// pipes\n errno=%d"), or the command has too many words.
int setup_pipe(const std::string& command, const std::string& input, const FrontConfig& config);

// The signal handlers of the Part's start-up. sigpipe reinstalls itself and
// does nothing else, so that a write to a reader that has gone fails with
// EPIPE instead of ending the front. sigchild collects the one child whose
// id execstate() holds, by that id; it is not installed while the process
// layer supervises the child, since the layer reaps it itself.
void sigchild(int);
void sigpipe(int);

// Copies `fd` to standard output in blocks of up to 4096 bytes, each written
// whole; when standard output has gone, the rest is still read so that the
// copy ends with the input. 0 at the end of the input; -1 after "bad  finish
// read errno=%d\n" on standard error for a read error.
int commandread2out(int fd);

// The Linux start-up as a whole: the toolkit's start-up in the Linux
// flavour, then the process tail. 0 after the command's output has been
// copied to its end, -1 when reading it failed; ends the process (kiv::Exit)
// on the start-up's failures and on the tail's own.
int unixcgiinit();

// The program upcgi: "Content-type: text/html\n\n" first, then
// unixcgiinit(); its exit status. However it ends, the uploads the request
// saved and the command did not move are removed.
int upcgi_main();

}  // namespace kiv::kivexec

// Starting child processes. A child is started from an argument vector, never
// through a shell, wherever its command line is built from data; only a
// command an administrator configured may be run through "/bin/sh -c". Every
// child gets an explicit environment, standard input from /dev/null unless
// the caller gives it input through a pipe, its own process group, and a
// time limit after which the whole group is killed.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kiv::process {

struct Options {
  // The child's whole environment, as "NAME=value" texts; nothing else is
  // passed on.
  std::vector<std::string> env;
  // Written to the child's standard input through a pipe, which is closed
  // after it; none: standard input reads /dev/null.
  std::optional<std::string> input;
  // Standard output: a descriptor of the caller's (a file it opened), else
  // handed to output_sink, else collected into Result::output when
  // capture_output, else the caller's own.
  int stdout_fd = -1;
  bool capture_output = false;
  // Each piece of the child's standard output as it arrives, handed over by
  // the loop that also feeds the child's input, so that neither side waits
  // on the other and nothing is kept here. The sink may block (it writes to
  // a slow reader); the time limit is looked at again when it returns.
  std::function<void(std::string_view)> output_sink;
  // Standard error goes to the caller's own unless this is set: then it is
  // collected into Result::errors.
  bool capture_errors = false;
  // The most bytes Result::output and Result::errors each keep; what a child
  // writes beyond it is read and dropped, so it never blocks on a full pipe
  // and never fills the caller's memory. None: everything is kept.
  std::optional<std::size_t> capture_limit;
  // After this the child's process group is killed.
  std::chrono::milliseconds limit{std::chrono::seconds(60)};
  // The folders, as PATH lists them, that an argv[0] without "/" is looked
  // up in; none: this process's PATH.
  std::optional<std::string> search_path;
};

struct Result {
  bool started = false;
  int error = 0;           // errno of a start that failed
  bool no_pipes = false;   // the start failed because its pipes could not be made
  int read_error = 0;      // errno of a read of the child's output or errors that
                           // failed; that stream was not read further
  bool timed_out = false;  // killed at the time limit
  int status = -1;         // exit status, when the child exited
  int signal = 0;          // the signal that ended it, when one did
  std::string output;      // standard output, when captured
  std::string errors;      // standard error, when captured
  bool cut = false;        // output or errors went past the capture limit

  // Started, ended by itself with status 0.
  bool ok() const { return started && !timed_out && signal == 0 && status == 0; }
};

// Runs argv[0] with the arguments argv[1..]. An argv[0] without "/" is looked
// up in Options::search_path, else in this process's PATH. Page output is
// flushed first, so the child's writes to shared descriptors come after it.
// While the child runs, SIGPIPE is ignored and SIGCHLD is at its default in
// the caller.
Result run(const std::vector<std::string>& argv, const Options& options);

// Runs an administrator's command line through "/bin/sh -c". Never for a text
// that holds request or record data.
Result run_shell(const std::string& command, const Options& options);

// This process's environment without the variables that change how a
// program is loaded or how a shell reads its input (unsafe_variable).
std::vector<std::string> safe_environment();

// True for the names of those variables: LD_*, BASH_* (exported functions
// included), IFS, ENV, BASH_ENV, SHELLOPTS, BASHOPTS, PS4, CDPATH,
// GLOBIGNORE, the C library's GCONV_PATH, GLIBC_TUNABLES, LOCPATH, NLSPATH,
// HOSTALIASES, RESOLV_HOST_CONF, MALLOC_TRACE, HTTP_PROXY (a request's
// "Proxy:" header under CGI), and the start-up variables of interpreters
// that a hook script may be written in: PYTHON*, PERL5*, PERLLIB, RUBY*,
// NODE_*, JAVA_TOOL_OPTIONS and _JAVA_OPTIONS. A caller that adds variables
// of its own to an environment checks their names here.
bool unsafe_variable(std::string_view name);

// What ended a child, for a message: "exit status 3", "signal 9",
// "no end within 60 s", "cannot start: <reason>".
std::string describe(const Result& result, const Options& options);

}  // namespace kiv::process

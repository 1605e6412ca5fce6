// The Linux start-up of the front program (see unixcgi.h): the secure
// front's fixed configuration, the identity checks after the switch, the
// command's words and environment, its run through the process layer with
// the request variable stream as its input, and the copy of its output to
// the page as it arrives.
#include "linux/unixcgi.h"

#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/auxv.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cassert>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "linux/kivexec.h"
#include "platform/exit.h"
#include "platform/flavour.h"
#include "platform/output.h"
#include "platform/process.h"
#include "platform/state.h"
#include "toolkit/cgi/kivcgi.h"
#include "toolkit/base/kivcgitrace.h"
#include "toolkit/base/kivcontext.h"
#include "toolkit/base/kivfmt.h"

#ifndef KIV_FIXED_PROG_STATES
#define KIV_FIXED_PROG_STATES "/usr/local/norvale/client/config/prog_states"
#endif

namespace kiv::kivexec {

namespace {

constexpr size_t kCopyBlock = 4096;

// The variables the start-up itself puts into the environment, which the
// command is given ahead of everything else.
constexpr std::array<std::string_view, 6> kStartupVariables = {"KIVACTION", "skey", "REMOTE_USER",
                                                               "login",     "MENUTRIG", "DATE"};

// What a secure front takes from nowhere but its fixed configuration.
constexpr std::array<const char*, 5> kSteering = {"PROG_STATES", "NVHOME", "KIVDEBUG", "KIVTRACE_FILE", "PATH"};

// The variables of the CGI environment record (toolkit/request/kivcgiclient.h): what
// a secure front passes on of the web server's, with the request's HTTP_*
// headers.
constexpr std::array<std::string_view, 18> kCgiVariables = {
    "SERVER_SOFTWARE", "SERVER_NAME", "GATEWAY_INTERFACE", "SERVER_PROTOCOL", "SERVER_PORT", "REQUEST_METHOD",
    "HTTP_ACCEPT",     "PATH_INFO",   "PATH_TRANSLATED",   "SCRIPT_NAME",     "QUERY_STRING", "REMOTE_HOST",
    "REMOTE_ADDR",     "AUTH_TYPE",   "REMOTE_USER",       "REMOTE_IDENT",    "CONTENT_TYPE", "CONTENT_LENGTH"};

std::string_view name_of(std::string_view entry) { return entry.substr(0, entry.find('=')); }

bool cgi_variable(std::string_view name) {
  if (name.starts_with("HTTP_")) return !process::unsafe_variable(name);  // never HTTP_PROXY
  for (std::string_view v : kCgiVariables)
    if (name == v) return true;
  return false;
}

bool startup_variable(std::string_view name) {
  for (std::string_view v : kStartupVariables)
    if (name == v) return true;
  return false;
}

// The command line the state file binds to the action: none for a setting
// of the state file, and none for an object's value that the state file
// configures, which the front would otherwise run as a program.
std::optional<std::string> action_command(const exlist* request, std::string_view action) {
  if (action.ends_with(".VALUE")) return std::nullopt;
  return getstatecommand(request, action);
}

std::string parent_of(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

void install(int signo, void (*handler)(int)) {
  struct sigaction sa {};
  sa.sa_handler = handler;
  sigemptyset(&sa.sa_mask);
  ::sigaction(signo, &sa, nullptr);
}

[[noreturn]] void cant_set_user() {
  out() << "can't set user";
  throw Exit{1};
}

// The identity a command may run under: USER given, and after the switch
// nothing of root left. Only a front that is not root (nor set-user-ID) may
// go without USER: it keeps its identity, as the state file leaves it. A
// front started as root without one would run every command as root.
void check_identity(const exlist& request, const FrontConfig& config) {
  const std::optional<std::string> user = getstateval(&request, "USER");
  if (!user) {
    if (!config.secure && ::geteuid() != 0) return;
    pagef("USER is not specified in the state file\n");
    cant_set_user();
  }
  const std::string remains = root_remains();
  if (!remains.empty()) {
    kivtrace("after the switch %s\n", remains);
    pagef("Failed to setuid to id='%d'. errno=%d\n", std::atoi(user->c_str()), EPERM);
    cant_set_user();
  }
}

}  // namespace

std::string_view fixed_statefile() { return KIV_FIXED_PROG_STATES; }

bool running_secure() { return ::getauxval(AT_SECURE) != 0; }

FrontConfig front_config(bool secure) {
  FrontConfig c;
  c.secure = secure;
  if (!secure) return c;
  c.statefile = std::string(fixed_statefile());
  std::string config = parent_of(c.statefile);
  constexpr std::string_view kConfig = "/client/config";
  c.home = config.ends_with(kConfig) ? config.substr(0, config.size() - kConfig.size()) : parent_of(parent_of(config));
  if (c.home.empty()) c.home = "/";
  return c;
}

// What the caller of a secure front left in its environment to steer it is
// removed before anything reads it (the start-up's KIVDEBUG, the trace's
// KIVTRACE_FILE). The home and the fixed state file go to the start-up
// through the request context, and the fixed search path to the command's
// lookup, so nothing is put into the environment to be read back.
void apply_front_config(const FrontConfig& config) {
  if (!config.secure) return;
  for (const char* name : kSteering) ::unsetenv(name);
  reqctx().nvhome = config.home;
  reqctx().fixed_statefile = config.statefile;
}

std::string untrusted_reason(const std::string& path) {
  std::string p = path;
  for (;;) {
    struct stat st;
    if (::lstat(p.c_str(), &st) != 0) return sformat("%s cannot be examined (errno=%d)", p, errno);
    if (S_ISLNK(st.st_mode)) return p + " is a symbolic link";
    if (st.st_uid != 0) return p + " does not belong to root";
    if (st.st_mode & (S_IWGRP | S_IWOTH)) return p + " can be written by others than root";
    if (p == "/") return {};
    p = parent_of(p);
  }
}

std::string root_remains() {
  uid_t ru, eu, su;
  gid_t rg, eg, sg;
  if (::getresgid(&rg, &eg, &sg) == 0 && (eg != rg || sg != rg) && ::setresgid(rg, rg, rg) != 0)
    return sformat("the group id %d cannot be given up (errno=%d)", static_cast<long long>(eg), errno);
  if (::getresuid(&ru, &eu, &su) != 0 || ::getresgid(&rg, &eg, &sg) != 0) return "the ids cannot be read";
  if (ru == 0 || eu == 0 || su == 0) return "a user id of root";
  if (rg == 0 || eg == 0 || sg == 0) return "a group id of root";
  const int n = ::getgroups(0, nullptr);
  std::vector<gid_t> groups(static_cast<size_t>(n > 0 ? n : 0));
  if (n > 0 && ::getgroups(n, groups.data()) != n) return "the groups cannot be read";
  for (gid_t g : groups)
    if (g == 0) return "the group of root";
  // Nothing of root may be taken back either (capabilities kept through
  // the switch would allow it).
  if (::setresuid(static_cast<uid_t>(-1), 0, static_cast<uid_t>(-1)) == 0) return "root can be taken back";
  if (::setresgid(static_cast<gid_t>(-1), 0, static_cast<gid_t>(-1)) == 0) return "root's group can be taken back";
  return {};
}

std::optional<std::vector<std::string>> command_words(std::string_view text) {
  std::vector<std::string> words;
  size_t i = 0;
  for (;;) {
    i = text.find_first_not_of(' ', i);
    if (i == std::string_view::npos) return words;
    if (words.size() == kMaxCommandWords) return std::nullopt;
    const size_t end = text.find(' ', i);
    words.emplace_back(text.substr(i, end == std::string_view::npos ? text.npos : end - i));
    i = end;
  }
}

std::vector<std::string> command_environment(const FrontConfig& config) {
  std::vector<std::string> env;
  if (!config.secure) {
    for (std::string_view name : kStartupVariables)
      if (std::optional<std::string> v = request_env(name)) env.push_back(std::string(name) + "=" + *v);
    for (std::string& e : process::safe_environment())
      if (!startup_variable(name_of(e))) env.push_back(std::move(e));
    return env;
  }
  // The start-up's own values, never a caller's variable of the same name.
  std::vector<std::string_view> given;
  for (std::string_view name : kStartupVariables) {
    if (std::optional<std::string> v = published_env(name)) {
      env.push_back(std::string(name) + "=" + *v);
      given.push_back(name);
    }
  }
  env.push_back("NVHOME=" + config.home);
  env.push_back("PROG_STATES=" + config.statefile);
  env.push_back("PATH=" + std::string(kSecurePath));
  for (std::string& e : process::safe_environment()) {
    const std::string_view name = name_of(e);
    if (!cgi_variable(name) || std::find(given.begin(), given.end(), name) != given.end()) continue;
    env.push_back(std::move(e));
  }
  return env;
}

FrontState& frontstate() {
  static FrontState state;
  KIV_REGISTER_RESET([] { frontstate() = FrontState{}; });
  return state;
}

void sigpipe(int) { install(SIGPIPE, sigpipe); }

void sigchild(int) {
  const int saved = errno;
  const pid_t child = execstate().child;
  if (child > 0) {
    int status;
    if (::waitpid(child, &status, WNOHANG) == child) execstate().child = -1;
  }
  errno = saved;
}

int setup_pipe(const std::string& command) {
  install(SIGPIPE, sigpipe);
  install(SIGSEGV, SIG_DFL);
  install(SIGBUS, SIG_DFL);
  flush_all();
  kivtrace("setup_pipe OLD cmd='%s'\n", command);
  FrontState& f = frontstate();
  f.command.clear();
  std::optional<std::vector<std::string>> words = command_words(command);
  if (!words) {
    err() << sformat("setup_pipe: more than %d words in cmd='%s'\n", static_cast<int>(kMaxCommandWords), command);
    return -1;
  }
  if (words->empty()) {
    err() << "setup_pipe: no command\n";
    return -1;
  }
  f.command = std::move(*words);
  return 0;
}

int runcommand(const std::string& input, const FrontConfig& config) {
  FrontState& f = frontstate();
  assert(!f.command.empty());
  process::Options options;
  options.env = command_environment(config);
  options.input = input;
  options.limit = f.command_limit;
  if (config.secure) options.search_path = std::string(kSecurePath);
  // The page is written as the command writes it, so that nothing is kept
  // here and a web server that reads slowly holds the command back instead.
  options.output_sink = [](std::string_view piece) { commandread2out(piece); };
  f.page_deadline = std::chrono::steady_clock::now() + f.command_limit;
  const process::Result r = process::run(f.command, options);
  return command_end(r, f.command[0], options);
}

int command_end(const process::Result& r, const std::string& program, const process::Options& options) {
  if (!r.started) {
    if (r.no_pipes) {
      err() << sformat("setup_pipe can't close pipes\n errno=%d", r.error);
      throw Exit{1};
    }
    if (r.error == EAGAIN || r.error == ENOMEM) {
      // No process could be made: the front fails, as a failed fork did.
      err() << sformat("setup_pipe can't fork errno=%d\n", r.error);
      throw Exit{1};
    }
    err() << sformat("Can't execute %s errno=%d\n", program, r.error);
    return 0;
  }
  if (r.timed_out) err() << sformat("The command %s was ended: %s\n", program, process::describe(r, options));
  if (r.read_error) {
    err() << sformat("bad  finish read errno=%d\n", r.read_error);
    return -1;
  }
  return 0;
}

int commandread2out(std::string_view piece) {
  FrontState& f = frontstate();
  while (!f.page_gone && !piece.empty()) {
    // Room first, so that a web server that stopped reading holds the copy
    // no longer than the command may run.
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(f.page_deadline -
                                                                             std::chrono::steady_clock::now());
    const bool forever = f.page_deadline == std::chrono::steady_clock::time_point::max();
    pollfd pfd{f.pagefd, POLLOUT, 0};
    const int ready = ::poll(&pfd, 1, forever ? -1 : static_cast<int>(std::clamp<long long>(left.count(), 0, 1000)));
    if (ready < 0 && errno == EINTR) continue;
    if (ready == 0) {
      if (!forever && left.count() <= 0) f.page_gone = true;
      continue;
    }
    // A block no larger than a pipe takes at once, so that the write does
    // not wait after poll found room.
    const ssize_t n = ::write(f.pagefd, piece.data(), std::min(piece.size(), kCopyBlock));
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) {
      f.page_gone = true;
      break;
    }
    piece.remove_prefix(static_cast<size_t>(n));
  }
  return f.page_gone ? -1 : 0;
}

int unixcgiinit() { return unixcgiinit(front_config(running_secure())); }

int unixcgiinit(const FrontConfig& config) {
  if (config.secure) {
    const std::string reason = untrusted_reason(config.statefile);
    // A missing state file is reported by the start-up in its own words.
    // (lstat looks with the front's effective ids, as the start-up's open.)
    struct stat st;
    const bool missing = ::lstat(config.statefile.c_str(), &st) != 0 && errno == ENOENT;
    if (!reason.empty() && !missing) {
      errmsg("The state file is not safe: %s\n", reason);
      throw Exit{1};
    }
  }
  apply_front_config(config);
  exlist* request = kiv::unixcgiinit();
  if (!request) throw Exit{1};
  check_identity(*request, config);

  const std::string action = reqctx().action;
  const std::optional<std::string> line = action_command(request, action);
  if (!line) {
    pagef("No command for action '%s'\n", action);
    throw Exit{-1};
  }
  const std::string text = sformat("%s %s", *line, " ");
  kivtrace("EXECUTING cmd='%s' error=%d\n", text, errno);
  const int r = setup_pipe(text);
  kivtrace("EXECUTING AFTER SETUP error=%d\n", errno);
  if (r < 0) throw Exit{1};
  kivtrace("Start Printing ALL INPUTS");
  printexdata(request);
  kivtrace("Finish Printing ALL INPUTS");
  // What the start-up wrote precedes the command's page, which the command
  // writes itself from here (past out()): no message of the front begins
  // the page any more.
  flush_all();
  reqctx().header_end.reset();
  return runcommand(exdatarecords(request), config);
}

int upcgi_main() {
  // From the first line on, a web server that has gone makes writes fail
  // instead of ending the front (the trace flushes the page early).
  install(SIGPIPE, sigpipe);
  int status = 0;
  try {
    // The header goes first, before any message; its home is the fixed one
    // of a secure front, else the one the start-up takes (NVHOME).
    const FrontConfig config = front_config(running_secure());
    out() << content_type_header(config.secure ? config.home : start_home({}));
    content_type_written();
    status = unixcgiinit(config);
  } catch (const Exit& e) {
    status = e.status;
  }
  end_error_page();
  // The command has ended: what it did not take of the request's uploads
  // goes, as at the end of any request.
  remove_saved_uploads();
  flush_all();
  return status;
}

}  // namespace kiv::kivexec

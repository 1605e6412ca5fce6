// The Linux start-up of the front program (see unixcgi.h): the secure
// front's fixed configuration, the identity checks after the switch, the
// command's words and environment, its run through the process layer with
// the request variable stream as its input, and the copy of its output.
#include "linux/unixcgi.h"

#include <grp.h>
#include <signal.h>
#include <sys/auxv.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "linux/kivexec.h"
#include "platform/exit.h"
#include "platform/flavour.h"
#include "platform/output.h"
#include "platform/process.h"
#include "toolkit/kivcgi.h"
#include "toolkit/kivcgitrace.h"
#include "toolkit/kivcontext.h"
#include "toolkit/kivfmt.h"

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

// Variables the C library ignores in a set-user-ID program because they
// change what it loads or reads; a secure front's command, which runs as an
// ordinary program, must not get them from the front's caller either.
constexpr std::array<std::string_view, 13> kLibraryVariables = {
    "GCONV_PATH", "GETCONF_DIR",      "GLIBC_TUNABLES", "HOSTALIASES", "LOCALDOMAIN", "LOCPATH", "MALLOC_",
    "NIS_PATH",   "NLSPATH",          "RESOLV_HOST_CONF", "RES_OPTIONS", "TMPDIR",    "TZDIR"};

std::string_view name_of(std::string_view entry) { return entry.substr(0, entry.find('=')); }

bool library_variable(std::string_view name) {
  for (std::string_view v : kLibraryVariables) {
    const bool prefix = v.ends_with('_');
    if (prefix ? name.starts_with(v) : name == v) return true;
  }
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
std::optional<std::string> action_command(const exlist* list, std::string_view action) {
  if (action.ends_with(".VALUE")) return std::nullopt;
  return getstatecommand(list, action);
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
// nothing of root left. A front that was not root and has no USER keeps its
// identity, as the state file leaves it.
void check_identity(const exlist& list, const FrontConfig& config) {
  const std::optional<std::string> user = getstateval(&list, "USER");
  if (!user) {
    if (!config.secure) return;
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

// What the caller of a secure front left in its environment is replaced
// before anything reads it: the start-up then reads the fixed state file as
// the one the front was given (PROG_STATES), the home is the context's, and
// the command is looked up on the fixed search path.
void apply_front_config(const FrontConfig& config) {
  if (!config.secure) return;
  for (const char* name : kSteering) ::unsetenv(name);
  ::setenv("PROG_STATES", config.statefile.c_str(), 1);
  ::setenv("PATH", std::string(kSecurePath).c_str(), 1);
  reqctx().nvhome = config.home;
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
  for (std::string_view name : kStartupVariables)
    if (std::optional<std::string> v = request_env(name)) env.push_back(std::string(name) + "=" + *v);
  for (std::string& e : process::safe_environment()) {
    const std::string_view name = name_of(e);
    if (startup_variable(name) || (config.secure && library_variable(name))) continue;
    env.push_back(std::move(e));
  }
  return env;
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

int setup_pipe(const std::string& command, const std::string& input, const FrontConfig& config) {
  install(SIGPIPE, sigpipe);
  install(SIGSEGV, SIG_DFL);
  install(SIGBUS, SIG_DFL);
  flush_all();
  kivtrace("setup_pipe OLD cmd='%s'\n", command);
  const std::optional<std::vector<std::string>> words = command_words(command);
  if (!words) {
    err() << sformat("setup_pipe: more than %d words in cmd='%s'\n", static_cast<int>(kMaxCommandWords), command);
    return -1;
  }
  if (words->empty()) {
    err() << "setup_pipe: no command\n";
    return -1;
  }
  // The command's page goes into a spool in memory, so that it never waits
  // on the web server while it writes, and is copied out after it ended.
  const int spool = ::memfd_create("upcgi-page", MFD_CLOEXEC);
  if (spool < 0) {
    err() << sformat("setup_pipe can't close pipes\n errno=%d", errno);
    return -1;
  }
  process::Options options;
  options.env = command_environment(config);
  options.input = input;
  options.stdout_fd = spool;
  options.limit = kCommandLimit;
  const process::Result r = process::run(*words, options);
  if (!r.started && (r.error == EAGAIN || r.error == ENOMEM)) {
    // No process could be made: the front fails, as a failed fork did.
    ::close(spool);
    err() << sformat("setup_pipe can't fork errno=%d\n", r.error);
    return -1;
  }
  if (!r.started)
    err() << sformat("Can't execute %s errno=%d\n", (*words)[0], r.error);
  else if (r.timed_out)
    err() << sformat("The command %s was ended: %s\n", (*words)[0], process::describe(r, options));
  ::lseek(spool, 0, SEEK_SET);
  execstate().kivreadfd = spool;
  return 0;
}

int commandread2out(int fd) {
  std::string block(kCopyBlock, '\0');
  for (;;) {
    const ssize_t n = ::read(fd, block.data(), block.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      err() << sformat("bad  finish read errno=%d\n", errno);
      return -1;
    }
    if (n == 0) return 0;
    // The page sink writes the block whole; when the web server has gone
    // it drops it and the copy goes on to the end of the input.
    out() << std::string_view(block.data(), static_cast<size_t>(n));
    out().flush();
  }
}

int unixcgiinit() {
  const FrontConfig config = front_config(running_secure());
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
  exlist* list = kiv::unixcgiinit();
  if (!list) throw Exit{1};
  check_identity(*list, config);

  const std::string action = reqctx().action;
  const std::optional<std::string> line = action_command(list, action);
  if (!line) {
    pagef("No command for action '%s'\n", action);
    throw Exit{-1};
  }
  const std::string text = sformat("%s %s", *line, " ");
  kivtrace("EXECUTING cmd='%s' error=%d\n", text, errno);
  const int r = setup_pipe(text, exdatarecords(list), config);
  kivtrace("EXECUTING AFTER SETUP error=%d\n", errno);
  if (r < 0) throw Exit{1};
  kivtrace("Start Printing ALL INPUTS");
  printexdata(list);
  kivtrace("Finish Printing ALL INPUTS");
  flush_all();
  ExecState& st = execstate();
  const int copied = commandread2out(st.kivreadfd);
  ::close(st.kivreadfd);
  st.kivreadfd = -1;
  return copied;
}

int upcgi_main() {
  // From the first line on, a web server that has gone makes writes fail
  // instead of ending the front (the trace flushes the page early).
  install(SIGPIPE, sigpipe);
  int status = 0;
  try {
    out() << "Content-type: text/html\n\n";
    status = unixcgiinit();
  } catch (const Exit& e) {
    status = e.status;
  }
  // The command has ended: what it did not take of the request's uploads
  // goes, as at the end of any request.
  remove_saved_uploads();
  flush_all();
  return status;
}

}  // namespace kiv::kivexec

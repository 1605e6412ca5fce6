// Child processes on posix_spawn: descriptors set up by file actions, the
// child in a process group of its own so that a time limit ends everything
// it started, and one poll loop that feeds its input, collects its output
// and waits for its end (through a process descriptor where the kernel has
// one).
#include "platform/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include "platform/output.h"

extern char** environ;

namespace kiv::process {

namespace {

using Clock = std::chrono::steady_clock;

// A descriptor closed when it goes out of scope.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() { reset(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  bool open() const { return fd_ >= 0; }
  void reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

struct Pipe {
  Fd read, write;
  bool make() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return false;
    read.reset(fds[0]);
    write.reset(fds[1]);
    return true;
  }
};

// While a child runs: SIGPIPE is ignored, so that a child that stops reading
// its input does not end the caller; SIGCHLD is at its default, so that the
// child is not reaped behind our back when the caller was started with it
// ignored.
class SignalGuard {
 public:
  SignalGuard() {
    struct sigaction ign {}, dfl {};
    ign.sa_handler = SIG_IGN;
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&ign.sa_mask);
    sigemptyset(&dfl.sa_mask);
    ::sigaction(SIGPIPE, &ign, &old_pipe_);
    ::sigaction(SIGCHLD, &dfl, &old_chld_);
  }
  ~SignalGuard() {
    ::sigaction(SIGPIPE, &old_pipe_, nullptr);
    ::sigaction(SIGCHLD, &old_chld_, nullptr);
  }
  SignalGuard(const SignalGuard&) = delete;
  SignalGuard& operator=(const SignalGuard&) = delete;

 private:
  struct sigaction old_pipe_ {}, old_chld_ {};
};

class SpawnActions {
 public:
  SpawnActions() { posix_spawn_file_actions_init(&fa_); }
  ~SpawnActions() { posix_spawn_file_actions_destroy(&fa_); }
  SpawnActions(const SpawnActions&) = delete;
  SpawnActions& operator=(const SpawnActions&) = delete;
  posix_spawn_file_actions_t* get() { return &fa_; }

 private:
  posix_spawn_file_actions_t fa_;
};

class SpawnAttr {
 public:
  SpawnAttr() {
    posix_spawnattr_init(&attr_);
    // Its own process group; no blocked signals; the signals a web server
    // or a shell may have ignored back at their defaults.
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int s : {SIGPIPE, SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGCHLD, SIGALRM}) sigaddset(&defaults, s);
    posix_spawnattr_setpgroup(&attr_, 0);
    posix_spawnattr_setsigmask(&attr_, &none);
    posix_spawnattr_setsigdefault(&attr_, &defaults);
    posix_spawnattr_setflags(&attr_, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK |
                                         POSIX_SPAWN_SETSIGDEF);
  }
  ~SpawnAttr() { posix_spawnattr_destroy(&attr_); }
  SpawnAttr(const SpawnAttr&) = delete;
  SpawnAttr& operator=(const SpawnAttr&) = delete;
  posix_spawnattr_t* get() { return &attr_; }

 private:
  posix_spawnattr_t attr_;
};

std::vector<char*> pointers(std::vector<std::string>& texts) {
  std::vector<char*> p;
  p.reserve(texts.size() + 1);
  for (std::string& t : texts) p.push_back(t.data());
  p.push_back(nullptr);
  return p;
}

// The descriptors of a child: what the file actions put on 0, 1 and 2.
struct Plumbing {
  Pipe in, out, errs;
};

bool set_up(const Options& o, Plumbing& p, SpawnActions& fa) {
  posix_spawn_file_actions_t* f = fa.get();
  if (o.input) {
    if (!p.in.make()) return false;
    posix_spawn_file_actions_adddup2(f, p.in.read.get(), 0);
  } else {
    posix_spawn_file_actions_addopen(f, 0, "/dev/null", O_RDONLY, 0);
  }
  if (o.stdout_fd >= 0) {
    posix_spawn_file_actions_adddup2(f, o.stdout_fd, 1);
  } else if (o.output_sink || o.capture_output) {
    if (!p.out.make()) return false;
    posix_spawn_file_actions_adddup2(f, p.out.write.get(), 1);
  }
  if (o.capture_errors) {
    if (!p.errs.make()) return false;
    posix_spawn_file_actions_adddup2(f, p.errs.write.get(), 2);
  }
  // Nothing of the caller's beyond the three standard descriptors.
  posix_spawn_file_actions_addclosefrom_np(f, 3);
  return true;
}

void set_result(Result& r, int wstatus) {
  if (WIFEXITED(wstatus)) r.status = WEXITSTATUS(wstatus);
  if (WIFSIGNALED(wstatus)) r.signal = WTERMSIG(wstatus);
}

// Whether the child has ended, seen without reaping it: until it is reaped
// its number, and so its process group's, cannot pass to another process,
// and the group kill at the time limit cannot reach a stranger.
bool ended_unreaped(pid_t pid, Result& r) {
  siginfo_t info{};
  if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0) return false;
  if (info.si_pid != pid) return false;
  if (info.si_code == CLD_EXITED)
    r.status = info.si_status;
  else
    r.signal = info.si_status;
  return true;
}

// Collects the ended child; its status, for a child that was still running.
int reap(pid_t pid) {
  int wstatus = 0;
  while (::waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
  }
  return wstatus;
}

// Where a stream of the child goes: the caller's sink, else a text kept up
// to `limit` bytes (the rest is read to nowhere; `cut` tells).
struct Collector {
  std::string& text;
  const std::optional<std::size_t>& limit;
  bool& cut;
  const std::function<void(std::string_view)>* sink = nullptr;

  void take(const char* bytes, std::size_t n) {
    if (sink) {
      (*sink)(std::string_view(bytes, n));
      return;
    }
    if (limit) {
      const std::size_t room = text.size() < *limit ? *limit - text.size() : 0;
      if (n > room) {
        n = room;
        cut = true;
      }
    }
    text.append(bytes, n);
  }
};

// Reads what the pipe holds into the collector. At the end of the stream, or
// at a read that failed (its errno into `read_error`), the pipe is closed.
void read_into(Fd& fd, Collector& c, int& read_error) {
  char buf[8192];
  ssize_t n = ::read(fd.get(), buf, sizeof buf);
  if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
  if (n < 0) read_error = errno;
  if (n <= 0) {
    fd.reset();
    return;
  }
  c.take(buf, static_cast<size_t>(n));
}

// Closes the child's ends of the pipes; the input pipe becomes non-blocking,
// and is closed at once when there is nothing to feed.
void keep_parent_ends(Plumbing& p, bool no_input) {
  p.in.read.reset();
  p.out.write.reset();
  p.errs.write.reset();
  if (p.in.write.open()) {
    ::fcntl(p.in.write.get(), F_SETFL, O_NONBLOCK);
    if (no_input) p.in.write.reset();
  }
}

// Writes what the pipe takes of `input` and drops it from `input`; the pipe
// is closed when all is written or the write failed.
void feed(Fd& fd, std::string_view& input) {
  ssize_t w = ::write(fd.get(), input.data(), input.size());
  if (w > 0) input.remove_prefix(static_cast<size_t>(w));
  if ((w < 0 && errno != EAGAIN && errno != EINTR) || input.empty()) fd.reset();
}

// Feeds, collects and waits until the child has ended and its pipes are
// closed, or the time limit has passed (then the group is killed). The child
// is reaped on the way out.
void supervise(pid_t pid, const Options& o, Plumbing& p, Result& r) {
  const Clock::time_point deadline = Clock::now() + o.limit;
  Fd pidfd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
  std::string_view input = o.input ? std::string_view(*o.input) : std::string_view();
  keep_parent_ends(p, input.empty());
  Collector out{r.output, o.capture_limit, r.cut, o.output_sink ? &o.output_sink : nullptr};
  Collector errs{r.errors, o.capture_limit, r.cut};
  bool ended = false;
  int step_ms = 1;  // the waiting step when there is no process descriptor
  for (;;) {
    if (!ended) ended = ended_unreaped(pid, r);
    if (ended && !p.out.read.open() && !p.errs.read.open()) {
      reap(pid);
      return;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) break;

    std::array<pollfd, 4> fds{};
    nfds_t n = 0;
    int in_i = -1, out_i = -1, err_i = -1;
    if (p.in.write.open()) fds[in_i = static_cast<int>(n++)] = {p.in.write.get(), POLLOUT, 0};
    if (p.out.read.open()) fds[out_i = static_cast<int>(n++)] = {p.out.read.get(), POLLIN, 0};
    if (p.errs.read.open()) fds[err_i = static_cast<int>(n++)] = {p.errs.read.get(), POLLIN, 0};
    if (!ended && pidfd.open()) fds[n++] = {pidfd.get(), POLLIN, 0};
    int wait_ms = static_cast<int>(std::min<long long>(left.count(), 1000));
    if (!ended && !pidfd.open()) {
      wait_ms = std::min(wait_ms, step_ms);
      step_ms = std::min(step_ms * 2, 50);
    }
    if (::poll(fds.data(), n, wait_ms) < 0 && errno != EINTR) break;
    if (in_i >= 0 && fds[in_i].revents) feed(p.in.write, input);
    if (out_i >= 0 && fds[out_i].revents) read_into(p.out.read, out, r.read_error);
    if (err_i >= 0 && fds[err_i].revents) read_into(p.errs.read, errs, r.read_error);
  }
  // The time limit: the child and everything it started (descendants that
  // hold its pipes open after it ended included).
  r.timed_out = true;
  ::kill(-pid, SIGKILL);
  if (!ended) ::kill(pid, SIGKILL);
  const int wstatus = reap(pid);
  if (!ended) set_result(r, wstatus);
}

// The file a program name stands for on a search path: the first
// "<folder>/<name>" that is a regular file this process may execute. Empty
// folders are skipped (they would mean the current folder). None when there
// is none; `error` is then ENOENT, or EACCES when a file of that name was
// found that cannot be run.
std::optional<std::string> find_program(const std::string& name, std::string_view path, int& error) {
  error = ENOENT;
  while (!path.empty()) {
    const size_t colon = path.find(':');
    const std::string_view folder = path.substr(0, colon);
    path = colon == std::string_view::npos ? std::string_view() : path.substr(colon + 1);
    if (folder.empty()) continue;
    std::string file(folder);
    file += '/';
    file += name;
    struct stat st;
    if (::stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    if (::access(file.c_str(), X_OK) == 0) return file;
    error = EACCES;
  }
  return std::nullopt;
}

}  // namespace

Result run(const std::vector<std::string>& argv, const Options& options) {
  Result r;
  if (argv.empty() || argv[0].empty()) {
    r.error = ENOENT;
    return r;
  }
  std::string program = argv[0];
  const bool search = program.find('/') == std::string::npos;
  if (search && options.search_path) {
    std::optional<std::string> found = find_program(program, *options.search_path, r.error);
    if (!found) return r;
    program = std::move(*found);
  }
  flush_all();
  SignalGuard signals;
  Plumbing p;
  SpawnActions fa;
  SpawnAttr attr;
  if (!set_up(options, p, fa)) {
    r.error = errno;
    r.no_pipes = true;
    return r;
  }
  std::vector<std::string> args(argv), env(options.env);
  std::vector<char*> argp = pointers(args), envp = pointers(env);
  pid_t pid = -1;
  int rc = search && !options.search_path
               ? posix_spawnp(&pid, program.c_str(), fa.get(), attr.get(), argp.data(), envp.data())
               : posix_spawn(&pid, program.c_str(), fa.get(), attr.get(), argp.data(), envp.data());
  if (rc != 0) {
    r.error = rc;
    return r;
  }
  r.started = true;
  supervise(pid, options, p, r);
  return r;
}

Result run_shell(const std::string& command, const Options& options) {
  return run({"/bin/sh", "-c", command}, options);
}

bool unsafe_variable(std::string_view name) {
  if (name.starts_with("LD_") || name.starts_with("BASH_")) return true;
  // Interpreters read these at their start: a search path for modules, or
  // options that load code before the script runs (PERL5OPT=-M..., a
  // NODE_OPTIONS --require, a JAVA_TOOL_OPTIONS -javaagent).
  for (std::string_view p : {"PYTHON", "PERL5", "RUBY", "NODE_"})
    if (name.starts_with(p)) return true;
  for (std::string_view n : {"PERLLIB", "JAVA_TOOL_OPTIONS", "_JAVA_OPTIONS"})
    if (name == n) return true;
  // HTTP_PROXY is the web server's copy of a request's "Proxy:" header, and
  // a child's HTTP library would take it as its proxy; the others change how
  // the C library loads code or reads its locale data.
  for (std::string_view n : {"IFS", "ENV", "BASH_ENV", "SHELLOPTS", "BASHOPTS", "PS4", "CDPATH", "GLOBIGNORE",
                             "HTTP_PROXY", "GCONV_PATH", "GLIBC_TUNABLES", "LOCPATH", "NLSPATH", "HOSTALIASES",
                             "RESOLV_HOST_CONF", "MALLOC_TRACE"})
    if (name == n) return true;
  return false;
}

std::vector<std::string> safe_environment() {
  std::vector<std::string> env;
  for (char** e = environ; e && *e; ++e) {
    const std::string_view entry(*e);
    if (!unsafe_variable(entry.substr(0, entry.find('=')))) env.emplace_back(entry);
  }
  return env;
}

std::string describe(const Result& result, const Options& options) {
  if (!result.started) return std::string("cannot start: ") + std::strerror(result.error);
  if (result.timed_out) {
    const long long ms = options.limit.count();
    return "no end within " + (ms % 1000 ? std::to_string(ms) + " ms" : std::to_string(ms / 1000) + " s");
  }
  if (result.signal) return "signal " + std::to_string(result.signal);
  return "exit status " + std::to_string(result.status);
}

}  // namespace kiv::process

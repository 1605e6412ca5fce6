// Pseudo-terminals and program runs for the tool tests (see toolrun.h).
#include "toolrun.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

#include "support/testsupport.h"

extern char** environ;

namespace kivtest {

Pty::Pty() {
  char name[256];
  if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) throw std::runtime_error("openpty failed");
  name_ = name;
  termios t;
  tcgetattr(slave_, &t);
  cfmakeraw(&t);
  tcsetattr(slave_, TCSANOW, &t);
}

Pty::~Pty() {
  ::close(master_);
  ::close(slave_);
}

std::string Pty::read(size_t size, std::chrono::milliseconds limit) {
  std::string got;
  auto end = std::chrono::steady_clock::now() + limit;
  while (got.size() < size) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd p{master_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
    char buf[4096];
    ssize_t n = ::read(master_, buf, sizeof buf);
    if (n <= 0) break;
    got.append(buf, static_cast<size_t>(n));
  }
  return got;
}

void Pty::write(const std::string& bytes) {
  if (::write(master_, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
    throw std::runtime_error("write to the pseudo-terminal failed");
}

namespace {
std::string scratch(const char* what) {
  std::string t = (fs::temp_directory_path() / (std::string("kivtool.") + what + ".XXXXXX")).string();
  int fd = mkstemp(t.data());
  if (fd < 0) throw std::runtime_error("mkstemp failed");
  ::close(fd);
  return t;
}
}  // namespace

Program::Program(const std::string& path, const std::vector<std::string>& args,
                 const std::vector<std::string>& env)
    : outfile_(scratch("out")), errfile_(scratch("err")) {
  std::vector<std::string> argv_s = {path};
  argv_s.insert(argv_s.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argv_s) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> env_s(env);
  for (char** e = environ; *e; ++e) env_s.emplace_back(*e);
  std::vector<char*> envp;
  for (auto& e : env_s) envp.push_back(e.data());
  envp.push_back(nullptr);

  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 1, outfile_.c_str(), O_WRONLY | O_TRUNC, 0);
  posix_spawn_file_actions_addopen(&fa, 2, errfile_.c_str(), O_WRONLY | O_TRUNC, 0);
  int rc = posix_spawn(&pid_, path.c_str(), &fa, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&fa);
  if (rc != 0) throw std::runtime_error("cannot start " + path);
}

Program::~Program() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  unlink(outfile_.c_str());
  unlink(errfile_.c_str());
}

RunResult Program::wait() {
  RunResult r;
  int st = 0;
  if (waitpid(pid_, &st, 0) == pid_ && WIFEXITED(st)) r.status = WEXITSTATUS(st);
  pid_ = -1;
  r.out = read_file(outfile_);
  r.err = read_file(errfile_);
  return r;
}

std::string toolpath(const std::string& name) { return std::string(KIV_BINARY_DIR) + "/tools/" + name; }

int run_main(int (*fn)(int, const char* const[]), const std::vector<std::string>& args) {
  std::vector<const char*> argv;
  for (const auto& a : args) argv.push_back(a.c_str());
  argv.push_back(nullptr);
  return fn(static_cast<int>(args.size()), argv.data());
}

}  // namespace kivtest

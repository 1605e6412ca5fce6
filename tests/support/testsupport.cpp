// Shared test helpers (see testsupport.h).
#include "testsupport.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/flavour.h"
#include "platform/state.h"

namespace kivtest {

ScopedEnv::ScopedEnv(std::string name, std::optional<std::string> value) : name_(std::move(name)) {
  if (const char* v = std::getenv(name_.c_str())) old_ = v;
  if (value)
    setenv(name_.c_str(), value->c_str(), 1);
  else
    unsetenv(name_.c_str());
}

ScopedEnv::~ScopedEnv() {
  if (old_)
    setenv(name_.c_str(), old_->c_str(), 1);
  else
    unsetenv(name_.c_str());
}

ScopedTz::ScopedTz(const std::string& zone) {
  tz_.emplace("TZ", zone);
  tzset();
}

ScopedTz::~ScopedTz() {
  tz_.reset();
  tzset();
}

TempDir::TempDir() : TempDir(fs::temp_directory_path()) {}

TempDir::TempDir(const fs::path& base) {
  std::string templ = (base / "kivtest.XXXXXX").string();
  char* made = mkdtemp(templ.data());
  if (!made) throw std::runtime_error("mkdtemp failed");
  path_ = made;
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

std::string TempDir::write(const std::string& relative, const std::string& content) const {
  fs::path p = path_ / relative;
  fs::create_directories(p.parent_path());
  std::ofstream o(p, std::ios::binary);
  o << content;
  return p.string();
}

std::string read_file(const std::string& path) {
  std::ifstream i(path, std::ios::binary);
  std::stringstream s;
  s << i.rdbuf();
  return s.str();
}

std::vector<std::string> entries(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> entries_but(const std::string& folder, std::string_view skipped) {
  std::vector<std::string> names = entries(folder);
  std::erase(names, std::string(skipped));
  return names;
}

namespace {

// True when /proc/locks holds a blocked request ("->") of `pid` on the inode.
bool blocked_in_lock_list(pid_t pid, ino_t inode) {
  std::ifstream locks("/proc/locks");
  const std::string ino = ":" + std::to_string(inode);
  std::string line;
  while (std::getline(locks, line)) {
    std::istringstream words(line);
    std::string id, arrow, kind, mode, access, owner, where;
    if (!(words >> id >> arrow) || arrow != "->") continue;
    if (!(words >> kind >> mode >> access >> owner >> where)) continue;
    if (owner == std::to_string(pid) && where.ends_with(ino)) return true;
  }
  return false;
}

}  // namespace

bool waits_for_lock(pid_t pid, const std::string& path, std::chrono::milliseconds limit) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    if (blocked_in_lock_list(pid, st.st_ino)) return true;
    siginfo_t info{};
    if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid)
      return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return false;
}

bool lock_free(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return true;
  const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
  ::close(fd);
  return free;
}

ChildRun in_child(const std::function<std::string()>& fn, bool unprivileged) {
  int fds[2];
  if (::pipe(fds) != 0) throw std::runtime_error("pipe");
  pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork");
  if (pid == 0) {
    ::close(fds[0]);
    kiv::StringSink sink;
    kiv::set_out(&sink);
    if (unprivileged && ::geteuid() == 0) {
      if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(3);
    }
    std::string result;
    std::optional<int> st = exit_status([&] { result = fn(); });
    std::string report = (st ? std::to_string(*st) : std::string("none")) + "\n" + result + "\n" + sink.text();
    size_t done = 0;
    while (done < report.size()) {
      ssize_t n = ::write(fds[1], report.data() + done, report.size() - done);
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    ::_exit(0);
  }
  ::close(fds[1]);
  std::string text;
  char buf[4096];
  ssize_t n;
  while ((n = ::read(fds[0], buf, sizeof buf)) > 0) text.append(buf, static_cast<size_t>(n));
  ::close(fds[0]);
  int wst = 0;
  ::waitpid(pid, &wst, 0);
  if (!WIFEXITED(wst) || WEXITSTATUS(wst) != 0) throw std::runtime_error("child failed");
  ChildRun r;
  size_t nl = text.find('\n');
  const std::string head = text.substr(0, nl);
  if (head != "none") r.status = std::stoi(head);
  size_t nl2 = text.find('\n', nl + 1);
  r.result = text.substr(nl + 1, nl2 - nl - 1);
  r.page = text.substr(nl2 + 1);
  return r;
}

namespace {
void reset_all() {
  kiv::reset_process_state();
  kiv::set_platform(kiv::Platform::windows);
}
}  // namespace

void KivTest::SetUp() {
  reset_all();
  kiv::set_out(&out_);
  kiv::set_err(&err_);
}

void KivTest::TearDown() {
  kiv::set_out(nullptr);
  kiv::set_err(nullptr);
  reset_all();
}

}  // namespace kivtest

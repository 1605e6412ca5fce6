// The front's run of its command in this process: the copy of each piece of
// the command's output to a page that takes its bytes slowly, is cut by
// signals, has gone or stopped reading; the command's time limit, which
// holds also while the page takes nothing; pipes that cannot be made; and
// the message, stream and status of every way a run can end.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "linux/unixcgi.h"
#include "linuxtest.h"
#include "support/testsupport.h"

using namespace kiv;
using namespace kiv::kivexec;
using linuxtest::Pipe;  // here, the web server's end of the page
using namespace std::chrono_literals;

namespace {

// While it lives, SIGPIPE is ignored (as the front has it, through sigpipe
// and the process layer) and SIGALRM interrupts calls every millisecond.
class Interruptions {
 public:
  Interruptions() {
    struct sigaction sa {};
    sa.sa_handler = [](int) {};
    sigemptyset(&sa.sa_mask);  // no SA_RESTART: interrupted calls give EINTR
    ::sigaction(SIGALRM, &sa, &old_alrm_);
    struct sigaction ign {};
    ign.sa_handler = SIG_IGN;
    sigemptyset(&ign.sa_mask);
    ::sigaction(SIGPIPE, &ign, &old_pipe_);
    itimerval t{{0, 1000}, {0, 1000}};
    ::setitimer(ITIMER_REAL, &t, nullptr);
  }
  ~Interruptions() {
    itimerval off{};
    ::setitimer(ITIMER_REAL, &off, nullptr);
    ::sigaction(SIGALRM, &old_alrm_, nullptr);
    ::sigaction(SIGPIPE, &old_pipe_, nullptr);
  }

 private:
  struct sigaction old_alrm_ {}, old_pipe_ {};
};

class FrontRun : public kivtest::KivTest {};

TEST_F(FrontRun, PiecesArriveWholeAtASlowPageThroughSignals) {
  Pipe page(4096);
  ::fcntl(page.w, F_SETFL, O_NONBLOCK);  // partial writes and EAGAIN as well
  frontstate().pagefd = page.w;
  std::string piece;
  for (int i = 0; piece.size() < 300 * 1024; ++i) piece += std::to_string(i) + ",";
  std::string got;
  std::thread reader([&] {
    char buf[1000];
    ssize_t n;
    while ((n = ::read(page.r, buf, sizeof buf)) != 0) {
      if (n > 0) got.append(buf, static_cast<size_t>(n));
      std::this_thread::sleep_for(50us);
    }
  });
  {
    Interruptions signals;
    EXPECT_EQ(commandread2out(piece.substr(0, 1)), 0);
    EXPECT_EQ(commandread2out(piece.substr(1)), 0);
  }
  page.close_write();
  reader.join();
  EXPECT_TRUE(got == piece) << got.size() << " of " << piece.size() << " bytes";
  EXPECT_FALSE(frontstate().page_gone);
}

TEST_F(FrontRun, PageThatHasGoneOrTakesNothingDropsTheRest) {
  Interruptions signals;
  {
    Pipe page;
    page.close_read();  // the web server has gone
    frontstate() = FrontState{};
    frontstate().pagefd = page.w;
    EXPECT_EQ(commandread2out("lost"), -1);
    EXPECT_TRUE(frontstate().page_gone);
    EXPECT_EQ(commandread2out("also lost"), -1);
  }
  {
    // A web server that stops reading holds a piece until the command's
    // limit, not longer.
    Pipe page(4096);
    frontstate() = FrontState{};
    frontstate().pagefd = page.w;
    frontstate().page_deadline = std::chrono::steady_clock::now() + 300ms;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(commandread2out(std::string(1 << 20, 'x')), -1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    EXPECT_TRUE(frontstate().page_gone);
  }
}

// The command's limit, shortened here, ends a command that never ends, also
// one that writes without end to a page nobody reads.
TEST_F(FrontRun, TimeLimitEndsTheCommand) {
  for (const std::vector<std::string>& command : {std::vector<std::string>{"sleep", "30"}, {"yes"}}) {
    Pipe page(4096);  // never read
    frontstate() = FrontState{};
    frontstate().pagefd = page.w;
    frontstate().command_limit = 300ms;
    frontstate().command = command;
    clear_output();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(runcommand("", FrontConfig{}), 0) << command[0];
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s) << command[0];
    EXPECT_EQ(errors(), "The command " + command[0] + " was ended: no end within 300 ms\n");
  }
}

TEST_F(FrontRun, PipesThatCannotBeMadeEndTheFront) {
  frontstate().command = {"true"};
  const int lowest = ::dup(0);
  ASSERT_GE(lowest, 0);
  ::close(lowest);
  rlimit old{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &old), 0);
  // Room for the pipe of the command's input, not for the one of its
  // output. (One pipe's room, not less, also lets the sanitizers' checks,
  // which make a pipe of their own, work meanwhile.)
  rlimit tight = old;
  tight.rlim_cur = static_cast<rlim_t>(lowest) + 2;
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);
  const std::optional<int> status = kivtest::exit_status([] { runcommand("", FrontConfig{}); });
  ::setrlimit(RLIMIT_NOFILE, &old);
  EXPECT_EQ(status, 1);
  EXPECT_EQ(errors(), "setup_pipe can't close pipes\n errno=24");
  EXPECT_EQ(page(), "");
}

// Every way a run ends: the message, on standard error, and what the front
// does then (none: the process ends with that status).
TEST_F(FrontRun, EveryEndHasItsMessageAndStatus) {
  auto result = [](bool started, int error, bool no_pipes, bool timed_out, int read_error) {
    process::Result r;
    r.started = started;
    r.error = error;
    r.no_pipes = no_pipes;
    r.timed_out = timed_out;
    if (timed_out) r.signal = SIGKILL;
    if (started && !timed_out) r.status = 0;
    r.read_error = read_error;
    return r;
  };
  struct Case {
    const char* what;
    process::Result r;
    std::optional<int> returned, ended;
    std::string message;
  } cases[] = {
      {"ran", result(true, 0, false, false, 0), 0, std::nullopt, ""},
      {"no pipes", result(false, EMFILE, true, false, 0), std::nullopt, 1, "setup_pipe can't close pipes\n errno=24"},
      {"no process", result(false, EAGAIN, false, false, 0), std::nullopt, 1, "setup_pipe can't fork errno=11\n"},
      {"no program", result(false, ENOENT, false, false, 0), 0, std::nullopt, "Can't execute prog errno=2\n"},
      {"not executable", result(false, EACCES, false, false, 0), 0, std::nullopt, "Can't execute prog errno=13\n"},
      {"killed", result(true, 0, false, true, 0), 0, std::nullopt, "The command prog was ended: no end within 900 s\n"},
      {"unreadable", result(true, 0, false, false, EIO), -1, std::nullopt, "bad  finish read errno=5\n"},
  };
  process::Options options;
  options.limit = kCommandLimit;
  for (const Case& c : cases) {
    clear_output();
    std::optional<int> returned;
    const std::optional<int> ended = kivtest::exit_status([&] { returned = command_end(c.r, "prog", options); });
    EXPECT_EQ(returned, c.returned) << c.what;
    EXPECT_EQ(ended, c.ended) << c.what;
    EXPECT_EQ(errors(), c.message) << c.what;
    EXPECT_EQ(page(), "") << c.what;
  }
}

}  // namespace

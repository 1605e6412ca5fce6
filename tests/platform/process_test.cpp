// Child processes: arguments reach the program as they are (no shell), the
// environment is exactly the one given, standard input is /dev/null unless
// input is given, output can go to a file or be collected (up to a limit,
// the rest drained), the caller's descriptors stay its own, and the time
// limit ends the whole process group.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "platform/process.h"
#include "support/testsupport.h"

using namespace kiv;
using namespace std::chrono_literals;

namespace {

process::Options capture(std::vector<std::string> env = {}) {
  process::Options o;
  o.env = std::move(env);
  o.capture_output = true;
  o.capture_errors = true;
  o.limit = 10s;
  return o;
}

// A process that is gone or only waits to be reaped.
bool gone(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  if (!stat) return true;
  std::string line;
  std::getline(stat, line);
  size_t paren = line.rfind(')');
  return paren != std::string::npos && paren + 2 < line.size() && line[paren + 2] == 'Z';
}

}  // namespace

TEST(Process, ArgumentsReachTheProgramWithoutAShell) {
  process::Result r =
      process::run({"/usr/bin/printf", "%s|", "a b", "$(touch /tmp/kiv_no)", "x;y", "`id`", "*"}, capture());
  EXPECT_TRUE(r.ok()) << r.errors;
  EXPECT_EQ(r.output, "a b|$(touch /tmp/kiv_no)|x;y|`id`|*|");
}

TEST(Process, EnvironmentIsExactlyTheGivenOne) {
  process::Result r = process::run({"/usr/bin/env"}, capture({"A=1", "B=two words"}));
  EXPECT_TRUE(r.ok());
  EXPECT_EQ(r.output, "A=1\nB=two words\n");
}

TEST(Process, SafeEnvironmentDropsLoaderAndShellControls) {
  kivtest::ScopedEnv keep("KIV_KEEP", "1"), ld("LD_PRELOAD", "/tmp/evil.so"), fn("BASH_FUNC_ls%%", "() { id; }"),
      ifs("IFS", "x"), env("BASH_ENV", "/tmp/rc"), ps4("PS4", "$(id)");
  std::string all;
  for (const std::string& e : process::safe_environment()) all += e + "\n";
  EXPECT_NE(all.find("KIV_KEEP=1\n"), std::string::npos);
  for (const char* name : {"LD_PRELOAD=", "BASH_FUNC_", "\nIFS=", "BASH_ENV=", "PS4="})
    EXPECT_EQ(all.find(name), std::string::npos) << name;
  for (const char* name : {"SHELLOPTS", "BASHOPTS", "GLOBIGNORE", "CDPATH", "ENV", "HTTP_PROXY", "GCONV_PATH",
                           "GLIBC_TUNABLES", "LOCPATH", "NLSPATH", "HOSTALIASES", "RESOLV_HOST_CONF", "MALLOC_TRACE",
                           "PYTHONPATH", "PYTHONHOME", "PERL5OPT", "PERL5LIB", "PERLLIB", "RUBYOPT", "RUBYLIB",
                           "NODE_OPTIONS", "NODE_PATH", "JAVA_TOOL_OPTIONS", "_JAVA_OPTIONS"})
    EXPECT_TRUE(process::unsafe_variable(name)) << name;
  for (const char* name : {"PATH", "HTTP_HOST", "status", "NEW_status", "TMPDIR", "PERL", "NODE", "JAVA_HOME",
                           "python_version"})
    EXPECT_FALSE(process::unsafe_variable(name)) << name;
}

TEST(Process, InputIsDevNullUnlessGiven) {
  process::Result none = process::run({"/bin/cat"}, capture());
  EXPECT_TRUE(none.ok());
  EXPECT_EQ(none.output, "");
  // More than a pipe holds in both directions at once: the loop must feed and
  // drain together.
  std::string big(1 << 20, 'x');
  for (size_t i = 0; i < big.size(); i += 1000) big[i] = '\n';
  process::Options o = capture();
  o.input = big;
  process::Result fed = process::run({"/bin/cat"}, o);
  EXPECT_TRUE(fed.ok());
  EXPECT_EQ(fed.output, big);
  // A child that reads nothing does not end the caller by SIGPIPE.
  o.input = std::string(1 << 20, 'y');
  process::Result deaf = process::run({"/bin/true"}, o);
  EXPECT_TRUE(deaf.ok());
}

// The sink gets each piece as the child writes it, while the same loop
// feeds the child more input than a pipe holds; nothing is kept.
TEST(Process, OutputSinkGetsEachPieceAsItArrives) {
  std::string big(1 << 20, 'x');
  for (size_t i = 0; i < big.size(); i += 1000) big[i] = '\n';
  process::Options o = capture();
  o.input = big;
  std::string got;
  int pieces = 0;
  o.output_sink = [&](std::string_view piece) {
    got.append(piece);
    ++pieces;
  };
  process::Result fed = process::run({"/bin/cat"}, o);
  EXPECT_TRUE(fed.ok());
  EXPECT_TRUE(got == big) << got.size() << " bytes";
  EXPECT_GT(pieces, 1);
  EXPECT_EQ(fed.output, "");

  // The first piece comes while the child still runs.
  o.input.reset();
  std::vector<std::pair<std::string, std::chrono::steady_clock::time_point>> seen;
  o.output_sink = [&](std::string_view piece) { seen.emplace_back(piece, std::chrono::steady_clock::now()); };
  process::Result r = process::run_shell("printf first; sleep 0.5; printf second", o);
  const auto end = std::chrono::steady_clock::now();
  ASSERT_TRUE(r.ok());
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].first + seen[1].first, "firstsecond");
  EXPECT_GT(end - seen[0].second, 300ms);
}

// A program without "/" is looked up on the search path given, not on
// this process's PATH.
TEST(Process, SearchPathIsTheOneGiven) {
  kivtest::TempDir dir;
  const std::string prog = dir.write("bin/kivprog", "#!/bin/sh\necho ran\n");
  ::chmod(prog.c_str(), 0755);
  dir.write("plain/kivprog", "#!/bin/sh\necho plain\n");  // not executable
  process::Options o = capture();
  kivtest::ScopedEnv path("PATH", "/usr/bin:/bin");
  o.search_path = "::" + dir.str() + "/plain:" + dir.str() + "/bin";
  process::Result r = process::run({"kivprog"}, o);
  EXPECT_TRUE(r.ok()) << process::describe(r, o);
  EXPECT_EQ(r.output, "ran\n");
  struct Case {
    std::string path;
    int error;
  } refused[] = {{dir.str() + "/plain", EACCES}, {"/nonexistent", ENOENT}, {"", ENOENT}};
  for (const Case& c : refused) {
    o.search_path = c.path;
    process::Result none = process::run({"kivprog"}, o);
    EXPECT_FALSE(none.started) << c.path;
    EXPECT_EQ(none.error, c.error) << c.path;
  }
  // Without one, this process's PATH (which lacks the folder).
  o.search_path.reset();
  EXPECT_FALSE(process::run({"kivprog"}, o).started);
}

TEST(Process, CaptureLimitKeepsTheStartAndDrainsTheRest) {
  // Far more than a pipe holds on both streams: the child must not block.
  const std::string chatty = "head -c 4000000 /dev/zero | tr '\\0' a; head -c 3000000 /dev/zero | tr '\\0' e >&2";
  process::Options o = capture();
  o.capture_limit = 1000;
  process::Result r = process::run_shell("printf 'first line\\n'; " + chatty, o);
  EXPECT_TRUE(r.ok());
  EXPECT_TRUE(r.cut);
  EXPECT_EQ(r.output, "first line\n" + std::string(989, 'a'));
  EXPECT_EQ(r.errors, std::string(1000, 'e'));
  // Within the limit nothing is cut; without one everything is kept.
  process::Result small = process::run_shell("printf 12345", o);
  EXPECT_FALSE(small.cut);
  EXPECT_EQ(small.output, "12345");
  o.capture_limit.reset();
  process::Result all = process::run_shell(chatty, o);
  EXPECT_FALSE(all.cut);
  EXPECT_EQ(all.output.size(), 4000000u);
  EXPECT_EQ(all.errors.size(), 3000000u);
}

TEST(Process, OutputToTheCallersFileAndDescriptorsNotInherited) {
  kivtest::TempDir dir;
  const std::string file = dir.str() + "/out";
  int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(fd, 0);
  // A descriptor of the caller without close-on-exec.
  int leaked = ::dup2(fd, 100);
  ASSERT_EQ(leaked, 100);
  process::Options o;
  o.stdout_fd = fd;
  process::Result r = process::run({"/bin/ls", "/proc/self/fd"}, o);
  ::close(fd);
  ::close(leaked);
  EXPECT_TRUE(r.ok());
  std::istringstream names(kivtest::read_file(file));
  std::string name, all;
  while (names >> name) all += name + " ";
  EXPECT_EQ(all, "0 1 2 3 ");  // 3: ls's own reading of the folder
}

TEST(Process, EndsAndFailures) {
  struct Case {
    std::string command;
    int status, signal;
    std::string described;
  } cases[] = {
      {"exit 0", 0, 0, "exit status 0"},
      {"echo out; echo err >&2; exit 3", 3, 0, "exit status 3"},
      {"kill -TERM $$", -1, SIGTERM, "signal 15"},
  };
  for (const Case& c : cases) {
    process::Options o = capture();
    process::Result r = process::run_shell(c.command, o);
    EXPECT_TRUE(r.started) << c.command;
    EXPECT_EQ(r.status, c.status) << c.command;
    EXPECT_EQ(r.signal, c.signal) << c.command;
    EXPECT_EQ(r.ok(), c.status == 0) << c.command;
    EXPECT_EQ(process::describe(r, o), c.described);
  }
  process::Result err = process::run_shell("echo out; echo err >&2; exit 3", capture());
  EXPECT_EQ(err.output, "out\n");
  EXPECT_EQ(err.errors, "err\n");

  process::Options o = capture();
  process::Result missing = process::run({"/nonexistent/prog"}, o);
  EXPECT_FALSE(missing.started);
  EXPECT_EQ(missing.error, ENOENT);
  EXPECT_EQ(process::describe(missing, o), "cannot start: No such file or directory");
  EXPECT_FALSE(process::run({"no-such-program-kiv"}, o).started);
  EXPECT_FALSE(process::run({}, o).started);
}

TEST(Process, StatusKeptWhenTheCallerIgnoresSigchld) {
  struct sigaction ign {}, old {};
  ign.sa_handler = SIG_IGN;
  sigemptyset(&ign.sa_mask);
  ::sigaction(SIGCHLD, &ign, &old);
  process::Options o = capture();
  o.limit = 5s;
  process::Result r = process::run_shell("exit 3", o);
  struct sigaction now {};
  ::sigaction(SIGCHLD, &old, &now);
  EXPECT_FALSE(r.timed_out);
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(now.sa_handler, SIG_IGN);  // the caller's choice is back
}

TEST(Process, TimeLimitKillsTheWholeGroup) {
  process::Options o = capture();
  o.limit = 300ms;
  const auto start = std::chrono::steady_clock::now();
  // The grandchild keeps the output pipe open: only the group kill ends it.
  process::Result r = process::run_shell("sleep 30 & echo $!; wait", o);
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_TRUE(r.started);
  EXPECT_TRUE(r.timed_out);
  EXPECT_EQ(r.signal, SIGKILL);
  EXPECT_FALSE(r.ok());
  EXPECT_LT(took, 5s);
  EXPECT_EQ(process::describe(r, o), "no end within 300 ms");
  const pid_t grandchild = static_cast<pid_t>(std::atoi(r.output.c_str()));
  ASSERT_GT(grandchild, 0) << r.output;
  for (int i = 0; i < 100 && !gone(grandchild); ++i) usleep(10000);
  EXPECT_TRUE(gone(grandchild));
}

TEST(Process, DescendantHoldingTheOutputAfterTheChildEnded) {
  process::Options o = capture();
  o.limit = 300ms;
  const auto start = std::chrono::steady_clock::now();
  // The shell ends at once with 0; what it left behind keeps the pipe open
  // until the limit, and the group kill still reaches it.
  process::Result r = process::run_shell("sleep 30 & echo $!", o);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  EXPECT_TRUE(r.timed_out);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.signal, 0);
  EXPECT_FALSE(r.ok());
  const pid_t grandchild = static_cast<pid_t>(std::atoi(r.output.c_str()));
  ASSERT_GT(grandchild, 0) << r.output;
  for (int i = 0; i < 100 && !gone(grandchild); ++i) usleep(10000);
  EXPECT_TRUE(gone(grandchild));
  // The shell itself was collected: no child of ours is left.
  EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
}

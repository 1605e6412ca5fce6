// The shared lock-file helper: mutual exclusion across processes, the
// bounded wait, and a lock that dies with its holder.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/testsupport.h"
#include "toolkit/kivlock.h"

using namespace kiv;
using namespace std::chrono_literals;

namespace {

// A child that takes the lock, tells the parent through a pipe, and holds it
// until it is killed.
pid_t hold_in_child(const std::string& path) {
  int p[2];
  EXPECT_EQ(::pipe(p), 0);
  pid_t pid = ::fork();
  if (pid == 0) {
    FileLock lock;
    char c = lock.acquire(path) ? 'y' : 'n';
    (void)!::write(p[1], &c, 1);
    for (;;) ::pause();
  }
  ::close(p[1]);
  char c = 0;
  EXPECT_EQ(::read(p[0], &c, 1), 1);
  ::close(p[0]);
  EXPECT_EQ(c, 'y');
  return pid;
}

void end_child(pid_t pid) {
  ::kill(pid, SIGKILL);
  int st = 0;
  ::waitpid(pid, &st, 0);
}

}  // namespace

TEST(FileLockTest, BoundedWaitGivesUpWhileAnotherProcessHoldsIt) {
  kivtest::TempDir d;
  const std::string path = d.str() + "/x.lock";
  pid_t pid = hold_in_child(path);
  FileLock lock;
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_FALSE(lock.acquire(path, 150ms));
  EXPECT_EQ(errno, EWOULDBLOCK);
  EXPECT_GE(std::chrono::steady_clock::now() - t0, 150ms);
  EXPECT_FALSE(lock.held());
  // The holder's death drops the lock; the file stays, and it is taken.
  end_child(pid);
  EXPECT_TRUE(lock.acquire(path, 1s));
  EXPECT_TRUE(std::filesystem::exists(path));
  lock.release();
  EXPECT_FALSE(lock.held());
}

TEST(FileLockTest, MissingFolderAndLinksAreRefused) {
  kivtest::TempDir d;
  FileLock lock;
  EXPECT_FALSE(lock.acquire(d.str() + "/none/x.lock"));
  std::string target = d.write("target", "keep");
  std::filesystem::create_symlink(target, d.str() + "/link.lock");
  EXPECT_FALSE(lock.acquire(d.str() + "/link.lock"));
  EXPECT_EQ(kivtest::read_file(target), "keep");
}

TEST(FileLockTest, OneHolderAtATimeAcrossProcesses) {
  // Eight processes increment a counter file under the lock; none is lost.
  kivtest::TempDir d;
  const std::string lockp = d.str() + "/c.lock", counter = d.write("c", "0");
  std::vector<pid_t> kids;
  for (int k = 0; k < 8; ++k) {
    pid_t pid = ::fork();
    if (pid == 0) {
      for (int i = 0; i < 50; ++i) {
        FileLock lock;
        if (!lock.acquire(lockp)) ::_exit(1);
        int n = std::stoi(kivtest::read_file(counter));
        FILE* f = std::fopen(counter.c_str(), "w");
        std::fprintf(f, "%d", n + 1);
        std::fclose(f);
      }
      ::_exit(0);
    }
    kids.push_back(pid);
  }
  for (pid_t pid : kids) {
    int st = 0;
    ::waitpid(pid, &st, 0);
    EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0);
  }
  EXPECT_EQ(kivtest::read_file(counter), "400");
}

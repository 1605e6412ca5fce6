// The shared lock helper: mutual exclusion across processes, the bounded
// wait, a lock that dies with its holder, and the lock on a folder.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/testsupport.h"
#include "toolkit/base/kivlock.h"

using namespace kiv;
using namespace std::chrono_literals;

namespace {

// A child that takes the lock, tells the parent through a pipe, and holds it
// until it is killed.
pid_t hold_in_child(const std::string& path, bool folder = false) {
  int p[2];
  EXPECT_EQ(::pipe(p), 0);
  pid_t pid = ::fork();
  if (pid == 0) {
    FileLock lock;
    char c = (folder ? lock.acquire_folder(path) : lock.acquire(path)) ? 'y' : 'n';
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

TEST(FileLockTest, FolderLocks) {
  namespace fs = std::filesystem;
  kivtest::TempDir d;
  const std::string folder = d.str() + "/case";
  fs::create_directory(folder);
  // Only an existing folder, itself: nothing is made, no link is followed.
  FileLock lock;
  EXPECT_FALSE(lock.acquire_folder(d.str() + "/none"));
  EXPECT_EQ(errno, ENOENT);
  EXPECT_FALSE(fs::exists(d.str() + "/none"));
  EXPECT_FALSE(lock.acquire_folder(d.write("file", "x")));
  EXPECT_EQ(errno, ENOTDIR);
  fs::create_directory_symlink(folder, d.str() + "/link");
  EXPECT_FALSE(lock.acquire_folder(d.str() + "/link"));
  // One holder at a time, with the bounded wait of lock files.
  pid_t holder = hold_in_child(folder, true);
  EXPECT_FALSE(lock.acquire_folder(folder, 100ms));
  EXPECT_EQ(errno, EWOULDBLOCK);
  end_child(holder);
  EXPECT_TRUE(lock.acquire_folder(folder, 1s));
  lock.release();

  // A folder replaced while a process waits for its lock is not the one it
  // gets: the waiter is told ENOENT instead of holding the old one.
  holder = hold_in_child(folder, true);
  pid_t waiter = ::fork();
  ASSERT_GE(waiter, 0);
  if (waiter == 0) {
    FileLock w;
    bool got = w.acquire_folder(folder);
    ::_exit(got ? 0 : errno == ENOENT ? 3 : 4);
  }
  ASSERT_TRUE(kivtest::waits_for_lock(waiter, folder));
  fs::rename(folder, d.str() + "/case.old");
  fs::create_directory(folder);
  end_child(holder);
  int st = 0;
  ASSERT_EQ(::waitpid(waiter, &st, 0), waiter);
  EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 3) << st;
}

TEST(FileLockTest, OpenedFirstLockedLater) {
  kivtest::TempDir d;
  const std::string path = d.str() + "/x.lock";
  FileLock lock;
  ASSERT_TRUE(lock.open(path));
  EXPECT_FALSE(lock.held());
  // Opened is not locked: another process takes the lock meanwhile.
  pid_t holder = hold_in_child(path);
  EXPECT_FALSE(lock.lock(100ms));
  EXPECT_EQ(errno, EWOULDBLOCK);
  end_child(holder);
  ASSERT_TRUE(lock.open(path));
  ASSERT_TRUE(lock.lock());
  EXPECT_TRUE(lock.held());
  FileLock other;
  EXPECT_FALSE(other.acquire(path, 50ms));
  // Unlocked, the file stays open and is locked again at the next lock().
  lock.unlock();
  EXPECT_FALSE(lock.held());
  EXPECT_TRUE(other.acquire(path, 1s));
  other.release();
  EXPECT_TRUE(lock.lock(1s));
  // A lock file that cannot be opened fails before anything is locked.
  EXPECT_FALSE(lock.open(d.str() + "/none/x.lock"));
  EXPECT_EQ(errno, ENOENT);
  EXPECT_FALSE(lock.held());
  EXPECT_FALSE(lock.lock());
}

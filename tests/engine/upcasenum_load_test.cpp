// The case-number counter under load: many processes drawing numbers at once
// over mixed keys get no number twice and no gap, the file stays whole, and
// a process killed while it holds the lock leaves the old or the new file
// whole, the sequence going on after it.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "engine/upcasenum.h"
#include "engine/upclock.h"
#include "enginetest.h"

using namespace kiv;
using namespace std::chrono_literals;
using enginetest::entries;
namespace fs = std::filesystem;

namespace {

class CounterLoad : public kivtest::KivTest {
 protected:
  void SetUp() override {
    KivTest::SetUp();
    reqctx().nvhome = home_.str();
    fs::create_directories(path("client/config"));
    // Long enough that no draw falls back to the time under any load here.
    engineclock().counter_wait = 120s;
  }
  std::string path(const std::string& relative) const { return home_.str() + "/" + relative; }
  std::string counter() const { return path("client/config/case_num"); }
  void write_counter(const std::string& text) const {
    std::ofstream(counter(), std::ios::binary) << text;
  }
  bool lock_free() const { return kivtest::lock_free(counter() + ".lock"); }

  // A home on a memory file system where there is one: the test is about
  // the lock, and on a disk the syncs of thousands of rewrites would take
  // the time. Elsewhere the usual temporary folder.
  kivtest::TempDir home_{fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path()};
};

constexpr const char* kKeys[] = {"DEFAULT", "SW", "HW", "1234"};

// One number of key k (an index into kKeys).
std::string draw(int k, const std::string& path) {
  if (k == 0) return getmrnum("", path);
  if (k == 3) return sub_getmrnum("1234", path);
  return getmrnum(kKeys[k], path);
}

void write_all(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

}  // namespace

TEST_F(CounterLoad, ManyProcessesNoDuplicatesNoGaps) {
  constexpr int kProcesses = 32, kDraws = 100;
  write_counter("DEFAULT\t1000\nHW\t0041\n");
  const auto start = std::chrono::steady_clock::now();
  std::vector<pid_t> children;
  for (int c = 0; c < kProcesses; ++c) {
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      std::string out;
      try {
        for (int i = 0; i < kDraws; ++i) {
          const int k = (c + i) % 4;
          out += std::to_string(k) + " " + draw(k, counter()) + "\n";
        }
      } catch (...) {
        ::_exit(2);
      }
      int fd = ::open(path("out." + std::to_string(c)).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      write_all(fd, out);
      ::close(fd);
      ::_exit(0);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  const auto took =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);

  std::map<int, std::multiset<std::string>> got;
  for (int c = 0; c < kProcesses; ++c) {
    std::istringstream lines(kivtest::read_file(path("out." + std::to_string(c))));
    int k;
    std::string number;
    while (lines >> k >> number) got[k].insert(number);
  }
  const int each = kProcesses * kDraws / 4;
  std::map<int, std::multiset<std::string>> expected;
  for (int i = 0; i < each; ++i) {
    expected[0].insert(std::to_string(1000 + i));
    expected[1].insert(std::to_string(1 + i));
    expected[2].insert(i == 0 ? "0041" : std::to_string(41 + i));
    expected[3].insert("1234." + std::to_string(1 + i));
  }
  for (int k = 0; k < 4; ++k) EXPECT_TRUE(got[k] == expected[k]) << kKeys[k] << ": duplicates or gaps";

  // The file parses whole: four lines of a key, a tab and a number.
  const std::string text = kivtest::read_file(counter());
  std::set<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.insert(line);
  EXPECT_TRUE(text.ends_with("\n"));
  EXPECT_EQ(lines, (std::set<std::string>{"DEFAULT\t1800", "HW\t841", "SW\t801", "1234\t1234.801"})) << text;
  EXPECT_TRUE(text.starts_with("DEFAULT\t1800\nHW\t841\n"));
  EXPECT_TRUE(lock_free());
  EXPECT_EQ(entries(path("client/config")), (std::vector<std::string>{"case_num", "case_num.lock"}));
  std::printf("[ figures  ] %d processes x %d numbers over 4 keys: %lld ms, %.0f numbers/s\n", kProcesses, kDraws,
              static_cast<long long>(took.count()),
              kProcesses * kDraws * 1000.0 / std::max<long long>(1, took.count()));
}

TEST_F(CounterLoad, KilledInsideTheLockLeavesAWholeFile) {
  constexpr int kRounds = 10;
  write_counter("DEFAULT\t1\nSW\t5\n");
  // The stored DEFAULT number when the file is whole (the two lines, and
  // nothing else); none otherwise.
  auto whole = [](const std::string& text) -> std::optional<long long> {
    const std::string head = "DEFAULT\t", tail = "\nSW\t5\n";
    if (!text.starts_with(head) || !text.ends_with(tail) || text.size() <= head.size() + tail.size()) return {};
    const std::string digits = text.substr(head.size(), text.size() - head.size() - tail.size());
    if (digits.find_first_not_of("0123456789") != std::string::npos) return {};
    return std::stoll(digits);
  };
  long long last = 1;
  int caught = 0;
  for (int round = 0; round < kRounds; ++round) {
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      for (;;) getmrnum("", counter());
    }
    // Kill the child at a moment it holds the lock: as soon as the lock is
    // seen taken (or after a while, not caught).
    int fd = ::open((counter() + ".lock").c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    const auto until = std::chrono::steady_clock::now() + 5s;
    bool held = false;
    while (!held && std::chrono::steady_clock::now() < until) {
      if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        held = true;
        break;
      }
      ::flock(fd, LOCK_UN);
      ::usleep(static_cast<useconds_t>(50 + round * 37));
    }
    ::kill(pid, SIGKILL);
    ::close(fd);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    caught += held;

    const std::string text = kivtest::read_file(counter());
    const std::optional<long long> read = whole(text);
    ASSERT_TRUE(read) << "round " << round << ": " << text;
    const long long stored = *read;
    EXPECT_GE(stored, last);
    // The sequence goes on from what the file holds.
    EXPECT_EQ(getmrnum("", counter()), std::to_string(stored));
    EXPECT_EQ(kivtest::read_file(counter()), "DEFAULT\t" + std::to_string(stored + 1) + "\nSW\t5\n");
    last = stored + 1;
  }
  EXPECT_GT(caught, 0);
  EXPECT_TRUE(lock_free());
  int leftovers = 0;
  for (const std::string& name : entries(path("client/config")))
    if (name != "case_num" && name != "case_num.lock") ++leftovers;
  std::printf("[ figures  ] %d kills, %d with the lock seen held; %d temporary files left by killed writes\n",
              kRounds, caught, leftovers);
}

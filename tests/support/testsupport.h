// Shared test helpers: a fixture that captures page and console output and
// resets the process-wide state, scoped environment variables and time
// zones, temporary folders and their listings, probes of file locks, and
// runs of a piece of code in a child process.
#pragma once

#include <gtest/gtest.h>

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/exit.h"
#include "platform/output.h"

namespace kivtest {

namespace fs = std::filesystem;

// The status a call ended the process with (kiv::Exit), or none when it
// returned.
template <class F>
std::optional<int> exit_status(F&& f) {
  try {
    f();
  } catch (const kiv::Exit& e) {
    return e.status;
  }
  return std::nullopt;
}

// Sets (or unsets, with nullopt) an environment variable for its lifetime.
class ScopedEnv {
 public:
  ScopedEnv(std::string name, std::optional<std::string> value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

// Sets the time zone (TZ, read again through tzset) for its lifetime; the
// zone before is set and read again afterwards.
class ScopedTz {
 public:
  explicit ScopedTz(const std::string& zone);
  ~ScopedTz();
  ScopedTz(const ScopedTz&) = delete;
  ScopedTz& operator=(const ScopedTz&) = delete;

 private:
  std::optional<ScopedEnv> tz_;
};

// A fresh folder under the build's temporary area (or under `base`), removed
// at the end.
class TempDir {
 public:
  TempDir();
  explicit TempDir(const fs::path& base);
  ~TempDir();
  const fs::path& path() const { return path_; }
  std::string str() const { return path_.string(); }
  // Writes a file (creating folders) and gives its path.
  std::string write(const std::string& relative, const std::string& content) const;

 private:
  fs::path path_;
};

std::string read_file(const std::string& path);

// The names in a folder, sorted.
std::vector<std::string> entries(const std::string& folder);
// The same without the entry named `skipped` (a marker a folder may hold).
std::vector<std::string> entries_but(const std::string& folder, std::string_view skipped);

// Waits until the process `pid` is blocked on an flock of the file at
// `path`, as the kernel's list of locks shows it (/proc/locks); true then.
// False when the process ends first (it is left to its parent to reap) or
// `limit` passes. Lets a test hold a lock and see another process wait for
// it, whatever the speed of the machine.
bool waits_for_lock(pid_t pid, const std::string& path,
                    std::chrono::milliseconds limit = std::chrono::seconds(20));

// True when nobody holds an flock on the lock file at `path` (or there is
// no such file); the file is never made.
bool lock_free(const std::string& path);

// What a child process reported: the kiv::Exit status its work ended with
// (none when it returned), the one line of text it gave back and its page.
struct ChildRun {
  std::optional<int> status;
  std::string result;
  std::string page;
};

// Runs `fn` in a child process whose page goes into a string, as the
// unprivileged user "nobody" when `unprivileged` and this process is root
// (for tests that need folder permissions to hold); the status, the text
// `fn` gives back and the page return through a pipe. Throws when the child
// fails.
ChildRun in_child(const std::function<std::string()>& fn, bool unprivileged);

// Base fixture: page output and standard error go into strings; every piece
// of process-wide state (each holder registers its own reset, see
// platform/state.h) and the flavour are reset before and after each test.
class KivTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  std::string page() const { return out_.text(); }
  std::string errors() const { return err_.text(); }
  void clear_output() {
    out_.clear();
    err_.clear();
  }

  kiv::StringSink out_;
  kiv::StringSink err_;
};

}  // namespace kivtest

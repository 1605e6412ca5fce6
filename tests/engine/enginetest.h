// Helpers of the engine tests: a home folder with the settings pointing at
// it, object lists built from (name, attribute, text) lines, and runs of a
// piece of engine code in a child process (as the unprivileged user "nobody"
// where a test needs folder permissions to hold under root).
#pragma once

#include <gtest/gtest.h>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/output.h"
#include "support/testsupport.h"
#include "toolkit/kivcontext.h"
#include "toolkit/kivobj.h"
#include "toolkit/kivsettings.h"

namespace enginetest {

namespace fs = std::filesystem;

// One attribute of an object: adduniqobj(key, text) with the configuration
// as its origin unless told.
struct Attr {
  std::string key;
  std::string text;
  kiv::Origin origin = kiv::Origin::config;
};

inline std::unique_ptr<kiv::objlist> objects(const std::vector<Attr>& attrs) {
  auto list = std::make_unique<kiv::objlist>();
  for (const Attr& a : attrs) kiv::adduniqobj(list.get(), a.key, a.text, a.origin);
  return list;
}

inline std::string value(const kiv::objlist& list, const std::string& name) {
  return kiv::getvalfromlist(&list, name + ".VALUE").value_or("");
}

// A fixture whose home folder is a fresh temporary folder, traversable by
// every user (for the runs as "nobody").
class HomeTest : public kivtest::KivTest {
 protected:
  void SetUp() override {
    KivTest::SetUp();
    fs::permissions(home_.path(), fs::perms(0755));
    kiv::reqctx().nvhome = home_.str();
  }
  std::string path(const std::string& relative) const { return home_.str() + "/" + relative; }

  kivtest::TempDir home_;
};

// What a child process reported: the kiv::Exit status (none when the code
// returned), the number it gave back and its page.
struct ChildRun {
  std::optional<int> status;
  std::string result;
  std::string page;
};

// Runs `fn` in a child process, as "nobody" when `unprivileged` and this
// process is root; the text `fn` gives back and the page return through a
// pipe.
inline ChildRun in_child(const std::function<std::string()>& fn, bool unprivileged) {
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
    std::optional<int> st = kivtest::exit_status([&] { result = fn(); });
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

// The names in a folder, sorted.
inline std::vector<std::string> entries(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace enginetest

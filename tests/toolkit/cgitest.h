// Helpers of the request intake tests: a home copied from the fixture, the
// CGI environment cleared and restored, a request body on a real file, and
// the exit status of code that ends the process.
#pragma once

#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/exit.h"
#include "support/testsupport.h"
#include "toolkit/request/kivcgiform.h"
#include "toolkit/base/kivcontext.h"

namespace cgitest {

namespace fs = std::filesystem;

using kivtest::exit_status;

// A request body read by the form readers, from a real file.
class Body {
 public:
  explicit Body(const std::string& bytes) : f_(std::tmpfile()) {
    std::fwrite(bytes.data(), 1, bytes.size(), f_);
    std::rewind(f_);
    kiv::set_form_input(f_);
  }
  ~Body() {
    kiv::set_form_input(nullptr);
    std::fclose(f_);
  }
  Body(const Body&) = delete;
  Body& operator=(const Body&) = delete;
  std::FILE* file() const { return f_; }

 private:
  std::FILE* f_;
};

// Every variable the start-up reads, and every one a request publishes
// (kiv::published_names(), but PATH, which keeps the value the tests
// inherited), cleared for a test and put back.
inline const std::vector<std::string>& cgi_variables() {
  static const std::vector<std::string> v = [] {
    std::vector<std::string> names{"REQUEST_METHOD", "QUERY_STRING", "CONTENT_TYPE", "CONTENT_LENGTH",
                                   "SERVER_NAME", "PROG_STATES", "KIVDEBUG", "KIV_REGISTRY_FILE"};
    for (std::string_view name : kiv::published_names())
      if (name != "PATH") names.emplace_back(name);
    return names;
  }();
  return v;
}

// A fixture with a fresh home made from a folder of tests/fixtures
// (cgihome unless the test names another) and the CGI environment cleared.
class HomeTest : public kivtest::KivTest {
 protected:
  explicit HomeTest(std::string fixture = "cgihome") : fixture_(std::move(fixture)) {}
  void SetUp() override {
    kivtest::KivTest::SetUp();
    for (const std::string& name : cgi_variables())
      env_.push_back(std::make_unique<kivtest::ScopedEnv>(name, std::nullopt));
    fs::copy(fs::path(KIV_FIXTURES) / fixture_, home_.path(), fs::copy_options::recursive);
    for (const char* d : {"tmp", "login", "logout", "session"})
      fs::create_directories(home_.path() / d);
    set("NVHOME", home());
    kiv::reqctx().nvhome = home();  // as the start-up leaves it
  }
  void TearDown() override {
    while (!env_.empty()) env_.pop_back();  // the latest first
    kivtest::KivTest::TearDown();
  }
  void set(const std::string& name, const std::string& value) {
    env_.push_back(std::make_unique<kivtest::ScopedEnv>(name, value));
  }
  std::string home() const { return home_.str(); }
  std::string path(const std::string& relative) const { return (home_.path() / relative).string(); }
  std::string write(const std::string& relative, const std::string& content) const {
    return home_.write(relative, content);
  }
  bool exists(const std::string& relative) const { return fs::exists(home_.path() / relative); }

  std::string fixture_;
  kivtest::TempDir home_;
  std::vector<std::unique_ptr<kivtest::ScopedEnv>> env_;
};

}  // namespace cgitest

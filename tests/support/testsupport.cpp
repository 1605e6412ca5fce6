// Shared test helpers (see testsupport.h).
#include "testsupport.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <unistd.h>

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

TempDir::TempDir() {
  fs::path base = fs::temp_directory_path();
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

// Shared fixture of the administration tests: a home with the three object
// files, an administration template that shows where each value came from,
// runs of up_admin with an action word as an administrator the web server let
// in, posting from the site's own page with the version of the files as they
// are (unless a test says otherwise), a listing of everything under the home
// (to see that nothing was written) and runs in a child process (as an
// unprivileged user where the test needs permissions to hold).
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "admin/upadmin.h"
#include "admin/upadmin_table.h"
#include "data/webhandle_db.h"
#include "platform/exit.h"
#include "platform/output.h"
#include "support/testsupport.h"
#include "toolkit/base/kivcontext.h"
#include "toolkit/request/kivexfile.h"
#include "toolkit/base/kivsettings.h"

namespace admintest {

namespace fs = std::filesystem;

inline std::string object(const std::string& name, const std::string& value) {
  return "OBJECT{\n\tNAME=" + name + "\n\tVALUE=" + value + "\n};\n";
}

// An object block of these attribute lines, in this order, as the
// administration writes it.
inline std::string block(const std::vector<std::pair<std::string, std::string>>& attrs) {
  std::string b = "OBJECT{\n";
  for (const auto& [word, value] : attrs) b += "\t" + word + "=" + value + "\n";
  return b + "};\n";
}

// True when `s` is `before`, a run of digits (and points, where allowed), then
// `after`: names that hold a process id or a time.
inline bool numbered(const std::string& s, const std::string& before, const std::string& after,
                     bool points = false) {
  if (s.size() <= before.size() + after.size() || !s.starts_with(before) || !s.ends_with(after)) return false;
  std::string mid = s.substr(before.size(), s.size() - before.size() - after.size());
  if (mid.front() == '.' || mid.back() == '.') return false;
  for (char c : mid)
    if (!(c >= '0' && c <= '9') && !(points && c == '.')) return false;
  return true;
}

// How a run of up_admin ended: by returning its page result, or by ending the
// process with a status.
struct Ended {
  bool exited = false;
  int status = 0;
  bool operator==(const Ended&) const = default;
};
inline Ended returned(int r) { return {false, r}; }
inline Ended exited(int s) { return {true, s}; }
inline std::ostream& operator<<(std::ostream& o, const Ended& e) {
  return o << (e.exited ? "exit " : "return ") << e.status;
}

using kivtest::ChildRun;
using kivtest::exit_status;

// Runs `fn` in a child process (kivtest::in_child), as the unprivileged user
// "nobody" when `unprivileged` and this process is root.
inline ChildRun in_child(const std::function<void()>& fn, bool unprivileged) {
  return kivtest::in_child(
      [&] {
        fn();
        return std::string();
      },
      unprivileged);
}

// The template shows one value of each list, and one that all three hold.
inline constexpr const char* kPage =
    "tk=MB{tkonly.VALUE}ME ce=MB{ceonly.VALUE}ME form=MB{formonly.VALUE}ME all=MB{color.VALUE}ME\n";

// A test with a home of its own.
class HomeTest : public kivtest::KivTest {
 protected:
  kivtest::TempDir home_;
};

// The administration over a home: `Base` holds the home (home_), such as
// HomeTest, or a database road's fixture whose home the tests point their
// connection objects at.
template <class Base>
class AdminFixture : public Base {
 public:
  using Base::Base;

 protected:
  void SetUp() override {
    Base::SetUp();
    if (this->IsSkipped() || this->HasFatalFailure()) return;
    kiv::reset_admin();
    this->home_.write("client/config/tk_obj", object("tkonly", "fromtk") + object("color", "tkred"));
    this->home_.write("client/config/ce_obj", object("ceonly", "fromce") + object("color", "cered"));
    this->home_.write("client/config/admin_obj", object("formonly", "fromadmin") + object("color", "adminblue"));
    this->home_.write("client/kivhtml/admin/page.html", kPage);
    fs::create_directories(this->home_.path() / "tmp");
    kiv::reqctx().nvhome = this->home_.str();
  }
  void TearDown() override {
    kiv::reset_admin();
    Base::TearDown();
  }

  std::string path(const std::string& rel) const { return (this->home_.path() / rel).string(); }
  void write(const std::string& rel, const std::string& text) const { this->home_.write(rel, text); }
  std::string read(const std::string& rel) const { return kivtest::read_file(path(rel)); }
  bool exists(const std::string& rel) const { return fs::exists(this->home_.path() / rel); }

  // Every file under the home with its content.
  std::map<std::string, std::string> tree() const {
    std::map<std::string, std::string> t;
    for (const auto& e : fs::recursive_directory_iterator(this->home_.path()))
      if (e.is_regular_file())
        t[fs::relative(e.path(), this->home_.path()).string()] = kivtest::read_file(e.path().string());
    return t;
  }
  // The names of the files in the home's tmp folder.
  // The backups under tmp (the driver's sweep marker, left by a column
  // check, is none).
  std::vector<std::string> backups() const {
    std::vector<std::string> names = kivtest::entries(path("tmp"));
    std::erase(names, std::string(kiv::kOdbcSweepMarker));
    return names;
  }

  // The version of the object files as they lie on disk now, as a page
  // printed from them carries it.
  std::string version() const {
    auto file = [&](const std::string& rel) -> std::optional<std::string> {
      if (!exists(rel)) return std::nullopt;
      return read(rel);
    };
    return kiv::objfiles_version(file("client/config/tk_obj"), file("client/config/ce_obj"));
  }

  // up_admin with this action word (none: the request has none) and the state
  // line's template. Unless `send_version_` is off, a form without
  // admin_version.VALUE gets the current version().
  Ended run(std::optional<std::string> action, kiv::exlist* request = nullptr,
            const std::string& templ = "page.html") {
    kiv::reqctx().action = action.value_or(std::string());
    kiv::exlist sent = request ? *request : kiv::exlist();
    if (send_version_ && !kiv::getnodeval(&sent, "admin_version.VALUE"))
      kiv::addexdatanode(&sent, kiv::formexdatanode("admin_version.VALUE", version()));
    int result = 0;
    std::optional<int> st = exit_status([&] { result = kiv::up_admin({"up_admin", templ}, &sent); });
    return st ? exited(*st) : returned(result);
  }

  // A form of these fields, in this order.
  static kiv::exlist form_of(const std::vector<std::pair<std::string, std::string>>& fields) {
    kiv::exlist request;
    for (const auto& [name, value] : fields) kiv::addexdatanode(&request, kiv::formexdatanode(name, value));
    return request;
  }

  bool send_version_ = true;
  kivtest::ScopedEnv nvhome_{"NVHOME", this->home_.str()};
  kivtest::ScopedEnv path_{"PATH", "/usr/bin:/bin"};
  kivtest::ScopedEnv debug_{"KIVDEBUG", std::nullopt};
  // An administrator the web server checked, posting from the site's page.
  kivtest::ScopedEnv auth_{"AUTH_TYPE", "Basic"};
  kivtest::ScopedEnv user_{"REMOTE_USER", "admin"};
  kivtest::ScopedEnv method_{"REQUEST_METHOD", "POST"};
  kivtest::ScopedEnv host_{"HTTP_HOST", "helpdesk.example:8080"};
  kivtest::ScopedEnv origin_{"HTTP_ORIGIN", std::nullopt};
  kivtest::ScopedEnv referer_{"HTTP_REFERER", std::nullopt};
};

using AdminTest = AdminFixture<HomeTest>;

// Puts an operation into a row (or a step into its kind) for the life of the
// object, and the one before back afterwards.
class Plug {
 public:
  Plug(std::string_view word, kiv::admin_operation op) : word_(word), op_(kiv::plug_admin_operation(word, op)) {}
  ~Plug() { kiv::plug_admin_operation(word_, op_); }

 private:
  std::string word_;
  kiv::admin_operation op_;
};

class PlugStep {
 public:
  PlugStep(kiv::AdminThen then, kiv::admin_step step) : then_(then), step_(kiv::plug_admin_step(then, step)) {}
  ~PlugStep() { kiv::plug_admin_step(then_, step_); }

 private:
  kiv::AdminThen then_;
  kiv::admin_step step_;
};

}  // namespace admintest

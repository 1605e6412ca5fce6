// Helpers of the Linux road's tests: a home made from tests/fixtures/linuxhome
// (client/bin linking the built station tools), the front program upcgi run
// as a process with a CGI environment, the bytes of the request variable
// stream a state file and a form give, and a pipe for the stream and the page.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "linux/kivexec.h"
#include "platform/process.h"
#include "support/testsupport.h"

namespace linuxtest {

namespace fs = std::filesystem;

inline const std::string kBuild = KIV_BINARY_DIR;
inline const std::string kUpcgi = kBuild + "/linux/upcgi";

inline bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The sanitizers' settings of the run, passed on to the programs.
inline void add_sanitizer_env(std::vector<std::string>& env) {
  for (const char* v : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"})
    if (const char* x = std::getenv(v)) env.push_back(std::string(v) + "=" + x);
}

// A pipe whose ends close with it; an end closed before is -1. A
// `capacity` above 0 sizes the pipe (F_SETPIPE_SZ).
class Pipe {
 public:
  explicit Pipe(int capacity = 0) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    r = fds[0];
    w = fds[1];
    if (capacity > 0) ::fcntl(w, F_SETPIPE_SZ, capacity);
  }
  ~Pipe() {
    close_read();
    close_write();
  }
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;
  void close_read() {
    if (r >= 0) ::close(r);
    r = -1;
  }
  void close_write() {
    if (w >= 0) ::close(w);
    w = -1;
  }
  // Everything that arrives until the write end is closed.
  std::string drain() {
    std::string all;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(r, buf, sizeof buf)) > 0) all.append(buf, static_cast<size_t>(n));
    return all;
  }
  int r = -1, w = -1;
};

// The stream records of NAME=VALUE pairs with their source words.
struct Rec {
  std::string name, value;
  int word;
};

// A fresh home from the fixture, its client/bin linking the built tools.
class Home {
 public:
  Home() {
    fs::copy(fs::path(KIV_FIXTURES) / "linuxhome", path(), fs::copy_options::recursive);
    for (const char* d : {"tmp", "login", "logout", "session"}) fs::create_directories(dir_.path() / d);
    for (const char* tool : {"tagwriter", "tagscanner"})
      fs::create_symlink(kBuild + "/tools/" + tool, dir_.path() / "client/bin" / tool);
  }
  std::string path(const std::string& relative = "") const {
    return relative.empty() ? dir_.str() : (dir_.path() / relative).string();
  }
  std::string states() const { return path("client/config/prog_states"); }
  // Lines added to the state file.
  void state_lines(const std::string& lines) const { std::ofstream(states(), std::ios::app) << lines; }
  std::string write(const std::string& relative, const std::string& content) const {
    return dir_.write(relative, content);
  }
  // A front started as root runs no command without USER: under root the
  // state file names `uid` (65534 unless a test needs another), the home is
  // made traversable and tmp is handed to that user and `gid` (the front
  // removes uploads there after the switch). The record the USER line adds
  // to the stream, none when not root.
  std::vector<Rec> run_as_user(uid_t uid = 65534, gid_t gid = 65534) const;

 private:
  kivtest::TempDir dir_;
};

// The CGI environment of a request to upcgi over `home`; PATH finds the
// command programs of the build first.
inline std::vector<std::string> cgi_env(const Home& home, const std::string& method = "GET") {
  std::vector<std::string> env{"NVHOME=" + home.path(),
                               "PROG_STATES=" + home.states(),
                               "PATH=" + kBuild + "/linux:/usr/bin:/bin",
                               "REQUEST_METHOD=" + method,
                               "SERVER_NAME=helpdesk",
                               "SCRIPT_NAME=/cgi-bin/upcgi",
                               "KIV_TAGSCANNER_IDLE_MS=200"};
  add_sanitizer_env(env);
  return env;
}

// upcgi with a query string (GET) or a body (POST, URL-encoded unless
// `content_type` says otherwise). Variables of `extra` replace those of the
// same name.
inline kiv::process::Result upcgi_get(const Home& home, const std::string& query,
                                      const std::vector<std::string>& extra = {}) {
  kiv::process::Options o;
  for (std::string& e : cgi_env(home)) {
    const std::string name = e.substr(0, e.find('=') + 1);
    bool replaced = false;
    for (const std::string& x : extra) replaced = replaced || x.starts_with(name);
    if (!replaced) o.env.push_back(std::move(e));
  }
  o.env.push_back("QUERY_STRING=" + query);
  o.env.insert(o.env.end(), extra.begin(), extra.end());
  o.capture_output = true;
  o.capture_errors = true;
  return kiv::process::run({kUpcgi}, o);
}

inline kiv::process::Result upcgi_post(const Home& home, const std::string& body,
                                       const std::string& content_type = "application/x-www-form-urlencoded") {
  kiv::process::Options o;
  o.env = cgi_env(home, "POST");
  o.env.push_back("CONTENT_TYPE=" + content_type);
  o.env.push_back("CONTENT_LENGTH=" + std::to_string(body.size()));
  o.input = body;
  o.capture_output = true;
  o.capture_errors = true;
  return kiv::process::run({kUpcgi}, o);
}

inline std::string records(const std::vector<Rec>& recs) {
  std::string s;
  for (const Rec& r : recs) s += kiv::kivexec::exdatarecord(r.name, r.value, r.word);
  return s;
}

inline std::vector<Rec> Home::run_as_user(uid_t uid, gid_t gid) const {
  if (::geteuid() != 0) return {};
  state_lines("USER=" + std::to_string(uid) + "\n");
  fs::permissions(path(), fs::perms(0755));
  if (::chown(path("tmp").c_str(), uid, gid) != 0) throw std::runtime_error("chown tmp");
  return {{"USER", std::to_string(uid), 1}};
}

// The records of the fixture's state file lines, in order.
inline std::vector<Rec> fixture_state() { return {{"label", "codelabel label.html", 1}, {"intake", "codeintake intake.html", 1}}; }

inline int count(const std::string& text, const std::string& part) {
  int n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

}  // namespace linuxtest

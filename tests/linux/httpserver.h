// lighttpd with mod_cgi on a loopback port for the Linux road's end-to-end
// tests: one CGI script, a small wrapper that runs the front program and
// records its exit status (which HTTP does not carry), and the environment
// the front gets through setenv.add-environment.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/testsupport.h"

extern char** environ;

namespace linuxtest {

inline std::string lighttpd_path() {
  for (const char* p : {"/usr/sbin/lighttpd", "/usr/bin/lighttpd", "/usr/local/sbin/lighttpd"})
    if (::access(p, X_OK) == 0) return p;
  return "";
}

inline std::string lighttpd_missing() {
  return lighttpd_path().empty() ? "lighttpd is not installed (Debian package lighttpd)" : "";
}

struct Reply {
  int code = 0;
  std::string head, body;
};

class HttpServer {
 public:
  // `program` answers every request under /upcgi; `env` are NAME=value pairs.
  HttpServer(const std::string& program, const std::vector<std::pair<std::string, std::string>>& env) {
    std::filesystem::permissions(dir_.path(), std::filesystem::perms(0755));
    const std::string script = dir_.write("cgi/upcgi", "#!/bin/sh\n\"" + program + "\"\necho $? >\"" + status_file() + "\"\n");
    ::chmod(script.c_str(), 0755);
    port_ = free_port();
    std::string vars;
    auto add = [&](const std::string& n, const std::string& v) {
      vars += (vars.empty() ? "" : ", ") + std::string("\"") + n + "\" => \"" + v + "\"";
    };
    for (const auto& [n, v] : env) add(n, v);
    for (const char* v : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"})
      if (const char* x = std::getenv(v)) add(v, x);
    const std::string conf = dir_.write(
        "lighttpd.conf", "server.document-root = \"" + dir_.str() + "/cgi\"\nserver.bind = \"127.0.0.1\"\n"
                         "server.port = " + std::to_string(port_) +
                         "\nserver.modules = (\"mod_cgi\", \"mod_setenv\")\nserver.errorlog = \"" + dir_.str() +
                         "/error.log\"\ncgi.assign = (\"\" => \"\")\nsetenv.add-environment = (" + vars + ")\n");
    std::vector<std::string> args{lighttpd_path(), "-D", "-f", conf};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, argv[0], nullptr, nullptr, argv.data(), environ) != 0) pid_ = -1;
    for (int i = 0; i < 200 && pid_ > 0; ++i) {
      if (connect_to(port_) >= 0) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
  }
  ~HttpServer() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  bool running() const { return pid_ > 0; }
  std::string log() const { return kivtest::read_file(dir_.str() + "/error.log"); }

  // A GET of /upcgi?<query>; `status` gets the front's exit status (-2 when
  // none was recorded).
  Reply get(const std::string& query, int& status) {
    std::filesystem::remove(status_file());
    Reply r = exchange("GET /upcgi?" + query + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
    const std::string s = kivtest::read_file(status_file());
    status = s.empty() ? -2 : std::atoi(s.c_str());
    return r;
  }

 private:
  static int free_port() {
    int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(s);
    return ntohs(a.sin_port);
  }
  // A connected socket, or -1.
  static int connect_to(int port, bool keep = false) {
    int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
      ::close(s);
      return -1;
    }
    if (!keep) {
      ::close(s);
      return 0;
    }
    return s;
  }
  Reply exchange(const std::string& request) {
    Reply r;
    const int s = connect_to(port_, true);
    if (s < 0) return r;
    timeval tv{60, 0};
    ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ::send(s, request.data(), request.size(), MSG_NOSIGNAL);
    std::string all;
    char buf[8192];
    ssize_t n;
    while ((n = ::recv(s, buf, sizeof buf, 0)) > 0) all.append(buf, static_cast<size_t>(n));
    ::close(s);
    if (all.rfind("HTTP/1.", 0) == 0 && all.size() > 12) r.code = std::atoi(all.c_str() + 9);
    const size_t body = all.find("\r\n\r\n");
    r.head = all.substr(0, body);
    if (body != std::string::npos) r.body = all.substr(body + 4);
    return r;
  }
  std::string status_file() const { return dir_.str() + "/status"; }

  kivtest::TempDir dir_;
  int port_ = 0;
  pid_t pid_ = -1;
};

}  // namespace linuxtest

// lighttpd with mod_cgi on a loopback port for the end-to-end tests of `up`
// and of the Linux front: one CGI script, a small wrapper that runs the
// program and records its exit status (which HTTP does not carry), and the
// environment the program gets through setenv.add-environment.
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

namespace kivtest {

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
  // `program` answers every request to /<script>; `env` are NAME=value
  // pairs.
  HttpServer(const std::string& program, const std::vector<std::pair<std::string, std::string>>& env,
             const std::string& script_name = "upcgi")
      : script_name_(script_name) {
    std::filesystem::permissions(dir_.path(), std::filesystem::perms(0755));
    const std::string script =
        dir_.write("cgi/" + script_name_, "#!/bin/sh\n\"" + program + "\"\necho $? >\"" + status_file() + "\"\n");
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

  // A GET of /<script>?<query>; `status` gets the program's exit status
  // (-2 when none was recorded).
  Reply get(const std::string& query, int& status) {
    return request("GET /" + script_name_ + "?" + query + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n", status);
  }
  // A POST of `body` of this content type to /<script>; `status` as for get.
  Reply post(const std::string& content_type, const std::string& body, int& status) {
    return request("POST /" + script_name_ + " HTTP/1.0\r\nHost: 127.0.0.1\r\nContent-Type: " + content_type +
                       "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body,
                   status);
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
  // One HTTP/1.0 exchange and the exit status the wrapper recorded; code 0
  // when the server cannot be reached.
  Reply request(const std::string& text, int& status) {
    std::filesystem::remove(status_file());
    Reply r = exchange(text);
    const std::string s = kivtest::read_file(status_file());
    status = s.empty() ? -2 : std::atoi(s.c_str());
    return r;
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

  std::string script_name_;
  kivtest::TempDir dir_;
  int port_ = 0;
  pid_t pid_ = -1;
};

}  // namespace kivtest

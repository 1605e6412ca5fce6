// A scriptable SMTP peer on loopback for the tests: it accepts connections
// one after another, answers each command word with the reply its script
// gives (in one or more separate sends) and then carries on, closes, resets,
// hangs or stalls, and records every byte the client sent on each.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace kivtest {

class SmtpPeer {
 public:
  // What the peer does once a step's reply has gone out.
  enum class Then {
    carry_on,  // read the next command
    close,     // close the connection
    reset,     // wait for the client's next bytes, then reset the connection
    hang,      // answer nothing more; read and drop what comes until the client closes
    stall,     // answer and read nothing more until the test ends
  };
  struct Step {
    std::vector<std::string> segments;  // sent one by one, a little apart
    Then then = Then::carry_on;
  };

  // The script, by command word: "greeting" (on connecting), "HELO", "MAIL",
  // "RCPT", "DATA", "." (the end of data) and "QUIT". Words without a step
  // get "500 what\r\n".
  std::map<std::string, Step> script = {
      {"greeting", {{"220 peer.test ESMTP\r\n"}}}, {"HELO", {{"250 peer.test\r\n"}}},
      {"MAIL", {{"250 sender ok\r\n"}}},           {"RCPT", {{"250 recipient ok\r\n"}}},
      {"DATA", {{"354 go ahead\r\n"}}},            {".", {{"250 queued\r\n"}}},
      {"QUIT", {{"221 bye\r\n"}, Then::close}},
  };

  SmtpPeer() {
    listen_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listen_fd_ < 0) throw std::runtime_error("socket");
    int one = 1;
    ::setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listen_fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(listen_fd_, 4) != 0)
      throw std::runtime_error("bind");
    socklen_t len = sizeof a;
    ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
  }
  SmtpPeer(const SmtpPeer&) = delete;
  SmtpPeer& operator=(const SmtpPeer&) = delete;
  ~SmtpPeer() {
    finish();
    if (listen_fd_ >= 0) ::close(listen_fd_);
  }

  int port() const { return port_; }

  // Starts serving, in a thread of its own.
  void start() {
    thread_ = std::thread([this] { serve(); });
  }

  // Ends the peer and gives every byte the clients sent, one connection
  // after another.
  std::string transcript() {
    std::string all;
    for (const std::string& s : sessions()) all += s;
    return all;
  }
  // Ends the peer and gives what the clients sent, one text per connection.
  std::vector<std::string> sessions() {
    finish();
    std::lock_guard<std::mutex> g(mutex_);
    return received_;
  }
  // True when a client connected.
  bool connected() {
    finish();
    return accepted_;
  }

 private:
  void finish() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }

  // Waits until the descriptor is readable, the test ends or the peer's own
  // limit of 20 seconds passes. Once the test ends, what the client sent
  // before it returned is still taken.
  bool readable(int fd) {
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!stop_ && std::chrono::steady_clock::now() < until) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 10) > 0) return true;
    }
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 50) > 0;
  }

  // Reads what is there into `in_` and the record; false at the end.
  bool fill(int fd) {
    if (!readable(fd)) return false;
    char buf[65536];
    ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n <= 0) return false;
    in_.append(buf, static_cast<size_t>(n));
    std::lock_guard<std::mutex> g(mutex_);
    received_.back().append(buf, static_cast<size_t>(n));
    return true;
  }

  // The text up to and with `end`, taken from the input; false at the end.
  bool take(int fd, const std::string& end, std::string& text) {
    while (true) {
      size_t at = in_.find(end);
      if (at != std::string::npos) {
        text = in_.substr(0, at + end.size());
        in_.erase(0, at + end.size());
        return true;
      }
      if (!fill(fd)) return false;
    }
  }

  std::string joined(const std::string& word) {
    std::string all;
    for (const std::string& s : script[word].segments) all += s;
    return all;
  }

  static std::string word_of(const std::string& line) {
    std::string w;
    for (char c : line) {
      if (c == ' ' || c == ':' || c == '\r' || c == '\n') break;
      w += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return w;
  }

  // Plays one step; false when the connection is over.
  bool play(int& fd, const std::string& word) {
    auto it = script.find(word);
    Step step = it != script.end() ? it->second : Step{{"500 what\r\n"}};
    for (size_t i = 0; i < step.segments.size(); ++i) {
      if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(60));
      const std::string& s = step.segments[i];
      ::send(fd, s.data(), s.size(), MSG_NOSIGNAL);
    }
    switch (step.then) {
      case Then::carry_on:
        return true;
      case Then::close:
        ::close(fd);
        fd = -1;
        return false;
      case Then::reset: {
        if (in_.empty()) fill(fd);
        linger l{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
        ::close(fd);
        fd = -1;
        return false;
      }
      case Then::hang:
        while (fill(fd)) {
        }
        return false;
      case Then::stall:
        while (!stop_) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return false;
    }
    return false;
  }

  void serve() {
    while (readable(listen_fd_)) {
      int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) return;
      accepted_ = true;
      {
        std::lock_guard<std::mutex> g(mutex_);
        received_.emplace_back();
      }
      in_.clear();
      serve_one(fd);
    }
  }

  void serve_one(int fd) {
    if (play(fd, "greeting")) {
      std::string line;
      while (take(fd, "\n", line)) {
        std::string word = word_of(line);
        if (!play(fd, word)) break;
        if (word == "DATA" && joined("DATA").starts_with("354")) {
          std::string data;
          if (!take(fd, "\r\n.\r\n", data) || !play(fd, ".")) break;
        }
      }
    }
    if (fd >= 0) ::close(fd);
  }

  int listen_fd_ = -1;
  int port_ = 0;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> accepted_{false};
  std::mutex mutex_;
  std::vector<std::string> received_;
  std::string in_;
};

}  // namespace kivtest

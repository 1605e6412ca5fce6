// The SMTP dialogue: greeting, optional HELO, MAIL, RCPT for each recipient,
// DATA with the headers and the body, the end of data, QUIT. Replies are read
// line by line up to their line end, from the bytes that arrived only; every
// connect, send and receive has a time limit; sends never raise SIGPIPE.
#include "data/smtpsendmail.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <optional>
#include <vector>

#include "toolkit/base/kivcgitrace.h"
#include "toolkit/base/kivfmt.h"
#include "toolkit/base/kivsettings.h"
#include "toolkit/text/kivtext.h"

namespace kiv {

namespace {

using Clock = std::chrono::steady_clock;

// Bytes of one reply line that are kept, and bytes read for one reply at
// most (a server that never ends its reply is given up on).
constexpr size_t kLineCap = 4096;
constexpr size_t kReplyCap = 65536;

// How one step of the connection ended.
enum class Io { ok, closed, timeout, failed };

bool has_control(std::string_view text) {
  for (char c : text) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7f) return true;
  }
  return false;
}

// The body as it travels: CR LF, a lone CR and a lone LF all become CR LF,
// and a point that begins a line is doubled (the server takes one away), so
// that only the end of data ends the mail.
std::string data_text(std::string_view body) {
  std::string out;
  out.reserve(body.size() + body.size() / 16 + 8);
  bool line_start = true;
  for (size_t i = 0; i < body.size(); ++i) {
    char c = body[i];
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < body.size() && body[i + 1] == '\n') ++i;
      out += "\r\n";
      line_start = true;
      continue;
    }
    if (line_start && c == '.') out += '.';
    out += c;
    line_start = false;
  }
  return out;
}

// The milliseconds left until `deadline`, for poll (0 when it has passed).
int remaining(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  if (left <= 0) return 0;
  return left > 1000000000 ? 1000000000 : static_cast<int>(left);
}

// One connection to the server: a non-blocking socket that every operation
// waits on with poll until its own deadline.
class Connection {
 public:
  explicit Connection(std::chrono::milliseconds limit) : limit_(limit) {}
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  ~Connection() {
    if (fd_ >= 0) ::close(fd_);
  }

  bool open() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    return fd_ >= 0;
  }

  Io connect(const sockaddr_in& address) {
    if (::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) return Io::ok;
    if (errno != EINPROGRESS && errno != EINTR) return Io::failed;
    Io w = wait(POLLOUT, Clock::now() + limit_);
    if (w != Io::ok) return w;
    int error = 0;
    socklen_t len = sizeof error;
    if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &len) != 0 || error != 0) return Io::failed;
    return Io::ok;
  }

  // Sends the whole text within the time limit. A peer that has gone away
  // gives failed, never SIGPIPE.
  Io send(std::string_view text) {
    const auto deadline = Clock::now() + limit_;
    size_t done = 0;
    while (done < text.size()) {
      ssize_t n = ::send(fd_, text.data() + done, text.size() - done, MSG_NOSIGNAL);
      if (n > 0) {
        done += static_cast<size_t>(n);
        continue;
      }
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
        Io w = wait(POLLOUT, deadline);
        if (w != Io::ok) return w;
        continue;
      }
      return Io::failed;
    }
    return Io::ok;
  }

  // Reads one reply: its first line, and with `whole` the continuation lines
  // after it (a code followed by "-"), within one time limit. `line` gets the
  // first line without its line end, cut to kLineCap bytes.
  Io reply(bool whole, std::string& line) {
    const auto deadline = Clock::now() + limit_;
    size_t used = 0;
    Io r = read_line(deadline, used, line);
    if (r != Io::ok || !whole) return r;
    std::string next = line;
    while (next.size() >= 4 && next[3] == '-') {
      r = read_line(deadline, used, next);
      if (r != Io::ok) return r;
    }
    return Io::ok;
  }

 private:
  Io wait(short events, Clock::time_point deadline) {
    while (true) {
      pollfd p{fd_, events, 0};
      int n = ::poll(&p, 1, remaining(deadline));
      if (n > 0) return Io::ok;
      if (n == 0) return Io::timeout;
      if (errno != EINTR) return Io::failed;
    }
  }

  // One line up to LF (a CR before it dropped) from the bytes received so
  // far and those that arrive before the deadline. `used` counts the bytes
  // of the reply taken so far, held to kReplyCap.
  Io read_line(Clock::time_point deadline, size_t& used, std::string& line) {
    while (true) {
      size_t lf = in_.find('\n');
      if (lf != std::string::npos) {
        size_t end = lf > 0 && in_[lf - 1] == '\r' ? lf - 1 : lf;
        line.assign(in_, 0, end < kLineCap ? end : kLineCap);
        in_.erase(0, lf + 1);
        used += lf + 1;
        return Io::ok;
      }
      if (used + in_.size() >= kReplyCap) return Io::failed;
      Io w = wait(POLLIN, deadline);
      if (w != Io::ok) return w;
      char buf[4096];
      ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
      if (n > 0) {
        in_.append(buf, static_cast<size_t>(n));
        continue;
      }
      if (n == 0) return Io::closed;
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) continue;
      return Io::failed;
    }
  }

  std::chrono::milliseconds limit_;
  int fd_ = -1;
  std::string in_;
};

// The server's address, or none when the name does not resolve.
std::optional<sockaddr_in> resolve(std::string_view host) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  std::string name(host);
  if (name.empty() || ::getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0 || !found) return std::nullopt;
  sockaddr_in address{};
  std::memcpy(&address, found->ai_addr, sizeof address);
  ::freeaddrinfo(found);
  return address;
}

int smtp_port(int port) {
  if (port > 0) return port;
  if (const servent* s = ::getservbyname("smtp", "tcp")) return ntohs(static_cast<uint16_t>(s->s_port));
  return 25;
}

// The results of a step that failed: a reply that did not come, a send
// that did not go.
constexpr int kNoReply = 2;
constexpr int kSendFailed = 3;

// Reads the reply to a command: its first line must begin with `expected`
// ("250 ", "354 "). Otherwise the refusal is left in `error` and the
// result is 1; a reply that does not come gives 2.
int expect(Connection& c, std::string_view expected, std::string& error) {
  std::string line;
  Io r = c.reply(false, line);
  if (r != Io::ok) return kNoReply;
  if (line.starts_with(expected)) return 0;
  error = "Sendmail error: " + (line.size() > 4 ? line.substr(4) : std::string());
  kivtrace("smtpsendmail: %s\n", error);
  return 1;
}

// The dialogue after the connection is made; a refusal's text goes into
// `error`.
int dialogue(Connection& c, std::string_view host, std::string_view sender,
             const std::vector<std::string_view>& recipients, std::string_view to, std::string_view cc,
             std::string_view subject, std::string_view body, std::string& error) {
  const bool rfc821 = settings().smtpoption == "rfc821";
  std::string line;
  if (Io r = c.reply(true, line); r != Io::ok) return kNoReply;
  auto command = [&](const std::string& text, std::string_view expected) {
    if (Io r = c.send(text); r != Io::ok) return kSendFailed;
    return expect(c, expected, error);
  };
  if (rfc821) {
    if (Io r = c.send(sformat("HELO %s\r\n", header_text(host))); r != Io::ok) return kSendFailed;
    if (Io r = c.reply(true, line); r != Io::ok) return kNoReply;
  }
  if (int r = command(sformat(rfc821 ? "MAIL FROM:<%s>\r\n" : "MAIL FROM: %s\r\n", sender), "250 ")) return r;
  for (std::string_view to_address : recipients)
    if (int r = command(sformat(rfc821 ? "RCPT TO:<%s>\r\n" : "RCPT TO:  %s\r\n", to_address), "250 ")) return r;
  if (int r = command("DATA\r\n", "354 ")) return r;

  std::vector<std::string> headers;
  std::string date = rfc_date();
  if (!date.empty() && date.back() == '\n') date.pop_back();
  headers.push_back("Date: " + date + "\r\n");
  if (!sender.empty()) headers.push_back(sformat("From: %s\r\n", sender));
  if (!to.empty()) headers.push_back(sformat("To: %s\r\n", header_text(to)));
  if (!cc.empty()) headers.push_back(sformat("Cc: %s\r\n", header_text(cc)));
  if (!subject.empty()) headers.push_back(sformat("Subject: %s\r\n", header_text(subject)));
  if (settings().mailtypeformat) headers.push_back("Content-Type: text/html;\r\n");
  headers.push_back("\r\n");
  headers.push_back(data_text(body));
  headers.push_back("\r\n.\r\n");
  for (const std::string& h : headers)
    if (Io r = c.send(h); r != Io::ok) return kSendFailed;
  if (int r = expect(c, "250 ", error)) return r;
  // The mail is accepted: the answer to QUIT is not awaited.
  c.send("QUIT\r\n");
  return 0;
}

// The recipients that go: non-empty, without a control character, a blank
// or an angle bracket (each one skipped is traced).
std::vector<std::string_view> checked_recipients(std::span<const std::string> recipients) {
  std::vector<std::string_view> checked;
  for (const std::string& r : recipients) {
    if (r.empty()) continue;
    if (has_control(r)) {
      kivtrace("smtpsendmail: recipient with a control character skipped '%s'\n", r);
      continue;
    }
    // Recipients come from form fields too: a blank or an angle bracket would
    // let one add parameters to its RCPT command, so only a bare address goes.
    if (r.find_first_of(" <>") != std::string::npos) {
      kivtrace("smtpsendmail: recipient that is no plain address skipped '%s'\n", r);
      continue;
    }
    checked.push_back(r);
  }
  return checked;
}

}  // namespace

SmtpResult smtpsendmail(std::string_view host, std::string_view sender, std::span<const std::string> recipients,
                        std::string_view to, std::string_view cc, std::string_view subject, std::string_view body,
                        const SmtpRoute& route) {
  if (recipients.empty() || recipients[0].empty()) return {5, {}};
  kivtrace("smtpsendmail: first recipient='%s'\n", recipients[0]);
  const std::vector<std::string_view> checked = checked_recipients(recipients);
  if (checked.empty()) return {5, {}};
  if (has_control(sender)) {
    kivtrace("smtpsendmail: the sender holds a control character\n");
    return {1, "Bad sender address"};
  }

  Connection c(route.limit);
  if (!c.open()) return {1, "Cannot open socket"};
  std::optional<sockaddr_in> address = resolve(host);
  if (!address) return {1, sformat("Cannot locate host %s", host)};
  address->sin_port = htons(static_cast<uint16_t>(smtp_port(route.port)));
  if (c.connect(*address) != Io::ok) return {4, {}};
  SmtpResult result;
  result.result = dialogue(c, host, sender, checked, to, cc, subject, body, result.error);
  return result;
}

std::string rfc_date(std::time_t t) {
  static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  std::tm lt{};
  localtime_r(&t, &lt);
  // The zone from the local time's own offset, east positive, in hours and
  // minutes (zones such as +0530 exist; summer time is already in it).
  long offset = lt.tm_gmtoff / 60;
  std::string zone;
  if (offset == 0) {
    zone = "-0000";
  } else {
    long a = offset < 0 ? -offset : offset;
    zone = sformat("%c%02ld%02ld", offset < 0 ? '-' : '+', a / 60, a % 60);
  }
  return sformat("%s, %d %s %d %02d:%02d:%02d %s\n", kDays[lt.tm_wday % 7], lt.tm_mday, kMonthNames[lt.tm_mon % 12],
                 lt.tm_year + 1900, lt.tm_hour, lt.tm_min, lt.tm_sec, zone);
}

std::string rfc_date() { return rfc_date(std::time(nullptr)); }

}  // namespace kiv

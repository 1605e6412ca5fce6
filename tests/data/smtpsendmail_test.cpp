// Mail delivery by SMTP: exact dialogues with and without the rfc821 option
// against a scripted peer, the escapes of bodies and headers, the failure
// table (refusals, continued replies, closes, time limits, no listener, no
// host), the zone of the Date header, and one mail through a real SMTP
// server (Debian's python3-aiosmtpd).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <algorithm>
#include <cctype>
#include <string_view>

#include "data/mailrecords.h"
#include "data/smtpsendmail.h"
#include "platform/process.h"
#include "support/services.h"
#include "support/testsupport.h"
#include "tests/data/smtppeer.h"
#include "toolkit/base/kivcontext.h"
#include "toolkit/base/kivsettings.h"

using namespace kiv;
using kivtest::SmtpPeer;
using Then = SmtpPeer::Then;

namespace {

// True when `date` has the form of the Date header's text:
// "Www, d Mmm yyyy hh:mm:ss +hhmm" (the day in one or two digits).
bool date_form(std::string_view date) {
  static const std::string days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const std::string months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  auto digits = [&](size_t at, size_t n) {
    if (at + n > date.size()) return false;
    for (size_t i = 0; i < n; ++i)
      if (!std::isdigit(static_cast<unsigned char>(date[at + i]))) return false;
    return true;
  };
  if (date.size() < 32 || std::find(std::begin(days), std::end(days), date.substr(0, 3)) == std::end(days) ||
      date.substr(3, 2) != ", ")
    return false;
  size_t day = date[6] == ' ' ? 1 : 2;
  size_t at = 5 + day;
  if (!digits(5, day) || date.size() != at + 26) return false;
  return date[at] == ' ' &&
         std::find(std::begin(months), std::end(months), date.substr(at + 1, 3)) != std::end(months) &&
         date[at + 4] == ' ' && digits(at + 5, 4) && date[at + 9] == ' ' && digits(at + 10, 2) &&
         date[at + 12] == ':' && digits(at + 13, 2) && date[at + 15] == ':' && digits(at + 16, 2) &&
         date[at + 18] == ' ' && (date[at + 19] == '+' || date[at + 19] == '-') && digits(at + 20, 4) &&
         date.substr(at + 24) == "\r\n";
}

// The transcript with the Date header's text replaced by "<date>", after
// checking that it has the header's form.
std::string undated(const std::string& t) {
  size_t at = t.find("Date: ");
  if (at == std::string::npos) return t;
  size_t end = t.find("\r\n", at);
  if (end == std::string::npos || !date_form(std::string_view(t).substr(at + 6, end + 2 - at - 6))) return t;
  return t.substr(0, at) + "Date: <date>" + t.substr(end);
}

class Smtp : public kivtest::KivTest {
 protected:
  int send(const std::vector<std::string>& to, const std::string& body = "hello",
           const std::string& subject = "Case 12", const std::string& to_header = "",
           const std::string& cc_header = "", const std::string& sender = "help@desk.test") {
    peer_.start();
    last_ = smtpsendmail("127.0.0.1", sender, to, to_header, cc_header, subject, body, {peer_.port()});
    return last_.result;
  }
  SmtpPeer peer_;
  SmtpResult last_;
};

}  // namespace

TEST_F(Smtp, DialogueWithoutTheRfc821Option) {
  EXPECT_EQ(send({"ann@x.test", "bob@x.test", "cy@x.test"}, "line one\nline two"), 0);
  EXPECT_EQ(undated(peer_.transcript()),
            "MAIL FROM: help@desk.test\r\n"
            "RCPT TO:  ann@x.test\r\n"
            "RCPT TO:  bob@x.test\r\n"
            "RCPT TO:  cy@x.test\r\n"
            "DATA\r\n"
            "Date: <date>\r\n"
            "From: help@desk.test\r\n"
            "Subject: Case 12\r\n"
            "\r\n"
            "line one\r\nline two"
            "\r\n.\r\n"
            "QUIT\r\n");
  EXPECT_EQ(last_.error, "");
}

TEST_F(Smtp, DialogueWithTheRfc821OptionHeadersAndHtml) {
  settings().smtpoption = "rfc821";
  settings().mailtypeformat = 1;
  EXPECT_EQ(send({"ann@x.test"}, "<p>hi</p>", "Case 12", "Ann <ann@x.test>", "bob@x.test"), 0);
  EXPECT_EQ(undated(peer_.transcript()),
            "HELO 127.0.0.1\r\n"
            "MAIL FROM:<help@desk.test>\r\n"
            "RCPT TO:<ann@x.test>\r\n"
            "DATA\r\n"
            "Date: <date>\r\n"
            "From: help@desk.test\r\n"
            "To: Ann <ann@x.test>\r\n"
            "Cc: bob@x.test\r\n"
            "Subject: Case 12\r\n"
            "Content-Type: text/html;\r\n"
            "\r\n"
            "<p>hi</p>"
            "\r\n.\r\n"
            "QUIT\r\n");
}

TEST_F(Smtp, NoSubjectAndNoSenderGiveNoHeaderLines) {
  EXPECT_EQ(send({"ann@x.test"}, "b", "", "", "", ""), 0);
  EXPECT_EQ(undated(peer_.transcript()),
            "MAIL FROM: \r\nRCPT TO:  ann@x.test\r\nDATA\r\nDate: <date>\r\n\r\nb\r\n.\r\nQUIT\r\n");
}

// Only the end of data ends the mail: lone points are doubled, every line
// end travels as CR LF.
TEST_F(Smtp, BodyLineEndsAndPoints) {
  struct Case {
    const char* body;
    const char* sent;
  } cases[] = {
      {".", ".."},
      {"a\n.\nQUIT\nb", "a\r\n..\r\nQUIT\r\nb"},
      {"a\r\n.\r\nMAIL FROM: x\r\n", "a\r\n..\r\nMAIL FROM: x\r\n"},
      {"a\rb\r", "a\r\nb\r\n"},
      {"a\n\rb", "a\r\n\r\nb"},
      {"..x\n.y", "...x\r\n..y"},
      {"x.y\n", "x.y\r\n"},
      {"", ""},
  };
  for (const Case& c : cases) {
    SmtpPeer peer;
    peer.start();
    ASSERT_EQ(smtpsendmail("127.0.0.1", "h@d.test", std::vector<std::string>{"a@x.test"}, "", "", "", c.body,
                           {peer.port()})
                  .result,
              0)
        << c.body;
    std::string t = peer.transcript();
    EXPECT_NE(t.find(std::string("\r\n\r\n") + c.sent + "\r\n.\r\nQUIT\r\n"), std::string::npos) << c.body << "\n" << t;
  }
}

TEST_F(Smtp, HeaderTextsAreFoldedAndBadRecipientsSkipped) {
  reqctx().kivdebug = 1;
  // The other control bytes (VT, FF, ESC, a tab, DEL) would reach the mail
  // reader's display: each is a blank.
  EXPECT_EQ(send({"ann@x.test\r\nRCPT TO:  evil@x.test", "bob@x.test"}, "b",
                 "Case 12\r\nBcc: evil@x.test\n\v\f\x1b[2J\t\x7f" "end", "a\rb\x01", "c\n\nd\x1f"),
            0);
  EXPECT_EQ(undated(peer_.transcript()),
            "MAIL FROM: help@desk.test\r\nRCPT TO:  bob@x.test\r\nDATA\r\nDate: <date>\r\n"
            "From: help@desk.test\r\nTo: a b \r\nCc: c d \r\nSubject: Case 12 Bcc: evil@x.test    [2J  end\r\n"
            "\r\nb\r\n.\r\nQUIT\r\n");
  EXPECT_NE(page().find("recipient with a control character skipped"), std::string::npos);
}

TEST_F(Smtp, NoRecipientOrABadSenderSendsNothing) {
  struct Case {
    std::vector<std::string> to;
    const char* sender;
    int result;
    const char* error;
  } cases[] = {
      {{}, "h@d.test", 5, ""},
      {{""}, "h@d.test", 5, ""},
      {{"", "ann@x.test"}, "h@d.test", 5, ""},
      {{"ann@x.test\n", "bob\t@x.test"}, "h@d.test", 5, ""},
      {{"ann@x.test> NOTIFY=NEVER", "bob@x.test SIZE=1", "<eve@x.test"}, "h@d.test", 5, ""},
      {{"ann@x.test"}, "h@d.test\r\nRCPT TO:<evil@x.test>", 1, "Bad sender address"},
  };
  for (const Case& c : cases) {
    SmtpPeer peer;
    peer.start();
    const SmtpResult sent = smtpsendmail("127.0.0.1", c.sender, c.to, "", "", "s", "b", {peer.port()});
    EXPECT_EQ(sent.result, c.result);
    EXPECT_EQ(sent.error, c.error);
    EXPECT_FALSE(peer.connected());
  }
}

// What each failing server gives, and that a refused mail never reaches DATA
// or QUIT.
TEST_F(Smtp, FailureTable) {
  const std::string big(32 << 20, 'x');  // more than the loopback buffers hold
  struct Case {
    const char* what;
    const char* word;
    SmtpPeer::Step step;
    int result;
    const char* error;
    bool rfc821 = false;
    bool big_body = false;
  } cases[] = {
      {"sender refused", "MAIL", {{"550 no such sender\r\n"}}, 1, "Sendmail error: no such sender"},
      {"recipient refused", "RCPT", {{"550 unknown user\r\n"}}, 1, "Sendmail error: unknown user"},
      {"continued reply to MAIL", "MAIL", {{"250-first\r\n250 second\r\n"}}, 1, "Sendmail error: first"},
      {"continued reply to RCPT", "RCPT", {{"250-ok\r\n250 ok\r\n"}}, 1, "Sendmail error: ok"},
      {"continued reply to DATA", "DATA", {{"354-go\r\n354 go\r\n"}}, 1, "Sendmail error: go"},
      {"DATA refused", "DATA", {{"503 no\r\n"}}, 1, "Sendmail error: no"},
      {"mail refused at its end", ".", {{"554 spam\r\n"}}, 1, "Sendmail error: spam"},
      {"continued reply to the end of data", ".", {{"250-queued\r\n250 ok\r\n"}}, 1, "Sendmail error: queued"},
      {"short refusal", "MAIL", {{"55\r\n"}}, 1, "Sendmail error: "},
      {"close before the greeting", "greeting", {{}, Then::close}, 2, ""},
      {"close before a reply", "MAIL", {{}, Then::close}, 2, ""},
      {"close inside a reply", "RCPT", {{"250 o"}, Then::close}, 2, ""},
      {"close before the HELO reply", "HELO", {{}, Then::close}, 2, "", true},
      {"no greeting in time", "greeting", {{}, Then::hang}, 2, ""},
      {"no reply to the end of data in time", ".", {{}, Then::hang}, 2, ""},
      {"close before a send", "DATA", {{"354 go\r\n"}, Then::reset}, 3, "", false, true},
      {"sends that do not go in time", "DATA", {{"354 go\r\n"}, Then::stall}, 3, "", false, true},
      {"reply in two segments", "MAIL", {{"25", "0 ok\r\n"}}, 0, ""},
      {"reply line end in two segments", "RCPT", {{"250 ok\r", "\n"}}, 0, ""},
      {"multi-line greeting", "greeting", {{"220-one\r\n", "220-two\r\n220 three\r\n"}}, 0, ""},
      {"multi-line HELO reply", "HELO", {{"250-peer\r\n250-SIZE 1000\r\n", "250 HELP\r\n"}}, 0, "", true},
  };
  const std::chrono::milliseconds limit(300);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    settings().smtpoption = c.rfc821 ? "rfc821" : "0";
    SmtpPeer peer;
    peer.script[c.word] = c.step;
    peer.start();
    auto begin = std::chrono::steady_clock::now();
    std::vector<std::string> to{"ann@x.test", "bob@x.test"};
    const SmtpResult sent =
        smtpsendmail("127.0.0.1", "h@d.test", to, "", "", "s", c.big_body ? big : "b", {peer.port(), limit});
    EXPECT_EQ(sent.result, c.result);
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(10));
    EXPECT_EQ(sent.error, c.error);
    std::string t = peer.transcript();
    if (c.result == 1) {
      EXPECT_EQ(t.find("QUIT"), std::string::npos) << t;
      if (std::string(c.word) != "DATA" && std::string(c.word) != ".") {
        EXPECT_EQ(t.find("DATA"), std::string::npos) << t;
      }
    }
    if (c.result == 0) {
      EXPECT_TRUE(t.ends_with("\r\n.\r\nQUIT\r\n")) << t;
    }
  }
}

TEST_F(Smtp, NoListenerNoHostNoConnectionInTime) {
  const std::chrono::milliseconds limit(300);
  std::vector<std::string> to{"ann@x.test"};
  int free_port;
  {
    SmtpPeer gone;  // a port nobody listens on once it is gone
    free_port = gone.port();
  }
  EXPECT_EQ(smtpsendmail("127.0.0.1", "h@d.test", to, "", "", "s", "b", {free_port, limit}).result, 4);

  const SmtpResult unknown = smtpsendmail("no-such-host.invalid", "h@d.test", to, "", "", "s", "b", {25, limit});
  EXPECT_EQ(unknown.result, 1);
  EXPECT_EQ(unknown.error, "Cannot locate host no-such-host.invalid");

  // A listener whose queue is full answers no new connection.
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ASSERT_EQ(::listen(fd, 0), 0);
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  std::vector<int> fillers;
  for (int i = 0; i < 4; ++i) {
    int f = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    ::connect(f, reinterpret_cast<sockaddr*>(&a), sizeof a);
    fillers.push_back(f);
  }
  auto begin = std::chrono::steady_clock::now();
  EXPECT_EQ(smtpsendmail("127.0.0.1", "h@d.test", to, "", "", "s", "b", {ntohs(a.sin_port), limit}).result, 4);
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(5));
  for (int f : fillers) ::close(f);
  ::close(fd);
}

// The mail of records goes to the port of the test setting.
TEST_F(Smtp, PortFromTheTestSetting) {
  peer_.start();
  mailstate().smtp_port = peer_.port();
  EXPECT_EQ(pc_mail_records("a@x.test", "", "", "one^$", "k^$", "s", 0, "SMTP", "127.0.0.1", "h@d.test", ""), 0);
  EXPECT_EQ(page(), "");  // no failed send
  EXPECT_NE(peer_.transcript().find("RCPT TO:  a@x.test\r\n"), std::string::npos);
}

TEST_F(Smtp, DateZoneFromTheLocalOffset) {
  struct Case {
    const char* tz;
    std::time_t t;
    const char* date;
  } cases[] = {
      {"UTC0", 1700000000, "Tue, 14 Nov 2023 22:13:20 -0000\n"},
      {"IST-5:30", 1700000000, "Wed, 15 Nov 2023 03:43:20 +0530\n"},
      {"EST5EDT,M3.2.0,M11.1.0", 1700000000, "Tue, 14 Nov 2023 17:13:20 -0500\n"},
      {"EST5EDT,M3.2.0,M11.1.0", 1690000000, "Sat, 22 Jul 2023 00:26:40 -0400\n"},
      {"NST3:30NDT,M3.2.0,M11.1.0", 1690000000, "Sat, 22 Jul 2023 01:56:40 -0230\n"},
      {"CET-1CEST,M3.5.0,M10.5.0/3", 1690000000, "Sat, 22 Jul 2023 06:26:40 +0200\n"},
      {"XXX-14", 1700000000, "Wed, 15 Nov 2023 12:13:20 +1400\n"},
  };
  for (const Case& c : cases) {
    kivtest::ScopedTz tz(c.tz);
    EXPECT_EQ(rfc_date(c.t), c.date) << c.tz;
  }
}

namespace {

// A real SMTP server: Debian's aiosmtpd under the system's Python, started
// on a free loopback port, writing each mail it accepts into a file.
class RealServer {
 public:
  static std::string missing() {
    process::Options o;
    o.env = process::safe_environment();
    o.capture_errors = true;
    process::Result r = process::run({kPython, "-c", "import aiosmtpd"}, o);
    if (r.ok()) return "";
    return std::string("the real SMTP server test needs ") + kPython +
           " with aiosmtpd (Debian package python3-aiosmtpd)";
  }

  bool start() {
    {
      SmtpPeer probe;  // a free port
      port_ = probe.port();
    }
    std::string script = dir_.write("server.py", kScript);
    int to_child[2], from_child[2];
    if (::pipe(to_child) != 0 || ::pipe(from_child) != 0) return false;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(to_child[0], 0);
      ::dup2(from_child[1], 1);
      ::close(to_child[1]);
      ::close(from_child[0]);
      std::string port = std::to_string(port_), out = mailfile();
      ::execl(kPython, kPython, script.c_str(), port.c_str(), out.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(to_child[0]);
    ::close(from_child[1]);
    stdin_ = to_child[1];
    // Ready once the server prints its line.
    std::string line;
    char c;
    pollfd p{from_child[0], POLLIN, 0};
    while (::poll(&p, 1, 20000) > 0 && ::read(from_child[0], &c, 1) == 1 && c != '\n') line += c;
    ::close(from_child[0]);
    return line == "ready";
  }

  ~RealServer() {
    if (stdin_ >= 0) ::close(stdin_);  // the server ends when its input ends
    if (pid_ > 0) {
      int status;
      for (int i = 0; i < 200 && ::waitpid(pid_, &status, WNOHANG) == 0; ++i) ::usleep(50000);
      if (::waitpid(pid_, &status, WNOHANG) == 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status, 0);
      }
    }
  }

  int port() const { return port_; }
  std::string mailfile() const { return dir_.str() + "/mail.txt"; }

 private:
  static constexpr const char* kPython = "/usr/bin/python3";
  static constexpr const char* kScript = R"(import sys
from aiosmtpd.controller import Controller
port, out = int(sys.argv[1]), sys.argv[2]
class Handler:
    async def handle_DATA(self, server, session, envelope):
        with open(out, 'w', newline='') as f:
            f.write('FROM ' + envelope.mail_from + '\n')
            for r in envelope.rcpt_tos:
                f.write('TO ' + r + '\n')
            f.write(envelope.content.decode('utf-8', 'replace'))
        return '250 Message accepted for delivery'
c = Controller(Handler(), hostname='127.0.0.1', port=port)
c.start()
print('ready', flush=True)
sys.stdin.read()
c.stop()
)";
  kivtest::TempDir dir_;
  int port_ = 0;
  pid_t pid_ = -1;
  int stdin_ = -1;
};

}  // namespace

TEST_F(Smtp, DeliveryToARealServer) {
  KIV_NEED_SERVICE(RealServer::missing());
  RealServer server;
  ASSERT_TRUE(server.start()) << "the SMTP server did not start";
  settings().smtpoption = "rfc821";
  std::vector<std::string> to{"ann@x.test", "bob@x.test"};
  const SmtpResult sent = smtpsendmail("127.0.0.1", "helpdesk@desk.test", to, "", "", "Case 12 changed",
                                       "Status\n======\nOpen\n.\nend\n", {server.port()});
  EXPECT_EQ(sent.result, 0) << sent.error;
  std::string mail = kivtest::read_file(server.mailfile());
  EXPECT_TRUE(mail.starts_with("FROM helpdesk@desk.test\nTO ann@x.test\nTO bob@x.test\n")) << mail;
  EXPECT_NE(mail.find("From: helpdesk@desk.test\r\n"), std::string::npos) << mail;
  EXPECT_NE(mail.find("Subject: Case 12 changed\r\n"), std::string::npos) << mail;
  EXPECT_NE(mail.find("\r\n\r\nStatus\r\n======\r\nOpen\r\n.\r\nend\r\n"), std::string::npos) << mail;

  // Without HELO such a server refuses the sender.
  settings().smtpoption = "0";
  const SmtpResult refused = smtpsendmail("127.0.0.1", "helpdesk@desk.test", to, "", "", "s", "b", {server.port()});
  EXPECT_EQ(refused.result, 1);
  EXPECT_TRUE(refused.error.starts_with("Sendmail error: ")) << refused.error;
}

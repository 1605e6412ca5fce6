// Mail delivery by SMTP: the dialogue with a mail server over one TCP
// connection per mail, and the date of the Date header.
#pragma once

#include <chrono>
#include <ctime>
#include <span>
#include <string>
#include <string_view>

namespace kiv {

// Where a mail goes and how long each step may take: the port (0: that of
// the "smtp" service, else 25) and the time limit of each connect, send and
// receive of the dialogue.
struct SmtpRoute {
  int port = 0;
  std::chrono::milliseconds limit{std::chrono::seconds(60)};
};

// What one delivery gave: the result and, for result 1, why.
struct SmtpResult {
  int result = 0;
  std::string error;
};

// Sends one mail to `host` from `sender` to the recipients; `to`, `cc` and
// `subject` become headers when not empty. With smtpoption "rfc821" the
// dialogue greets with HELO and writes addresses in angle brackets; with
// mailtypeformat the mail says it is HTML. The port is the route's `port`
// when above 0, else that of the "smtp" service, else 25. Every connect, send
// and receive has the route's time limit.
//
// The body goes with every line end written as CR LF and a point that begins
// a line doubled, so no text ends the mail early. Header texts have each run
// of CR and LF folded to one blank and every other control byte (C0, DEL)
// written as a blank. Recipients holding a control character
// are skipped (traced); a sender holding one is refused.
//
// Result: 0 the server accepted the mail; 1 no socket, a host that does not
// resolve, a refused sender, or a reply other than the one expected (a
// continued reply included); 2 no reply (closed, failed or out of time);
// 3 a send failed or ran out of time; 4 no connection; 5 no recipient (none,
// a first one that is empty, or none left after the check). For result 1
// the error says why: "Cannot open socket", "Cannot locate host <host>",
// "Bad sender address", or "Sendmail error: " and the reply from its fifth
// character on; it is empty after any other result.
SmtpResult smtpsendmail(std::string_view host, std::string_view sender, std::span<const std::string> recipients,
                        std::string_view to, std::string_view cc, std::string_view subject, std::string_view body,
                        const SmtpRoute& route = {});

// The local time of `t` as "%s, %d %s %d %02d:%02d:%02d %s\n" (weekday, day
// of the month, month, year, hours, minutes, seconds, zone); the zone is the
// local offset from UTC as "+hhmm" or "-hhmm", "-0000" for none. Without an
// argument: now.
std::string rfc_date(std::time_t t);
std::string rfc_date();

}  // namespace kiv

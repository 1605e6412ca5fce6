// Mail texts from records: the body composed row by row, the template
// expander, the choice between SMTP and Simple MAPI, and the MAPI mail
// itself; with the one instance of the mail state.
#include "data/mailrecords.h"

#include "data/mapisendmail.h"
#include "data/smtpsendmail.h"
#include "platform/flavour.h"
#include "platform/output.h"
#include "platform/state.h"
#include "toolkit/base/kivcgitrace.h"
#include "toolkit/base/kivsettings.h"
#include "toolkit/text/kivtext.h"
#include "toolkit/text/rowcol.h"

namespace kiv {

MailState& mailstate() {
  static MailState state;
  KIV_REGISTER_RESET(&reset_mailstate);
  return state;
}

void reset_mailstate() { mailstate() = MailState{}; }

namespace {

// The addresses of a recipient list: the pieces between "," with the blanks
// around them cut; empty pieces are left out.
std::vector<std::string> split_recipients(std::string_view list) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start <= list.size()) {
    size_t comma = list.find(',', start);
    std::string_view piece = list.substr(start, comma == std::string_view::npos ? list.npos : comma - start);
    piece = trim_blanks(piece);
    if (!piece.empty()) out.emplace_back(piece);
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  return out;
}

// A value of the row as it goes into the body.
std::string body_value(std::string_view value, bool html) { return html ? html_escape(value) : std::string(value); }

// A field list is absent when empty or when it begins with a blank.
bool has_fieldlist(std::string_view fieldlist) { return !fieldlist.empty() && fieldlist.front() != ' '; }

}  // namespace

std::optional<std::string> mail2str(std::string_view keys, std::string_view row, std::string_view templ, bool html) {
  if (templ.empty() || row.empty() || keys.empty()) return std::nullopt;
  std::string out;
  out.reserve(templ.size() + row.size() + 1024);
  auto marker = [&](std::string_view name) {
    if (name.empty()) return;
    if (name == "n") {
      out += '\n';
      return;
    }
    std::optional<std::string> v = getvaluebykey(row, keys, name);
    if (!v || v->empty())
      out += '*';
    else
      out += body_value(*v, html);
  };
  size_t i = 0;
  while (i < templ.size()) {
    char c = templ[i];
    if (c == '\\') {
      if (i + 1 < templ.size()) out += templ[i + 1];
      i += 2;
      continue;
    }
    if (c == '{') {
      size_t close = templ.find('}', i + 1);
      if (close == std::string_view::npos) {
        marker(templ.substr(i + 1));
        break;
      }
      marker(templ.substr(i + 1, close - i - 1));
      i = close + 1;
      continue;
    }
    out += c;
    ++i;
  }
  return out;
}

std::string get_maildata(std::string_view row, std::string_view keys, std::string_view fieldlist,
                         std::string_view labels, bool html) {
  if (!has_fieldlist(fieldlist)) return mail2str(keys, row, labels, html).value_or(std::string());
  std::string out;
  const int count = getcolcount(fieldlist);
  for (int i = 1; i <= count; ++i) {
    std::string field = getcol_or_empty(fieldlist, i);
    if (field.empty()) continue;
    std::optional<std::string> value = getvaluebykey(row, keys, field);
    if (!value || value->empty()) continue;
    std::string label = getcol_or_empty(labels, i);
    if (!label.empty()) {
      out += label;
      out += '\n';
      out.append(label.size(), '=');
      out += '\n';
    }
    out += body_value(*value, html);
    out += "\n\n";
  }
  return out;
}

int mailmapi(std::string_view host, std::string_view profile, std::string_view password,
             const std::vector<std::string>& recipients, std::string_view subject, std::string_view body) {
  (void)host;
  kivtrace("mailmapi: profile=%s\n", profile);
  for (const std::string& r : recipients) kivtrace("mailmapi: MAIL TO: %s ", r);
  MapiSession s;
  if (int rc = mapi_logon(s, profile, password); rc != 0) {
    pagef("Error %d on login", rc);
    return 1;
  }
  kivtrace("Successful MAPI login.\n");
  const int sent = mapi_sendmail(s, recipients, subject, body);
  if (sent != 0) pagef("MAPI mail faild error=%d\n", sent);
  // The session and the library go whether the mail went or not.
  if (int off = mapi_logoff(s); off != 0) err() << sformat("MAPI mail %d logout.\n", off);
  return sent != 0 ? 1 : 0;
}

int pc_mail_records(std::string_view recipients, std::string_view fieldlist, std::string_view labels,
                    std::string_view rows, std::string_view keys, std::string_view subject, int unused,
                    std::string_view mailtype, std::string_view host, std::string_view sender,
                    std::string_view password) {
  (void)unused;
  if (recipients.empty() || rows.empty() || keys.empty()) return -1;
  kivtrace("pc_mail_records: list=%s\n", recipients);
  const std::vector<std::string> list = split_recipients(recipients);

  const bool html = settings().mailtypeformat != 0;
  std::string body;
  body.reserve(10240);
  const int count = getrowcount(rows);
  for (int i = 1; i <= count; ++i) {
    std::optional<std::string> row = getrow(rows, i);
    if (!row || row->empty()) continue;
    body += get_maildata(*row, keys, fieldlist, labels, html);
  }

  // The Linux builds carry no MAPI: there every mail goes by SMTP.
  const bool mapi = mailtype == "MAPI" && platform() == Platform::windows;
  // A mail to more recipients than any notification needs is a list gone
  // wrong (or made so): it is not sent, and says so as a failed send does.
  if (list.size() > kMaxRecipients) {
    kivtrace("pc_mail_records: %d recipients, more than %d: the mail is not sent\n",
             static_cast<long long>(list.size()), static_cast<long long>(kMaxRecipients));
    out() << (mapi ? "mapi mail failed to send mail.\n" : "smtp mail failed to send mail.\n");
    return 0;
  }
  if (!mapi) {
    kivtrace("Use SMTP for MAIL.");
    kivtrace("Mailhost=%s Sender=%s Count=%d", host, sender, static_cast<int>(list.size()));
    MailState& ms = mailstate();
    const SmtpResult sent = smtpsendmail(host, sender, list, "", "", subject, body, {ms.smtp_port, ms.smtp_limit});
    ms.smtperror = sent.error;
    if (sent.result != 0) out() << "smtp mail failed to send mail.\n";
  } else {
    kivtrace("Use MAPI for MAIL");
    if (mailmapi(host, sender, password, list, subject, body) != 0) out() << "mapi mail failed to send mail.\n";
  }
  return 0;
}

}  // namespace kiv

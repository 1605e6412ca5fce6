// The mail trigger of the case operations.
#include "engine/nvsend_mail.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "data/mailrecords.h"
#include "engine/filtertimestamp.h"
#include "engine/gsqlexec.h"
#include "engine/maillist.h"
#include "toolkit/objects/kivobj.h"
#include "engine/upflags.h"
#include "engine/upobjdb.h"
#include "toolkit/base/kivcgitrace.h"
#include "toolkit/base/kivsettings.h"
#include "toolkit/text/kivtext.h"

namespace kiv {

namespace {

void show(objlist& list, std::string_view text, Origin origin) {
  adduniqobj(list, "showmaillist.VALUE", text, origin);
}

std::string setting(const objlist& list, const char* key, const char* fallback) {
  std::string v = objtext(list, key);
  return v.empty() ? fallback : v;
}

// An address field a request filled holds one address: its text up to the
// first ",". The rest is dropped (traced), so that one form field cannot
// mail a list of strangers; addresses the configuration or a record gave
// keep their lists.
void one_request_address(objlist& list, std::string_view field) {
  const objattr_text a = objattr(list, field, "VALUE");
  const size_t comma = a.text.find(',');
  if (a.origin != Origin::request || comma == std::string::npos) return;
  const std::string first(trim_blanks(std::string_view(a.text).substr(0, comma)));
  kivtrace("nv_sendmail: %s holds more than one address; only '%s' is mailed\n", field, first);
  setobjvalue(list, field, first, Origin::request);
}

// In the three-table model: the addresses from the users and staff tables.
void lookup_addresses(objlist& list, MailState& ms) {
  const bool every_case = engineflags().multiassignflag != 0;
  if (ms.mailuser.empty() || every_case) {
    if (std::optional<std::string> a = getusermailfromdb(list)) {
      adduniqobj(list, "sub_e_mail.VALUE", *a, Origin::record);
      ms.mailuser = *a;
    }
  }
  if (ms.mailstaff.empty() || every_case) {
    if (std::optional<std::string> a = getstaffmailfromdb(list)) {
      adduniqobj(list, "sa_e_mail.VALUE", *a, Origin::record);
      ms.mailstaff = *a;
    }
  }
}

// The mail's addresses: a request's sub_e_mail and sa_e_mail cut to one
// address, then the submitter's, the staff member's and the extra addresses
// into the mail state (from the tables too in the three-table model).
void gather_addresses(objlist& list) {
  one_request_address(list, "sub_e_mail");
  one_request_address(list, "sa_e_mail");
  MailState& ms = mailstate();
  ms.mailuser = objtext(list, "sub_e_mail.VALUE");
  ms.mailstaff = objtext(list, "sa_e_mail.VALUE");
  ms.mailothers = objtext(list, "others_e_mail.VALUE");
  if (settings().threetablemodel) lookup_addresses(list, ms);
}

// How the mails go: mail_system_type, mail_smtp_host, mail_sender_login and
// mail_sender_password, each with its default.
struct MailRoute {
  std::string type, host, login, password;
};

MailRoute mail_route(const objlist& list) {
  MailRoute r{setting(list, "mail_system_type.VALUE", "SMTP"), setting(list, "mail_smtp_host.VALUE", "localhost"),
              setting(list, "mail_sender_login.VALUE", "Administrator"),
              setting(list, "mail_sender_password.VALUE", "Velto482")};
  // The password stays out of the trace.
  kivtrace("nv_sendmail: Mailtype=%s Mailhost=%s Maillogin=%s \n", r.type, r.host, r.login);
  return r;
}

// Sends one mail of the case's packet to `recipients`.
void send_records(std::string_view recipients, std::string_view fieldlist, std::string_view labels,
                  const packet& pkt, std::string_view subject, const MailRoute& route) {
  pc_mail_records(recipients, fieldlist, labels, pkt.data, pkt.keys, subject, 0, route.type, route.host, route.login,
                  route.password);
}

// Sends each custom message of the table from its message object (CONTROL
// the subject, VALUE and TITLE the body), appending each list mailed to
// `shown` after a ",".
void send_custom_messages(const objlist& list, const packet& pkt, const std::vector<MailMessageList>& bymsg,
                          const MailRoute& route, std::string& shown) {
  for (const MailMessageList& entry : bymsg) {
    const std::string msgsubject =
        mail2str(pkt.keys, pkt.data, objtext(list, entry.message + ".CONTROL")).value_or(std::string());
    const std::string msgfields = objtext(list, entry.message + ".VALUE");
    const std::string msglabels = objtext(list, entry.message + ".TITLE");
    if (entry.list.empty()) {
      kivtrace("mail trigger with custom message: no receipient\n");
      continue;
    }
    shown += ",";
    shown += entry.list;
    kivtrace("msg=%s list=%s\n", entry.message, entry.list);
    send_records(entry.list, msgfields, msglabels, pkt, msgsubject, route);
  }
}

// showmaillist.VALUE := everyone mailed, one separator cut at each end, or
// "No One" when nobody was.
void show_mailed(objlist& list, std::string shown, std::string_view mainlist) {
  if (shown.empty()) {
    show(list, "No One", Origin::config);
    kivtrace("nv_sendmail: Maillist is empty. Don't send mail\n");
    return;
  }
  if (shown.back() == ',' || shown.back() == ' ') shown.pop_back();
  if (!shown.empty() && (shown.front() == ',' || shown.front() == ' ')) shown.erase(0, 1);
  show(list, shown, Origin::record);
  kivtrace("nv_sendmail: Send mail to:=%s\n", mainlist);
}

}  // namespace

int nvsend_mail(objlist& list) {
  const std::string notification = objtext(list, "mail_notification.VALUE");
  if (notification.empty()) {
    show(list, "E-mail notification is OFF", Origin::config);
    kivtrace("Notification is not defined");
    return -1;
  }
  if (notification != "ON") {
    show(list, "E-mail notification is OFF", Origin::config);
    kivtrace("Notification is disabled");
    return 0;
  }
  // The main mail's texts as the configuration gave them, before the
  // steps below fill the case's values in.
  const std::string subject_template = objtext(list, "mailmsg_subject.TITLE");
  const std::string fieldlist = objtext(list, "mailmsg_body.VALUE");
  const std::string labels = objtext(list, "mailmsg_body.TITLE");
  gather_addresses(list);
  filtertimestamp(list);
  const std::unique_ptr<packet> pkt = obj2db(list);

  const MailLists lists = getmaillist(list, kMailMode);
  const std::string subject = mail2str(pkt->keys, pkt->data, subject_template).value_or(std::string());
  const MailRoute route = mail_route(list);
  send_records(lists.main, fieldlist, labels, *pkt, subject, route);
  std::string shown = lists.main;
  send_custom_messages(list, *pkt, lists.bymsg, route, shown);
  show_mailed(list, std::move(shown), lists.main);
  return 0;
}

}  // namespace kiv

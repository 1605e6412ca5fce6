// The mail trigger: after a successful add, modify or respond the case
// engine sends the notification mails of the case (one main mail to the
// mailing-list recipients, one per custom-message rule) and tells the page
// who was mailed through the object showmaillist.
#pragma once

#include "toolkit/objects/kivobj.h"

namespace kiv {

// Sends the notification mails of the case on the list, when
// mail_notification.VALUE is exactly "ON":
// - the addresses: sub_e_mail, sa_e_mail, others_e_mail (a request's value
//   of sub_e_mail or sa_e_mail is cut to its first address, before any ",";
//   configured and stored lists stay whole); in the three-table
//   model the users and staff tables give the submitter's and the staff
//   member's when the form has none, and for every case while the
//   assignment command runs (multiassignflag);
// - the stamp-free copies of problem and resolution, the case's packet, the
//   mailing-list rules' main list and custom-message table;
// - the main mail: subject mailmsg_subject.TITLE expanded against the case,
//   body from mailmsg_body (VALUE the field list, TITLE the labels or the
//   template); each custom message from its message object (CONTROL the
//   subject, VALUE and TITLE the body);
// - delivery by mail_system_type ("SMTP"), mail_smtp_host ("localhost"),
//   mail_sender_login ("Administrator") and mail_sender_password.
// showmaillist.VALUE becomes everyone mailed (main list, then each custom
// list), "No One" for nobody, or "E-mail notification is OFF". Delivery
// failures do not change the result (the mail sender shows them).
// -1 when mail_notification is missing or empty; else 0.
int nvsend_mail(objlist& list);

}  // namespace kiv

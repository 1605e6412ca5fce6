// Mail texts from records: the body of a notification mail made from rows in
// row/column text (a field list with labels, or a template with field
// markers), handed to SMTP or Simple MAPI delivery; and the process-wide mail
// state that the mail trigger, the rule evaluation and the delivery share.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kiv {

// The mail state of a process. The mail trigger refills the addresses at
// each call (the assignment command answers many cases in one process); one
// instance per process; tests reset it with reset_mailstate().
struct MailState {
  // The submitter's, the assigned staff member's and the fixed extra
  // addresses of the current mail (sub_e_mail, sa_e_mail, others_e_mail, or
  // the users and staff tables in the three-table model); empty: none.
  std::string mailuser, mailstaff, mailothers;
  // Column names and row of the last staff lookup, for the recipients named
  // "STAFF-" followed by a column name.
  std::string gmailkeys, gmaildata;
  // Why the last SMTP delivery of pc_mail_records gave result 1 ("Cannot
  // open socket", "Sendmail error: ...", ...); empty after any other result.
  std::string smtperror;

  // Test settings, never set from configuration or a request, that
  // pc_mail_records hands to smtpsendmail as its route: the SMTP port (0: the
  // "smtp" service, else 25) and the time limit of each connect, send and
  // receive of the SMTP dialogue.
  int smtp_port = 0;
  std::chrono::milliseconds smtp_limit{std::chrono::seconds(60)};
};

MailState& mailstate();
void reset_mailstate();

// The most recipients one mail goes to.
inline constexpr size_t kMaxRecipients = 100;

// Sends the rows as one mail. `recipients` are addresses separated by ","
// (empty pieces skipped, blanks around each cut; more than kMaxRecipients
// and the mail is not sent, with the failed send's line); `fieldlist` one row of
// column names, or no field list when empty or beginning with a blank; then
// `labels` is one row of labels (label i for field i), else the body
// template. `rows` are the records, `keys` their column names. `mailtype`
// "MAPI" sends through Simple MAPI in the Windows flavour (the profile name is
// `sender`, with `password`); anything else, and every mail of the Linux
// flavour, goes by SMTP to `host` from `sender`. `unused` is ignored.
// -1 when the recipients, the rows or the keys are empty (nothing sent); else
// 0 whatever the delivery answered: a failed delivery prints "smtp mail failed
// to send mail.\n" or "mapi mail failed to send mail.\n" into the page.
// In HTML mail (mailtypeformat) the record values are HTML-escaped in the
// body; the labels, the template and the subject are not.
int pc_mail_records(std::string_view recipients, std::string_view fieldlist, std::string_view labels,
                    std::string_view rows, std::string_view keys, std::string_view subject, int unused,
                    std::string_view mailtype, std::string_view host, std::string_view sender,
                    std::string_view password);

// The text of one row. Without a field list: the row through the template
// (mail2str; empty when that gives none). With one: for each field in order
// whose name and value are not empty, its label (when not empty) on a line,
// a line of "=" as long as the label, then the value and two line ends.
// `html` escapes the values.
std::string get_maildata(std::string_view row, std::string_view keys, std::string_view fieldlist,
                         std::string_view labels, bool html = false);

// Expands a template against one row: "\" writes the next character as it
// is; "{n}" writes a line end; "{name}" the row's value of that column, or
// "*" when the column is missing or its value empty; "{}" nothing; a "{"
// without its "}" takes the rest of the template as the name, writes it and
// ends. Every other character is copied. None when the template, the row or
// the keys are empty. `html` escapes the values taken from the row.
std::optional<std::string> mail2str(std::string_view keys, std::string_view row, std::string_view templ,
                                    bool html = false);

// Sends one mail through Simple MAPI: logs on with the profile and password,
// sends to every recipient (class MAPI_TO, the name set to the address),
// logs off and unloads the library, on every path. 0 sent; 1 failed, after
// "Error %d on login" or "MAPI mail faild error=%d\n" in the page. `host` is
// ignored.
int mailmapi(std::string_view host, std::string_view profile, std::string_view password,
             const std::vector<std::string>& recipients, std::string_view subject, std::string_view body);

}  // namespace kiv

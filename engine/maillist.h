// Rule objects and their evaluation. Administrators describe rules as
// objects of tk_obj: "<kind>_<criteria row>:<n>", whose criteria row (inside
// the NAME) lists field names, whose VALUE holds one row of accepted values
// per field, and whose TITLE lists the recipients. One matcher serves the
// mailing-list ("maillist"), automatic-assignment ("autoassign") and workflow
// ("workflow") rules, switched by the list mode its callers pass; a
// mailing-list rule with a CONTROL names a message object of its own and
// gets a custom-message entry instead of joining the main list.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "toolkit/objects/kivobj.h"

namespace kiv {

// The list modes.
inline constexpr int kMailMode = 0;
inline constexpr int kAssignMode = 1;
inline constexpr int kWorkflowMode = 2;

// The criteria row inside a rule NAME: the text after its first "_" up to
// the first ":" after that, with "^$" added when the text holds none (a name
// the administration made already ends its criteria with "^$"). None when
// the NAME lacks either. Traced.
std::optional<std::string> trigname2rec(std::string_view name);

// The number of criteria fields named by a rule NAME: the columns of the text
// after its first "_" up to the first ":" after that ("^$" added when the
// text has none). 0 when the NAME lacks either.
int getmailtrigcount(std::string_view rule);

// The i-th (from 1) criteria field name of a rule NAME; none past the last.
std::optional<std::string> getmailtrig(std::string_view rule, int i);

// 1 when `value` equals, character for character, one column of the row.
int compareval(std::string_view row, std::string_view value);

// 1 when the first object named `field` exists and its VALUE is non-empty
// and one of the row's values.
int needmail(const objlist& list, std::string_view field, std::string_view row);

// 1 when the first object named `rule` exists and every criterion holds:
// criteria field i (non-empty) against row i of the rule's VALUE (needmail).
int process_mail_object(const objlist& list, std::string_view rule);

// Appends the recipients of a TITLE row to `target`, each followed by
// `mode`'s separator ("," for mail, " " otherwise). In mail mode "USER" stands
// for mailuser, "STAFF" for mailstaff and "STAFF-<column>" for that column of
// the staff row (gmaildata under gmailkeys); each is skipped without an
// address. A recipient already in the list as a whole entry is not added
// again. -1 for an empty row, else 0.
int addtomaillist(std::string& target, std::string_view recipients, int mode);

// One entry of the custom-message table: the recipients of one mailing-list
// rule that names a message object of its own, and that object's name.
struct MailMessageList {
  std::string list;
  std::string message;
};

// The lists of one rule kind: `main` the main recipient list, `bymsg` the
// custom-message table (mail mode only), one entry per matching
// mailing-list rule that names a message object, in list order.
struct MailLists {
  std::string main;
  std::vector<MailMessageList> bymsg;
};

// The lists of the rule kind `kind` (kMailMode, kAssignMode,
// kWorkflowMode). The main list has one trailing separator cut; empty when
// nobody. In mail mode it begins with the submitter (sub_e_mail, unless
// mail_user_per_op is "ON", which makes mailuser that address for rules
// naming USER) and the fixed extra addresses (mailothers); each matching
// rule's recipients follow, in list order, except those of rules with a
// CONTROL, which fill `bymsg` instead.
MailLists getmaillist(const objlist& list, int kind);

}  // namespace kiv

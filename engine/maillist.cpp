// The rule matcher and the recipient lists of the three rule kinds.
#include "engine/maillist.h"

#include "data/mailrecords.h"
#include "toolkit/objects/kivobj.h"
#include "toolkit/base/kivcgitrace.h"
#include "toolkit/text/kivtext.h"
#include "toolkit/text/rowcol.h"

namespace kiv {

namespace {

std::string_view kind_word(int mode) {
  switch (mode) {
    case kAssignMode: return "autoassign";
    case kWorkflowMode: return "workflow";
    default: return "maillist";
  }
}

char separator(int mode) { return mode == kMailMode ? ',' : ' '; }

// Every criterion of the rule object holds on the record.
bool rule_matches(const objlist& list, const kivobj& rule) {
  std::optional<std::string> criteria = trigname2rec(rule.name());
  if (!criteria) return false;
  const int count = getcolcount(*criteria);
  if (count <= 0) return false;
  for (int i = 1; i <= count; ++i) {
    std::string field = getcol_or_empty(*criteria, i);
    if (field.empty()) return false;
    std::string accepted = getrow_or_empty(rule.attr(attr::VALUE), i);
    if (!needmail(list, field, accepted)) return false;
  }
  return true;
}

// True when `entry` is already one whole entry of the list (entries end at
// the separator; blanks around them do not count).
bool listed(std::string_view list, std::string_view entry, char sep) {
  entry = trim_blanks(entry);
  size_t start = 0;
  while (start < list.size()) {
    size_t end = list.find(sep, start);
    if (end == std::string_view::npos) end = list.size();
    if (trim_blanks(list.substr(start, end - start)) == entry) return true;
    start = end + 1;
  }
  return false;
}

void cut_separator(std::string& list) {
  if (!list.empty() && (list.back() == ',' || list.back() == ' ')) list.pop_back();
}

// The address a mail-mode recipient word stands for; empty: none.
std::string mail_recipient(const std::string& word) {
  const MailState& ms = mailstate();
  if (word == "USER") return ms.mailuser;
  if (word == "STAFF") return ms.mailstaff;
  if (!word.starts_with("STAFF-")) return word;
  const std::string column = word.substr(6);
  kivtrace("mail for a field of='%s'", column);
  if (getindex(ms.gmailkeys, column) > 0) kivtrace("mail for a field of='%s' match", column);
  std::string row = getrow_or_empty(ms.gmaildata, 1);
  std::string value = getvaluebykey_or_empty(row, ms.gmailkeys, column);
  if (value.empty()) {
    kivtrace("mail for a field of='%s' no value", column);
    return {};
  }
  kivtrace("mail for a field of='%s' value='%s'", column, value);
  return value;
}

// The start of the main mail list: the submitter (sub_e_mail; with
// mail_user_per_op "ON" it becomes mailuser instead, for the rules naming
// USER) and the fixed extra addresses, each followed by ",".
std::string mail_start(const objlist& list) {
  MailState& ms = mailstate();
  std::string main;
  std::string sub = objtext(list, "sub_e_mail.VALUE");
  if (objtext(list, "mail_user_per_op.VALUE") == "ON") {
    // The submitter is mailed only through rules naming USER.
    if (!sub.empty()) ms.mailuser = sub;
  } else if (!sub.empty()) {
    main += sub;
    main += ',';
  }
  if (!ms.mailothers.empty()) {
    main += ms.mailothers;
    main += ',';
  }
  return main;
}

}  // namespace

std::optional<std::string> trigname2rec(std::string_view name) {
  size_t underscore = name.find('_');
  if (underscore == std::string_view::npos) return std::nullopt;
  size_t colon = name.find(':', underscore + 1);
  if (colon == std::string_view::npos) return std::nullopt;
  std::string row(name.substr(underscore + 1, colon - underscore - 1));
  if (row.find(kRowEnd) == std::string::npos) row += kRowEnd;
  kivtrace("trigname2rec: ret='%s'\n", row);
  return row;
}

int getmailtrigcount(std::string_view rule) {
  std::optional<std::string> criteria = trigname2rec(rule);
  return criteria ? getcolcount(*criteria) : 0;
}

std::optional<std::string> getmailtrig(std::string_view rule, int i) {
  std::optional<std::string> criteria = trigname2rec(rule);
  if (!criteria) return std::nullopt;
  return getcol(*criteria, i);
}

int compareval(std::string_view row, std::string_view value) {
  const int count = getcolcount(row);
  for (int i = 1; i <= count; ++i)
    if (getcol_or_empty(row, i) == value) return 1;
  return 0;
}

int needmail(const objlist& list, std::string_view field, std::string_view row) {
  const kivobj* o = list.find(field);
  if (!o || o->value().empty()) return 0;
  return compareval(row, o->value());
}

int process_mail_object(const objlist& list, std::string_view rule) {
  const kivobj* o = list.find(rule);
  return o && rule_matches(list, *o) ? 1 : 0;
}

int addtomaillist(std::string& target, std::string_view recipients, int mode) {
  const char sep = separator(mode);
  const int count = getcolcount(recipients);
  if (count <= 0) return -1;
  for (int i = 1; i <= count; ++i) {
    std::string word = getcol_or_empty(recipients, i);
    std::string who = mode == kMailMode ? mail_recipient(word) : word;
    if (who.empty() || listed(target, who, sep)) continue;
    target += who;
    target += sep;
  }
  return 0;
}

MailLists getmaillist(const objlist& list, int kind) {
  MailLists lists;
  if (kind == kMailMode) lists.main = mail_start(list);
  const std::string_view word = kind_word(kind);
  for (const kivobj& o : list) {
    if (!o.name().starts_with(word)) continue;
    kivtrace("name='%s' listtype='%s' len=%d\n", o.name(), word, static_cast<int>(word.size()));
    if (!rule_matches(list, o)) continue;
    if (kind == kMailMode && o.has(attr::CONTROL)) {
      MailMessageList entry;
      addtomaillist(entry.list, o.attr(attr::TITLE), kind);
      entry.message = o.attr(attr::CONTROL);
      cut_separator(entry.list);
      lists.bymsg.push_back(std::move(entry));
      continue;
    }
    addtomaillist(lists.main, o.attr(attr::TITLE), kind);
  }
  cut_separator(lists.main);
  return lists;
}

}  // namespace kiv

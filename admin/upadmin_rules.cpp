// The four rule editors (see upadmin_rules.h), one design told once: a kind
// names its object prefix, its form objects and its messages; the mail kind
// adds a message object of its own, the alarm kind a time. The named
// operations of each kind are thin calls into the shared ones.
#include "admin/upadmin_rules.h"

#include <algorithm>
#include <cassert>
#include <string>

#include "admin/upadmin_form.h"
#include "admin/upadmin_state.h"
#include "engine/maillist.h"
#include "engine/upobjdb.h"
#include "toolkit/base/kivcgitrace.h"
#include "toolkit/base/kivfmt.h"
#include "toolkit/text/kivtext.h"
#include "toolkit/text/rowcol.h"

namespace kiv {

namespace {

enum class Kind { mail, autoassign, workflow, alarm };

struct RuleKind {
  Kind kind;
  std::string_view prefix;       // "maillist_": the start of every rule's NAME
  std::string_view format;       // "maillist_%s:%d"
  std::string_view name_form;    // the form object naming a rule
  std::string_view receiver;     // the form object of the recipients
  std::string_view list_form;    // the form object of the list
  std::string_view header;       // the list's header row
  std::string_view unknown;      // modify of an unknown rule
  std::string_view no_receiver;  // recipients missing
  std::string_view get_unknown;  // get of an unknown rule
  std::string_view get_no_title; // get of a rule without recipients
  std::string_view control;      // a setting of the kind the list skips, with its trace
  std::string_view control_trace;
  std::string_view save_trace;   // "save_new_<kind>_trig name=%s\n"
  std::string_view name_trace;   // "<criteria operation> Fields\n"
};

constexpr RuleKind kMail{Kind::mail,
                         "maillist_",
                         "maillist_%s:%d",
                         "admin_mail_name.VALUE",
                         "mailmsg_receiver.VALUE",
                         "mail_rule_list.VALUE",
                         "admin_mail_rule^@admin_mail_name^@admin_mail_address^$",
                         "Mail rule '%s' does not exist\n",
                         "No Notfication address has beeen set\n",
                         "Error: mail object is not found in the system\n",
                         "getmailobject:No Notfication address has beeen set\n",
                         "",
                         "",
                         "save_new_mail_trig name=%s\n",
                         "getmailname Fields\n"};
constexpr RuleKind kAutoassign{Kind::autoassign,
                               "autoassign_",
                               "autoassign_%s:%d",
                               "admin_autoassign_name.VALUE",
                               "autoassign_receiver.VALUE",
                               "autoassign_rule_list.VALUE",
                               "admin_autoassign_rule^@admin_autoassign_name^@admin_autoassign^$",
                               "AutoAssign rule '%s' does not exist\n",
                               "No Autoassign Staff  has beeen set\n",
                               "Error: Autoassign object is not found in the system\n",
                               "getautoassignobject:No Notfication address has beeen set\n",
                               "autoassign_control",
                               "Hit autoassigne_controil\n",
                               "save_new_autoassign_trig name=%s\n",
                               "getautoassignname Fields\n"};
constexpr RuleKind kWorkflow{Kind::workflow,
                             "workflow_",
                             "workflow_%s:%d",
                             "admin_workflow_name.VALUE",
                             "workflow_receiver.VALUE",
                             "workflow_rule_list.VALUE",
                             "admin_workflow_rule^@admin_workflow_name^@admin_workflow^$",
                             "AutoAssign rule '%s' does not exist\n",
                             "No Autoassign Staff  has beeen set\n",
                             "Error: Autoassign object is not found in the system\n",
                             "getworkflowobject:No Notfication address has beeen set\n",
                             "workflow_control",
                             "Hit workflow_controil\n",
                             "save_new_workflow_trig name=%s\n",
                             "getworkflowame Fields\n"};
constexpr RuleKind kAlarm{Kind::alarm,
                          "alarmlist_",
                          "alarmlist_%s:%d",
                          "admin_alarm_name.VALUE",
                          "alarm_receiver.VALUE",
                          "alarm_rule_list.VALUE",
                          "admin_alarm_rule^@admin_alarm_name^@admin_alarm^$",
                          "Alarm rule '%s' does not exist\n",
                          "No email notify Staff  has beeen set\n",
                          "Error: Autoassign object is not found in the system\n",
                          "getalarmobject:No Notfication address has beeen set\n",
                          "",
                          "",
                          "save_new_alarm_trig name=%s\n",
                          "getalarmname Fields\n"};

constexpr std::string_view kMessagePrefix = "message_";

objlist& tk() {
  assert(admin().tk_obj);
  return *admin().tk_obj;
}


// A name of this kind's rules: the prefix, then a criteria row ended by ":".
// Any other name (a setting, a hook, a rule of another kind) is no rule the
// editor may touch.
bool of_kind(const RuleKind& k, std::string_view name) {
  return name.starts_with(k.prefix) && name.find(':', k.prefix.size()) != std::string_view::npos;
}

// The rule the form names (its "|" turned back into "^"), when it is one of
// the kind's rules in tk_obj; none otherwise. `name` gets the name.
kivobj* named_rule(const RuleKind& k, std::string& name) {
  name = formval(k.name_form).text;
  bar2caret(name);
  if (!of_kind(k, name)) return nullptr;
  return tk().find(name);
}

// The message object a mail rule's CONTROL names, when it names one.
bool names_message(std::string_view control) { return control.starts_with(kMessagePrefix); }

// The object of that name in tk_obj, created at its tail when there is none.
// The names are rule and message names, never the head's (which addobj
// refuses).
kivobj& object_named(const std::string& name) {
  if (kivobj* o = tk().find(name)) return *o;
  auto node = getnewobj();
  modattrib(*node, attr::NAME, name);
  kivobj* added = addobj(tk(), std::move(node));
  assert(added);
  return *added;
}

// A menu field as the rule forms offer it.
bool menu_field(const kivobj& o) {
  return o.name() != "id_num" && o.has(attr::DBKEY) && o.attr(attr::TYPE) == "MENU";
}

std::string criteria_of(const RuleKind& k) {
  kivtrace(k.name_trace);
  std::string row;
  for (const kivobj& o : tk()) {
    if (!menu_field(o) || formval(o.name() + ".VALUE").empty()) continue;
    row += o.name();
    row += kColSep;
  }
  if (!formval("assigned_to.VALUE").empty()) {
    row += "assigned_to";
    row += kColSep;
  }
  if (row.ends_with(kColSep)) row.replace(row.size() - kColSep.size(), kColSep.size(), kRowEnd);
  return row;
}

std::string values_of(const RuleKind&) {
  std::string rows;
  for (const kivobj& o : tk()) {
    if (!menu_field(o)) continue;
    formtext picks = formval(o.name() + ".VALUE");
    if (!picks.empty()) rows += commalist2row(picks.text);
  }
  formtext assigned = formval("assigned_to.VALUE");
  if (!assigned.empty()) {
    rows += packetvalue(assigned.text);
    rows += kRowEnd;
  }
  return rows;
}

int max_of(const RuleKind& k) {
  int highest = 0;
  for (const kivobj& o : tk())
    if (o.name().starts_with(k.prefix)) highest = std::max(highest, getrulenumber(o.name()));
  return highest + 1;
}

// The general message of the mail rules, as plain text ("" when none).
std::string general_body() {
  const std::string stored = objtext(tk(), "mailmsg_body.TITLE");
  return stored.empty() ? std::string() : msgbody2text(stored).value_or(std::string());
}

// The text a browser sends (CR LF line ends) as the general body reads
// back (LF).
std::string lf_text(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      out += '\n';
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
      continue;
    }
    out += text[i];
  }
  return out;
}

// The mail rule's own message: its subject (kept on one line) and its body
// (stored form), unless the body is the general one.
void save_message(kivobj& rule, const std::string& criteria, int n) {
  const std::string general = general_body();
  formtext body = formval("mailmsg_body.VALUE");
  if (!general.empty() && !body.empty() && lf_text(body.text) == general) {
    kivtrace("The global message is the same messages like this tirgger\n");
    return;
  }
  const std::string message = sformat("message_%s:%d", criteria, n);
  modattrib(rule, attr::CONTROL, message);
  kivobj& m = object_named(message);
  formtext subject = required("mailmsg_subject.VALUE", "No mail subject line \n");
  modattrib(m, attr::CONTROL, header_text(subject.text), subject.origin);
  body = required("mailmsg_body.VALUE", "No mail body line \n");
  modattrib(m, attr::TITLE, text2msgbody_or_empty(body.text), body.origin);
}

void save_trig(const RuleKind& k, int flag) {
  if (flag) {
    std::string name;
    const kivobj* old = named_rule(k, name);
    if (!old) refuse(k.unknown, name);
    // A modified rule leaves nothing behind: its message object goes too.
    const std::string control = old->attr(attr::CONTROL);
    unlinkobject(name);
    if (k.kind == Kind::mail && names_message(control)) unlinkobject(control);
  }
  std::string hour, minute, range;
  if (k.kind == Kind::alarm) {
    hour = required("alarm_hour.VALUE", "No hour has beeen set\n").text;
    minute = formval("alarm_min.VALUE").text;
    if (minute.empty()) minute = "00";
    // The day limit: the hour's leading digits in days, rounded down, plus 1.
    int hours = 0;
    for (size_t i = 0; i < hour.size() && hour[i] >= '0' && hour[i] <= '9' && hours < 100000000; ++i)
      hours = hours * 10 + (hour[i] - '0');
    range = sformat("0--%d", hours / 24 + 1);
  }
  const int n = max_of(k);
  std::string criteria = criteria_of(k);
  if (criteria.empty()) refuse("No criteria has been selected. please Try again.\n");
  kivtrace(k.save_trace, criteria);
  if (k.kind == Kind::alarm) criteria = sformat("date_open%s%s", kColSep, criteria);
  kivobj& rule = object_named(sformat(k.format, criteria, n));
  std::string values = values_of(k);
  if (values.empty()) refuse("No criteria Value has been selected. please Try again.\n");
  if (k.kind == Kind::alarm) values = sformat("%s%s%s", range, kRowEnd, values);
  modattrib(rule, attr::VALUE, values, Origin::request);
  formtext receivers = required(k.receiver, k.no_receiver);
  modattrib(rule, attr::TITLE, commalist2row(receivers.text), receivers.origin);
  if (k.kind == Kind::mail) save_message(rule, criteria, n);
  if (k.kind == Kind::alarm) modattrib(rule, attr::CONTROL, sformat("G%s:%s", hour, minute), Origin::request);
}

void new_rule(const RuleKind& k) {
  if (k.kind == Kind::mail) {
    const std::string body = general_body();
    if (!body.empty()) setform("mailmsg_body.VALUE", body);
    const std::string subject = objtext(tk(), "mailmsg_subject.TITLE");
    if (!subject.empty()) setform("mailmsg_subject.VALUE", subject);
  }
  const std::string menus = makemenus();
  if (!menus.empty()) setform("all_menus.VALUE", menus);
}

void list_rules(const RuleKind& k) {
  std::string text(k.header);
  for (const kivobj& o : tk()) {
    if (o.name() == kHeadName || !o.name().starts_with(k.prefix)) continue;
    if (!k.control.empty() && o.name() == k.control) {
      kivtrace(k.control_trace);
      continue;
    }
    std::string words = k.kind == Kind::alarm ? alarmruletext(o.name(), o.value(), o.attr(attr::CONTROL))
                                              : ruletext(o.name(), o.value());
    text += words.empty() ? std::string(kEmptyCol) : packetvalue(words);
    text += kColSep;
    std::string name = o.name();
    caret2bar(name);
    text += packetvalue(name);
    text += kColSep;
    if (o.has(attr::TITLE)) text += packetvalue(row2commalist_or_empty(o.attr(attr::TITLE)));
    text += kRowEnd;
  }
  setform(k.list_form, text);
}

// The message of a mail rule into the form: its own, else the general one.
void message_into_form(const kivobj& rule) {
  std::string body, subject;
  const std::string& control = rule.attr(attr::CONTROL);
  if (!control.empty()) {
    kivtrace("getmailobject control found\n");
    if (const kivobj* m = names_message(control) ? tk().find(control) : nullptr) {
      body = m->attr(attr::TITLE);
      subject = m->attr(attr::CONTROL);
    }
  } else {
    kivtrace("getmailobject default body and subject found\n");
    body = objtext(tk(), "mailmsg_body.TITLE");
    subject = objtext(tk(), "mailmsg_subject.TITLE");
  }
  if (!body.empty())
    if (std::optional<std::string> text = msgbody2text(body); text && !text->empty())
      setform("mailmsg_body.VALUE", *text);
  if (!subject.empty()) setform("mailmsg_subject.VALUE", subject);
}

void get_rule(const RuleKind& k) {
  if (formval(k.name_form).empty()) refuse("Error: Mail object name can't be blank\n");
  std::string name;
  const kivobj* rule = named_rule(k, name);
  kivtrace("NAME='%s'\n", name);
  if (!rule) refuse(k.get_unknown);
  if (!rule->has(attr::TITLE)) refuse(k.get_no_title);
  setform(k.receiver, row2commalist_or_empty(rule->attr(attr::TITLE)));
  const std::string value = rule->value();
  if (k.kind == Kind::mail) message_into_form(*rule);
  const std::string menus = makerulemenus(name, value);
  if (!menus.empty()) setform("all_menus.VALUE", menus);
  if (std::optional<std::string> criteria = trigname2rec(name); criteria && !criteria->empty()) {
    const int at = getindex(*criteria, "assigned_to");
    setform("assigned_to.VALUE", at ? getcol_or_empty(getrow_or_empty(value, at), 1) : std::string());
  }
  if (k.kind == Kind::alarm) {
    const std::string& control = rule->attr(attr::CONTROL);
    if (!control.empty() && control.find(':') != std::string::npos && control.find('G') != std::string::npos) {
      std::string hour = "4", minute = "0";
      splitalarmtime(control, hour, minute);
      setform("alarm_hour.VALUE", hour);
      setform("alarm_min.VALUE", minute);
    }
  }
}

void delete_rule(const RuleKind& k) {
  if (formval(k.name_form).empty()) refuse("Error: object name can't be blank\n");
  std::string name;
  const kivobj* rule = named_rule(k, name);
  if (!rule || rule->value().empty()) refuse("Error: object '%s' does not exists\n", name);
  std::string message;
  if (k.kind == Kind::mail && names_message(rule->attr(attr::CONTROL))) message = rule->attr(attr::CONTROL);
  // tk_obj is written without the rule (and its message); the lists of this
  // request stay as they were loaded.
  objlist kept;
  kept.reserve(tk().size());
  for (const kivobj& o : tk())
    if (o.name() != kHeadName) addobj(kept, std::make_unique<kivobj>(o));
  while (const kivobj* o = kept.find(name)) removeobj(kept, *o);
  if (!message.empty())
    while (const kivobj* o = kept.find(message)) removeobj(kept, *o);
  saveobjfile(&kept, "tk_obj");
}

}  // namespace

void getnewmailrule() { new_rule(kMail); }
void getnewautoassignrule() { new_rule(kAutoassign); }
void getnewworkflowrule() { new_rule(kWorkflow); }
void getnewalarmrule() { new_rule(kAlarm); }

void save_new_mail_trig(int flag) { save_trig(kMail, flag); }
void save_new_autoassign_trig(int flag) { save_trig(kAutoassign, flag); }
void save_new_workflow_trig(int flag) { save_trig(kWorkflow, flag); }
void save_new_alarm_trig(int flag) { save_trig(kAlarm, flag); }

void listmailrules() { list_rules(kMail); }
void listautoassignrules() { list_rules(kAutoassign); }
void listworkflowrules() { list_rules(kWorkflow); }
void listalarmrules() { list_rules(kAlarm); }

void getmailobject() { get_rule(kMail); }
void getautoassignobject() { get_rule(kAutoassign); }
void getworkflowobject() { get_rule(kWorkflow); }
void getalarmobject() { get_rule(kAlarm); }

void deletemailrule() { delete_rule(kMail); }
void deleteautoassignrule() { delete_rule(kAutoassign); }
void deleteworkflowrule() { delete_rule(kWorkflow); }
void deletealarmrule() { delete_rule(kAlarm); }

std::string getmailname() { return criteria_of(kMail); }
std::string getautoassignname() { return criteria_of(kAutoassign); }
std::string getworkflowame() { return criteria_of(kWorkflow); }
std::string getalarmname() { return criteria_of(kAlarm); }

std::string getmailvalues() { return values_of(kMail); }
std::string getautoassignvalues() { return values_of(kAutoassign); }
std::string getworkflowvalues() { return values_of(kWorkflow); }
std::string getalarmvalues() { return values_of(kAlarm); }

int getmaxmaillist() { return max_of(kMail); }
int getmaxautoassignlist() { return max_of(kAutoassign); }
int getmaxworkflowlist() { return max_of(kWorkflow); }
int getmaxalarmlist() { return max_of(kAlarm); }

}  // namespace kiv

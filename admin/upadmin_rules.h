// The rule editors of the administration and the text conversions they share
// with the field and settings pages. Mail notification, automatic assignment,
// workflow and alarm rules are objects of tk_obj named
// "<kind>_<criteria row>:<n>": VALUE one row of accepted values per
// criterion, TITLE the recipients as one row, CONTROL a mail rule's message
// object ("message_<criteria row>:<n>") or an alarm rule's time ("G<h>:<m>").
// Every editor has a new-rule form, create and modify (flag 0 and 1), a
// list, a get that loads one rule into the form, and a delete; forms and
// lists carry rule names with each "^" written as "|".
//
// Every text put into row/column text goes through packetvalue, so that a
// pick, a choice, a recipient or a title cannot shift the rows; every text of
// the HTML the editors build is escaped.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "toolkit/objects/kivobj.h"

namespace kiv {

// ---- the four editors ----
//
// The operations of the action table. Each works on the lists of admin();
// a required form value that is missing prints its message through errmsg
// and ends the process with status 0 before anything is saved. A rule name
// taken from the form counts only when it names a rule of the editor's own
// kind ("<kind>_" and a ":"); any other name is an unknown rule.

// New-rule forms: the table of choices into all_menus; the mail form also
// gets the general subject and body.
void getnewmailrule();
void getnewautoassignrule();
void getnewworkflowrule();
void getnewalarmrule();

// Create (0) or modify (1) a rule from the form. A modify removes the old
// rule object and, for a mail rule, its message object; the new rule takes
// the next free number. The frame saves tk_obj.
void save_new_mail_trig(int flag);
void save_new_autoassign_trig(int flag);
void save_new_workflow_trig(int flag);
void save_new_alarm_trig(int flag);

// The lists of rules (mail_rule_list, autoassign_rule_list,
// workflow_rule_list, alarm_rule_list): a header row, then per rule its
// criteria in words, its name (with "|") and its recipients.
void listmailrules();
void listautoassignrules();
void listworkflowrules();
void listalarmrules();

// One rule (admin_<kind>_name) into the form: recipients, the table of
// choices with the rule's picks, assigned_to, and the message or the time.
void getmailobject();
void getautoassignobject();
void getworkflowobject();
void getalarmobject();

// Deletes a rule (and a mail rule's message object): tk_obj is saved as a
// copy without them through saveobjfile; the list in memory stays.
void deletemailrule();
void deleteautoassignrule();
void deleteworkflowrule();
void deletealarmrule();

// The criteria row of the form's picks: the NAME of every menu field of
// tk_obj with a pick, then "assigned_to" when the form names one; "" when
// nothing was picked.
std::string getmailname();
std::string getautoassignname();
std::string getworkflowame();
std::string getalarmname();

// The accepted values of the form's picks: one row per criterion of the
// criteria row, in its order.
std::string getmailvalues();
std::string getautoassignvalues();
std::string getworkflowvalues();
std::string getalarmvalues();

// The next rule number of a kind: one more than the highest among tk_obj's
// objects of that kind, 1 when there is none.
int getmaxmaillist();
int getmaxautoassignlist();
int getmaxworkflowlist();
int getmaxalarmlist();

// ---- shared by the editors ----

// The number after the last ":" of a rule name (its leading digits), 0
// without a ":".
int getrulenumber(std::string_view name);

// An HTML multiple choice "mm_<name>" of the menu's items (each non-empty
// column of `choices` once, escaped: the selected item of the first column
// is not offered twice); none for empty choices.
std::optional<std::string> makemultinode(std::string_view name, std::string_view choices);

// The same with the rule's accepted values of the field picked first, in the
// rule's order, then the other items; none for empty choices.
std::optional<std::string> makemultimailnode(std::string_view name, std::string_view choices,
                                             std::string_view rule, std::string_view rulevalue);

// 1 when a non-empty column of the row equals the value, else 0.
int rowhasvalue(std::string_view row, std::string_view value);

// The HTML table of choices of every menu field of tk_obj (a field without a
// title is given the title "*" in memory, for the page); makerulemenus shows
// one rule's picks in it.
std::string makemenus();
std::string makerulemenus(std::string_view rule, std::string_view rulevalue);

// A rule's criteria in words, one line each ("<title>:<values>\n"), for the
// lists; alarmruletext begins with the time ("Time >:<h>:<m>\n") and names
// the criteria as the rule does.
std::string ruletext(std::string_view rule, std::string_view rulevalue);
std::string alarmruletext(std::string_view rule, std::string_view rulevalue, std::string_view control);

// The hour and the minute of an alarm rule's CONTROL "G<h>:<m>"; a CONTROL
// of another form leaves both as they are.
void splitalarmtime(std::string_view control, std::string& hour, std::string& minute);

// Removes the first object of tk_obj with that NAME; 0, or -1 when there is
// none (nothing changed).
int unlinkobject(std::string_view name);

// Every "^" turned into "|", or every "|" into "^", in place.
void caret2bar(std::string& text);
void bar2caret(std::string& text);

// ---- text conversions ----

// A comma list as one row: the non-empty pieces, each made safe, joined by
// "^@" and ended by "^$"; a piece that is exactly "$" ends the list. A text
// without any piece gives the text (made safe) and "^$".
std::string commalist2row(std::string_view text);

// The non-empty columns of a row joined by ","; none for a text that is not
// a row (no "^$" at its end).
std::optional<std::string> row2commalist(std::string_view row);
// row2commalist, "" for a text that is not a row.
std::string row2commalist_or_empty(std::string_view row);

// Lines as menu items: the text trimmed (trimspace), split into lines (a CR
// LF, a CR and a LF each end one; blanks and tabs at a line's ends cut;
// empty lines skipped; a line "$" ends the text), each made safe, behind an
// empty first column: "^^^@a^@b^$". A line
// beginning with "***" opens a new row (a dynamic menu's rows); a text that
// begins with one has no empty first row. A text of one line gives
// "^^^@<line>^$". None for an empty text.
std::optional<std::string> lines2kivrec(std::string_view text);

// The rows of a row/column text as lines, each row's first column (when
// non-empty) preceded by "***", the last line end left out; the inverse of
// lines2kivrec. A text without "^$" as it is; none for an empty text.
std::optional<std::string> rows2lines(std::string_view text);

// The non-empty columns of a row, each followed by a line end; a text that
// is not a row as it is.
std::string row2lines(std::string_view text);

// The TITLE of every object of the list with a DBKEY and a TITLE, made safe,
// as one row; "" when there is none.
std::string fieldtitlesrow(const objlist& objs);

// A mail text as an object file keeps it (every line end "{n}") back to
// plain text; none for an empty text.
std::optional<std::string> msgbody2text(std::string_view stored);

// A plain mail text in the stored form: each line end (CR LF, CR or LF)
// becomes "{n}", a backslash and a line feed, so that the object file holds
// it across lines and its reader joins them; a text that ends with a line end
// ends with its "{n}". It reads back through the object file reader and
// msgbody2text with every line (runs of blanks folded into one, as the reader
// folds them). None for an empty text.
std::optional<std::string> text2msgbody(std::string_view text);
// text2msgbody, "" for an empty text.
std::string text2msgbody_or_empty(std::string_view text);

}  // namespace kiv

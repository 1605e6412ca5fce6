// The general settings pages (see upadmin_settings.h): each show operation
// fills the form from tk_obj, each mod operation copies the form into
// tk_obj (and ce_obj) for the frame's save.
#include "admin/upadmin_settings.h"

#include <array>
#include <cassert>
#include <optional>
#include <string>

#include "admin/upadmin_fields.h"
#include "admin/upadmin_form.h"
#include "admin/upadmin_rules.h"
#include "admin/upadmin_state.h"
#include "toolkit/base/kivcgitrace.h"
#include "toolkit/text/kivtext.h"
#include "toolkit/text/rowcol.h"
#include "toolkit/security/security.h"

namespace kiv {

namespace {

objlist& tk() {
  assert(admin().tk_obj);
  return *admin().tk_obj;
}


void store(std::string_view key, const formtext& v) { adduniqobj(tk(), key, v.text, v.origin); }

// ---- the multiple choice of fields (sort and chart menus) ----

struct FieldMenu {
  std::string_view stored;   // the row of chosen titles on tk_obj
  std::string_view form;     // the multiple choice of the form
  std::string_view missing;  // its message when nothing is chosen
  std::string_view trace;    // the trace of the choice
  std::string_view shown;    // the trace of the current choice
};
constexpr FieldMenu kSortMenu{"sort_menu.VALUE", "mm_admin_sort_menu.VALUE",
                              "Missing mm_admin_sort_menu name object\n", "SORTKEY=%s", "sort=%s"};
constexpr FieldMenu kChartMenu{"chart_menu.VALUE", "mm_admin_chart_menu.VALUE",
                               "Missing mm_admin_chart_menu name object\n", "Chart=%s", "sort=%s"};

void get_field_menu(const FieldMenu& m) {
  std::string current = objtext(tk(), m.stored);
  std::optional<std::string> choice;
  if (!current.empty()) choice = row2commalist(current);
  const std::string titles = fieldtitlesrow(tk());
  if (choice && !choice->empty()) {
    kivtrace(m.shown, *choice);
    setform(m.form, *choice + std::string(kColSep) + titles);
  } else {
    setform(m.form, titles);
  }
}

void mod_field_menu(const FieldMenu& m) {
  formtext chosen = required(m.form, m.missing);
  kivtrace(m.trace, chosen.text);
  const std::string row = commalist2row(chosen.text);
  adduniqobj(tk(), m.stored, row, chosen.origin);
  kivtrace(m.trace, row);
}

// ---- date format and status names ----

struct NamedSetting {
  std::string_view key;
  std::string_view fallback;
};
constexpr NamedSetting kDateFormat{"dateformat.VALUE", "mdy"};
constexpr NamedSetting kOpenState{"open_state.VALUE", "Open"};
constexpr NamedSetting kAssignedState{"assigned_state.VALUE", "Assigned"};
constexpr NamedSetting kClosedState{"closed_state.VALUE", "Closed"};
constexpr NamedSetting kNonClosedStates{"nonclosed_states.VALUE", "Assigned,Open,Pending"};

void show_setting(const NamedSetting& s) {
  if (objtext(tk(), s.key).empty()) adduniqobj(tk(), s.key, s.fallback);
}

void mod_setting(const NamedSetting& s) {
  formtext v = formval(s.key);
  if (v.empty()) v = {std::string(s.fallback), Origin::config};
  store(s.key, v);
}

// ---- colours ----

bool hex6(std::string_view s) {
  if (s.size() != 6) return false;
  for (char c : s)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) return false;
  return true;
}

bool scheme_key(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_')) return false;
  return true;
}

// A typed colour table: one row of "<key>-<six digits>" columns. Every page
// prints these colours into its markup, so nothing else may pass.
bool colour_table(std::string_view s) {
  if (getrowcount(s) != 1 || !s.ends_with(kRowEnd)) return false;
  for (std::string_view col : columns_of(s)) {
    size_t dash = col.find('-');
    if (dash == std::string::npos || !scheme_key(col.substr(0, dash)) || !hex6(col.substr(dash + 1))) return false;
  }
  return true;
}

// The first column of the stored scheme, cut at its first "-": the scheme
// name and its colour. Refuses a scheme without one.
std::pair<std::string, std::string> stored_scheme_colour(const std::string& scheme) {
  std::string first = getcol(scheme, 1).value_or(scheme);
  size_t dash = first.find('-');
  if (dash == std::string::npos) refuse("Bad color scheme '%s'\n", scheme);
  return {first.substr(0, dash), first.substr(dash + 1)};
}

void store_scheme(const std::string& scheme, Origin origin) {
  AdminState& s = admin();
  if (!s.ce_obj) s.ce_obj = std::make_unique<objlist>();
  adduniqobj(*s.tk_obj, "color_scheme.VALUE", scheme, origin);
  adduniqobj(*s.ce_obj, "color_scheme.VALUE", scheme, origin);
}

// ---- paths ----

constexpr std::array<std::string_view, 13> kPaths = {
    "company_name_macro.VALUE", "startup_logo.VALUE", "company_font_color.VALUE", "helpemail.VALUE",
    "faqdir.VALUE",             "picsdir.VALUE",      "helpdir.VALUE",            "startpage.VALUE",
    "resources.VALUE",          "javaclasses.VALUE",  "link_program.VALUE",       "s_link_program.VALUE",
    "s_chart_program.VALUE"};

// A required value of the form; "Missing %s name object\n" names it.
formtext required_named(std::string_view name) {
  formtext v = formval(std::string(name) + ".VALUE");
  if (v.empty()) refuse("Missing %s name object\n", name);
  return v;
}

}  // namespace

void moddatabasesettings() {
  constexpr std::array<std::string_view, 4> kConnection = {"dbserver_hostname", "network_timeout", "db_name",
                                                           "db_table_name"};
  std::array<formtext, 4> values;
  for (size_t i = 0; i < kConnection.size(); ++i) values[i] = required_named(kConnection[i]);
  for (size_t i = 0; i < kConnection.size(); ++i) store(std::string(kConnection[i]) + ".VALUE", values[i]);
  formtext type = formval("admin_odbc_dbtype.VALUE");
  if (!type.empty()) store("odbc_dbtype.VALUE", type);
  store("odbc_user.VALUE", formval("odbc_user.VALUE"));
  // The password is never shown, so an empty box means "unchanged".
  formtext pass = formval("odbc_pass.VALUE");
  if (!pass.empty()) store("odbc_pass.VALUE", pass);
  else if (!formval("odbc_pass_none.VALUE").empty()) adduniqobj(tk(), "odbc_pass.VALUE", "");
}

void getsortmenu() { get_field_menu(kSortMenu); }
void getchartmenu() { get_field_menu(kChartMenu); }
void modsortmenu() { mod_field_menu(kSortMenu); }
void modchartmenu() { mod_field_menu(kChartMenu); }

void getdateformat() { show_setting(kDateFormat); }
void moddateformat() { mod_setting(kDateFormat); }
void getopenstatus() { show_setting(kOpenState); }
void modopenstatus() { mod_setting(kOpenState); }
void getassignedstatus() { show_setting(kAssignedState); }
void modassignedstatus() { mod_setting(kAssignedState); }
void modclosedstatus() { mod_setting(kClosedState); }
void getnonclosedstatus() { show_setting(kNonClosedStates); }
void modnonclosedstatus() { mod_setting(kNonClosedStates); }

void getcolor() {
  const std::string scheme = objtext(tk(), "color_scheme.VALUE");
  if (scheme.empty()) return;
  adduniqobj(tk(), "admin_color.VALUE", "#" + stored_scheme_colour(scheme).second);
}

void adminchangecolor() {
  formtext colour = formval("admin_color.VALUE");
  kivtrace("adminchangecolor=%s", colour.text);
  if (colour.empty()) refuse("Color values is blank\n");
  if (colour.text.find('$') != std::string::npos) {
    kivtrace("User enter color scheme\n");
    if (!colour_table(colour.text)) refuse("Bad color value '%s'\n", colour.text);
    store_scheme(colour.text, colour.origin);
    return;
  }
  std::string_view digits = colour.text;
  if (digits.starts_with('#')) digits.remove_prefix(1);
  if (!hex6(digits)) refuse("Bad color value '%s'\n", colour.text);
  const std::string scheme = objtext(tk(), "color_scheme.VALUE");
  kivtrace("color_scheme=%s", scheme);
  if (scheme.empty()) return;
  const std::string name = stored_scheme_colour(scheme).first;
  store_scheme(sformat("%s-%s%s", name, digits, kRowEnd), colour.origin);
}

void listsecurityfields() {
  kivtrace("List Fields\n");
  FilePtr config = openlogin_conigfile();
  std::string text = "securityscript_name^@securityscript_auth^@security_script_reg^@security_script_filename^$";
  for (kivobj& o : tk())
    if (o.name() != "id_num" && o.has(attr::DBKEY))
      append_field_row(text, o, o.attr(attr::TYPE) == "MENU" ? "MENU" : "TEXT");
  adduniqobj(tk(), "admin_alldbfields.VALUE", text);
}

void modpaths() {
  for (std::string_view key : kPaths) {
    formtext v = formval(key);
    if (!v.empty()) store(key, v);
  }
}

void getmailgeneral() {
  const std::string body = objtext(tk(), "mailmsg_body.TITLE");
  if (!body.empty())
    if (std::optional<std::string> text = msgbody2text(body); text && !text->empty())
      setform("mailmsg_body.VALUE", *text);
  const std::string subject = objtext(tk(), "mailmsg_subject.TITLE");
  if (!subject.empty()) setform("mailmsg_subject.VALUE", subject);
  if (objtext(tk(), "smtp_option.VALUE").empty()) setform("smtp_option.VALUE", "OFF");
}

void modmailgeneral() {
  formtext notification = required("mail_notification.VALUE", "Missing mail_notification name object\n");
  store("mail_notification.VALUE", notification);
  formtext option = required_named("smtp_option");
  if (option.text == "rfc821") store("smtp_option.VALUE", option);
  else adduniqobj(tk(), "smtp_option.VALUE", "");
  store("mail_smtp_host.VALUE", required("mail_smtp_host.VALUE", "Missing mail_smtp_host name object\n"));
  store("mail_sender_login.VALUE", required_named("mail_sender_login"));
  // The subject stays on one line (an object file value ends at a line end).
  formtext subject = required("mailmsg_subject.VALUE", "Missing mailmsg_subject name object\n");
  adduniqobj(tk(), "mailmsg_subject.TITLE", header_text(subject.text), subject.origin);
  formtext body = required("mailmsg_body.VALUE", "Missing mailmsg_body name object\n");
  adduniqobj(tk(), "mailmsg_body.TITLE", text2msgbody_or_empty(body.text), body.origin);
}

}  // namespace kiv

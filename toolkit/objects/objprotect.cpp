// The protected configuration: the objects that steer what a command runs,
// which SQL it builds, which files it touches and where its mail goes, named
// once here by their names and by the name patterns of their kinds.
#include "toolkit/objects/objprotect.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <span>
#include <string>

#include "toolkit/text/exlist.h"
#include "toolkit/objects/kivobj.h"

namespace kiv {

namespace {

// Objects by name, sorted (checked at compile time) for a binary search.
constexpr std::string_view kNames[] = {
    "XXXheadlistXXXX",            // the head object of every list
    "_cal_color_code",            // calendar colours and fixed search values
    "_cal_static_filter",
    "allow_modify",               // switches
    "assigned_state",             // status names and the date format
    "attachdir",                  // paths, links and templates
    "attachhead",                 // texts written into typed-in attachments
    "attachment_max_per_request", // the most attachments of one request
    "attachtail",
    "auto_match",                 // rules that copy and stamp fields
    "bc_label_format",            // bar-code tool settings
    "bc_printer_port",
    "bc_reader_port",
    "bc_save_file",
    "bc_scheme",
    "bc_submit_default_keys",     // the defaults of every row of a batch add
    "bc_timeout",
    "case_num-map",               // case-number pictures
    "case_num-picture",
    "chart_sort_by_value",
    "chartfile",
    "closed_state",
    "color_scheme",
    "company_font_color",
    "company_name_macro",
    "date_closed_flag",           // keeps the closing date from being set
    "dateformat",
    "db_name",                    // connection and table objects
    "db_staff_table_name",
    "db_table_name",
    "db_users_table_name",
    "dbserver_hostname",
    "distinct_condition",         // SQL fragments
    "enforce_fields",             // the required-field checks
    "enforce_on_profile",
    "error_template",
    "faqdir",
    "field_log",
    "field_stamp",
    "helpdir",
    "helpemail",
    "javaclasses",
    "join_condition",
    "libdir",
    "link_program",
    "mail_notification",
    "mail_sender_login",          // mail transport
    "mail_sender_password",
    "mail_smtp_host",
    "mail_system_type",
    "mail_user_per_op",
    "mailmsg_body",               // mail texts of the notification
    "mailmsg_receiver",
    "mailmsg_subject",
    "mailtypeformat",
    "mod_status_by_user",
    "network_timeout",
    "nonclosed_states",
    "odbc_dbtype",
    "odbc_pass",
    "odbc_user",
    "open_state",
    "others_e_mail",
    "percent_report_fields",      // the fields the reports count
    "picsdir",
    "pictmpdir",
    "pref_pictmpdir",
    "problem_log",
    "problem_timestamp",
    "reports",                    // report titles and their templates
    "resolution_log",
    "resolution_timestamp",
    "resources",
    "row_number",
    "s_chart_program",
    "s_link_program",
    "signature_control_problem",  // signature files
    "slackvar",
    "smscontrol",                 // names the inventory's connection object
    "smtp_option",
    "startpage",
    "startup_logo",
    "tk_post_add",                // hook objects: their TITLE is a command
    "tk_post_modify",
    "tk_pre_add",
    "tk_pre_modify",
    "trend_report_fields",
    "user_fields",                // the fields of a user profile
};
static_assert(std::is_sorted(std::begin(kNames), std::end(kNames)));

// Kinds of objects by the beginning of their names: rule objects and their
// messages, stored queries and query macros, the mail service's settings.
constexpr std::array<std::string_view, 8> kPrefixes = {
    "alarmlist_", "autoassign_", "maillist_", "message_",
    "query_",     "sqlquery",    "tkemaild_", "workflow_",
};

// Kinds by the end of their names: switches (attach_control, sql_control,
// workflow_control, ...) and the prefix maps of case-number pictures.
constexpr std::array<std::string_view, 2> kSuffixes = {"_control", "-prefix"};

// An empty entry (a table sized past its texts) would match every name and
// protect the whole configuration, fields included.
constexpr bool no_empty_entry(std::span<const std::string_view> table) {
  return std::none_of(table.begin(), table.end(), [](std::string_view t) { return t.empty(); });
}
static_assert(no_empty_entry(kPrefixes) && no_empty_entry(kSuffixes));

// Objects whose VALUE names another object of the configuration, which is
// then configuration too: a stored query (a join condition, tables and an
// order list), a connection object (data source and login), a match object.
constexpr std::string_view kPointers[] = {"sql_control.VALUE", "smscontrol.VALUE", "auto_match.VALUE"};

bool listed(std::string_view name) {
  return std::binary_search(std::begin(kNames), std::end(kNames), name);
}

bool named_by_configuration(std::string_view name, const objlist* config) {
  if (!config || name.empty()) return false;
  for (std::string_view p : kPointers)
    if (getvalfromlist(*config, p) == name) return true;
  return false;
}

}  // namespace

bool protected_object(std::string_view name, const objlist* config) {
  if (listed(name) || named_by_configuration(name, config)) return true;
  for (std::string_view p : kPrefixes)
    if (name.starts_with(p)) return true;
  for (std::string_view s : kSuffixes)
    if (name.ends_with(s)) return true;
  return false;
}

std::string group_object(const exlist* request) { return getstateval(request, "GROUP").value_or(std::string()); }

bool request_may_set(std::string_view key, std::string_view value, const objlist* config,
                     std::string_view group) {
  size_t dot = key.find('.');
  std::string_view name = key.substr(0, dot);
  if (dot != std::string_view::npos && key.substr(dot + 1) != "VALUE") return false;
  if (!group.empty() && name == group) return false;
  if (!protected_object(name, config)) return true;
  // A page may choose which configured query macro a slot runs; the macro's
  // SQL stays the configuration's, since query_ objects are protected.
  return name.starts_with("sqlquery") && value.starts_with("query_");
}

}  // namespace kiv

// The inventory command: what a systems-management inventory database knows
// about one computer, shown on a help-desk page: its hardware (a property
// table and a short summary per hardware class) or its installed software.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "toolkit/request/kivexfile.h"

namespace kiv {

// The summary columns of one hardware class, in the order the summary shows
// them (the inventory's own column names, lower case as the driver gives
// them).
struct sms_summary_class {
  std::string_view name;
  std::span<const std::string_view> columns;
};

// The classes that have a summary, sorted by name; a class outside it gets
// its property table only.
std::span<const sms_summary_class> sms_summary_classes();

// The summary columns of a class (compared with case), or none.
std::optional<std::span<const std::string_view>> sms_summary_columns(std::string_view cls);

// up_sms <template>: fewer than 2 words, "Wrong usage: upsms templatefile\n"
// and status 2. The request is copied onto the objects (ex2obj). Each of
// these missing or empty ends the request with its message and status 0,
// without the template, in this order: smshost.VALUE ("smshost is not
// supplied. Exiting..."), smstype.VALUE, smscontrol.VALUE (the connection
// object C), C.VALUE ("smscontrol.VALUE is not supplied. Exiting..."), its
// data source before the first ":" ("datasource is not supplied.
// Exiting..."), the login up to a second ":" ("database login is not
// supplied. Exiting..."), C.TITLE ("smscontrol.TITLE is not supplied.
// Exiting..."). The database type becomes MSSQL, db_name.VALUE the data
// source, the ODBC user and password the login and the rest after the second
// ":" (it may be empty); traces "SMS: Datasource='%s'", "SMS: login='%s'".
//
// The host, written as quoted text, must be a computer of the inventory
// (dataset "check_sms_host", trace "SMS: checksms query=%s"), else "SMS:The
// SMS database did not return any information on host '%s'" and status 0; a
// statement the database refuses ends with status 1 after its message.
// smstype "hardware" (exactly) shows every class of C.TITLE's row that is one
// plain table name ("Bad table name '%s'\n" passes one over): its property
// table into sms_<class>.VALUE and, for a class with summary columns, its
// summary into sms_summary_<class>.VALUE (dataset <class>, trace "SMS: dosms
// query=%s"). Any other type shows the software table in
// sms_smssoftware.VALUE (dataset "smssoftware", trace "SMS: dosoftwarsms
// query=%s", and "KEYS=%s"). Every value and column name is HTML-escaped;
// the tables' own markup is the program's. The datasets' _key and _data
// objects are cleared before each statement, so only what the inventory
// gave is shown, and the scratch data files the statements leave are
// removed. Every output object of the page (sms_smssoftware, and
// sms_<class>, sms_summary_<class> of C.TITLE's classes and of every class
// with a summary) is cleared first, so one template serves both views.
// Then the page words[1], whose result is the status (1 also when tk_obj
// cannot be read).
int up_sms(const std::vector<std::string>& words, exlist* request);

// The pieces of the page, from a dataset's column names (one row) and rows:
// the software table (columns productname, productversion, companyname
// looked up by name), a class's property table, and its summary over the
// given columns. Values and names are HTML-escaped.
std::string sms_software_table(std::string_view keys, std::string_view rows);
std::string sms_property_table(std::string_view keys, std::string_view rows);
std::string sms_summary(std::string_view keys, std::string_view rows, std::span<const std::string_view> columns);

}  // namespace kiv

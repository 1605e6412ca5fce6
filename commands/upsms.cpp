// The inventory command (see upsms.h): the host check, the software or the
// hardware statements through gsqlexec, and the tables and summaries built
// from what they filed.
#include "commands/upsms.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <iterator>

#include "commands/upskeleton.h"
#include "data/sql_pars.h"
#include "engine/gsqlexec.h"
#include "engine/upfile.h"
#include "engine/uprowwalk.h"
#include "toolkit/base/kivcgitrace.h"
#include "toolkit/base/kivfmt.h"
#include "toolkit/objects/kivobj.h"
#include "toolkit/pages/kivhtml_rows.h"
#include "toolkit/base/kivsettings.h"
#include "toolkit/text/rowcol.h"

namespace kiv {

namespace {

// ---- the summary columns of the hardware classes ----

constexpr std::string_view kCdRom[] = {"description00", "manufacturer00"};
constexpr std::string_view kComputerSystem[] = {"roles0", "username0"};
constexpr std::string_view kDisk[] = {"description0", "interfacetype0", "mediatype0", "name0", "partitions0"};
constexpr std::string_view kDisplayConfiguration[] = {"devicename0", "driverversion0"};
constexpr std::string_view kDisplayController[] = {"name0"};
constexpr std::string_view kKeyboard[] = {"description00", "deviceid00"};
constexpr std::string_view kLogicalDisk[] = {"description0", "deviceid0", "filesystem0",
                                             "size0",        "freespace0", "systemname0"};
constexpr std::string_view kModem[] = {"devicetype0", "model0", "name0"};
constexpr std::string_view kMotherboard[] = {"description0", "deviceid0", "primarybustype0", "secondarybustype0"};
constexpr std::string_view kMouse[] = {"deviceid0", "hardwaretype0", "name0"};
constexpr std::string_view kNetcard[] = {"description0", "deviceid0",   "macaddress0", "manufacturer0",
                                         "name0",        "productname0", "servicename0"};
constexpr std::string_view kNetwork[] = {"defaultipgateway0", "ipaddress0", "ipsubnet0", "macaddress0",
                                         "dhcpserver00"};
constexpr std::string_view kOperatingSystem[] = {"bootdevice0", "buildnumber0", "csdversion0"};
constexpr std::string_view kPcBios[] = {"name0", "releasedate0", "version0"};
constexpr std::string_view kPcMemory[] = {"totalphysicalmemory0"};
constexpr std::string_view kProcessor[] = {"manufacturer0", "name0", "status0", "version0"};
constexpr std::string_view kScsiController[] = {"description0", "drivername0", "manufacturer0"};
constexpr std::string_view kServices[] = {"displayname0", "pathname0", "status0"};
constexpr std::string_view kTapeDrive[] = {"description0", "deviceid0", "mediatype0"};
constexpr std::string_view kVideo[] = {"adapterchiptype0", "adaptercompatibility0", "adapterdescription0",
                                       "adapterram0", "adaptertype0"};

constexpr sms_summary_class kSummaries[] = {
    {"CD_ROM_DATA", kCdRom},
    {"Computer_System_DATA", kComputerSystem},
    {"Disk_DATA", kDisk},
    {"Display_Configuration_DATA", kDisplayConfiguration},
    {"Display_Controller_Config_DATA", kDisplayController},
    {"Keyboard_DATA", kKeyboard},
    {"Logical_Disk_DATA", kLogicalDisk},
    {"Modem_DATA", kModem},
    {"Motherboard_DATA", kMotherboard},
    {"Mouse_DATA", kMouse},
    {"Netcard_DATA", kNetcard},
    {"Network_DATA", kNetwork},
    {"Operating_System_DATA", kOperatingSystem},
    {"PC_BIOS_DATA", kPcBios},
    {"PC_Memory_DATA", kPcMemory},
    {"Processor_DATA", kProcessor},
    {"SCSI_Controller_DATA", kScsiController},
    {"Services_DATA", kServices},
    {"Tape_Drive_DATA", kTapeDrive},
    {"Video_DATA", kVideo},
};

// The rules of the table: twenty classes, each name once and in order (the
// look-up is a binary search), every class with columns, every column a
// lower-case name as the driver gives the key row.
constexpr bool lower_name(std::string_view n) {
  if (n.empty()) return false;
  for (char c : n)
    if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_')) return false;
  return true;
}
constexpr bool summary_table_ok() {
  for (size_t i = 0; i < std::size(kSummaries); ++i) {
    if (i > 0 && !(kSummaries[i - 1].name < kSummaries[i].name)) return false;
    if (kSummaries[i].columns.empty()) return false;
    for (std::string_view c : kSummaries[i].columns)
      if (!lower_name(c)) return false;
  }
  return true;
}
static_assert(std::size(kSummaries) == 20);
static_assert(summary_table_ok());

// ---- the pieces of the page ----

constexpr std::string_view kTableOpen = "<table border=\"1\">";
constexpr std::string_view kTableClose = "</table>";
constexpr std::string_view kLabelCell = "<td bgcolor=\"black\">";
constexpr std::string_view kLabelFont = "<b><font color=\"white\" size=\"2\" face=\"Verdana, Arial, Helvetica\">";
constexpr std::string_view kLabelEnd = "</b></font>";

// The header row of a table: each label in white on black.
std::string header_row(std::initializer_list<std::string_view> labels) {
  std::string row = "<tr>";
  for (std::string_view label : labels) {
    row += kLabelCell;
    row += kLabelFont;
    row += label;
    row += kLabelEnd;
    row += "</td>";
  }
  row += "</tr>";
  return row;
}

std::string escaped(std::string_view text) { return html_escape(text); }

// The value of a column by its name in the key row; a name the key row holds
// twice (a column of System_DATA and of the class alike) is the later one's,
// the class's own.
std::string value_by_name(const std::vector<std::string_view>& names, const std::vector<std::string_view>& values,
                          std::string_view name) {
  for (size_t i = names.size(); i-- > 0;) {
    if (names[i] != name) continue;
    if (i >= values.size() || values[i] == kEmptyCol) return {};
    return std::string(values[i]);
  }
  return {};
}

std::string_view shown_column(std::string_view col) { return col == kEmptyCol ? std::string_view() : col; }

// The row/column text that the page pieces read: the names of the key row
// and the rows' columns, each walked once.
std::vector<std::vector<std::string_view>> split_rows(std::string_view rows) {
  std::vector<std::vector<std::string_view>> out;
  RowWalk walk(rows);
  while (std::optional<std::string_view> row = walk.next()) out.push_back(row_columns(*row));
  return out;
}

std::vector<std::string_view> key_names(std::string_view keys) {
  std::vector<std::string_view> names = row_columns(keys);
  for (std::string_view& n : names) n = shown_column(n);
  return names;
}

// ---- the command's steps ----

// Clears VALUE of every object of that name, so that nothing a request set
// is taken for what a statement or the command filed.
void clear_value(objlist& objs, const std::string& name) {
  for (kivobj* o = objs.find(name); o; o = objlist::next_named(*o)) modattrib(*o, attr::VALUE, {});
}

// Runs one statement under a dataset: its _key and _data objects cleared
// first, the scratch data file it left removed after (hidedatafile is
// cleared before, so what it holds afterwards is the statement's file).
// gsqlexec's result.
int run_dataset(objlist& objs, const std::string& dataset, const std::string& sql) {
  clear_value(objs, dataset + "_key");
  clear_value(objs, dataset + "_data");
  clear_value(objs, "hidedatafile");
  const int rc = gsqlexec(objs, dataset, sql);
  const std::string left = objtext(objs, "hidedatafile.VALUE");
  if (!left.empty()) {
    remove_tmpdatafile(left);
    clear_value(objs, "hidedatafile");
  }
  return rc;
}

// Stops the request with a message of the missing settings: status 0.
int not_supplied(std::string_view message) {
  errmsg(message);
  return 0;
}

// The classes of the connection object's TITLE row, in order.
std::vector<std::string> title_classes(const std::string& title) {
  std::vector<std::string> classes;
  RowWalk walk(title);
  if (std::optional<std::string_view> row = walk.next())
    for (std::string_view c : row_columns(*row)) classes.emplace_back(shown_column(c));
  return classes;
}

void show(objlist& objs, const std::string& name, const std::string& html) {
  setobjvalue(objs, name, html, Origin::config);
}

void software_view(objlist& objs, const std::string& host) {
  const std::string sql = sformat(
      "select * from System_DATA,SoftwareInventory,SoftwareProduct where ((System_DATA.Name0='%s') and "
      "(System_DATA.MachineID=SoftwareInventory.ClientID) and (SoftwareInventory.ProductId=SoftwareProduct.ProductId))"
      " order by productname",
      host);
  kivtrace("SMS: dosoftwarsms query=%s", sql);
  if (run_dataset(objs, "smssoftware", sql) != 0) return;
  const std::string keys = objtext(objs, "smssoftware_key.VALUE");
  if (keys.empty()) return;
  kivtrace("KEYS=%s", keys);
  show(objs, "sms_smssoftware", sms_software_table(keys, objtext(objs, "smssoftware_data.VALUE")));
}

void hardware_view(objlist& objs, const std::string& host, const std::vector<std::string>& classes) {
  for (const std::string& cls : classes) {
    if (cls.empty() || !sql_single_table_ok(cls)) continue;
    const std::string sql = sformat(
        "select * from System_DATA,%s where ((System_DATA.Name0='%s') and (System_DATA.MachineID=%s.MachineID))",
        cls, host, cls);
    kivtrace("SMS: dosms query=%s", sql);
    if (run_dataset(objs, cls, sql) != 0) continue;
    const std::string keys = objtext(objs, cls + "_key.VALUE");
    if (keys.empty()) continue;
    const std::string rows = objtext(objs, cls + "_data.VALUE");
    show(objs, "sms_" + cls, sms_property_table(keys, rows));
    if (std::optional<std::span<const std::string_view>> columns = sms_summary_columns(cls))
      show(objs, "sms_summary_" + cls, sms_summary(keys, rows, *columns));
  }
}

// Points the command settings at the SMS database (MSSQL) the connection
// value "<data source>:<login>:<password>" names; db_name := the data source.
// False after not_supplied's message (the request ends with 0) when the data
// source or the login is missing.
bool use_sms_database(objlist& objs, const std::string& connection) {
  Settings& s = settings();
  s.pcodbcdbtype = "MSSQL";
  s.mssqlflag = 1;
  const size_t first = connection.find(':');
  if (first == std::string::npos || first == 0) {
    not_supplied("datasource is not supplied. Exiting...");
    return false;
  }
  const std::string source = connection.substr(0, first);
  setobjvalue(objs, "db_name", source, Origin::config);
  kivtrace("SMS: Datasource='%s'", source);
  const size_t second = connection.find(':', first + 1);
  if (second == std::string::npos) {
    not_supplied("database login is not supplied. Exiting...");
    return false;
  }
  s.pcodbcuser = connection.substr(first + 1, second - first - 1);
  s.pcodbcpass = connection.substr(second + 1);
  kivtrace("SMS: login='%s'", s.pcodbcuser);
  return true;
}

// Every object the page can show starts empty: the template of one view
// names the other view's objects too.
void clear_views(objlist& objs, const std::vector<std::string>& classes) {
  clear_value(objs, "sms_smssoftware");
  for (const std::string& cls : classes) {
    clear_value(objs, "sms_" + cls);
    clear_value(objs, "sms_summary_" + cls);
  }
  for (const sms_summary_class& c : kSummaries) {
    clear_value(objs, "sms_" + std::string(c.name));
    clear_value(objs, "sms_summary_" + std::string(c.name));
  }
}

}  // namespace

std::span<const sms_summary_class> sms_summary_classes() { return kSummaries; }

std::optional<std::span<const std::string_view>> sms_summary_columns(std::string_view cls) {
  const auto* at = std::lower_bound(std::begin(kSummaries), std::end(kSummaries), cls,
                                    [](const sms_summary_class& s, std::string_view n) { return s.name < n; });
  if (at == std::end(kSummaries) || at->name != cls) return std::nullopt;
  return at->columns;
}

std::string sms_software_table(std::string_view keys, std::string_view rows) {
  static constexpr std::string_view kColumns[] = {"productname", "productversion", "companyname"};
  const std::vector<std::string_view> names = key_names(keys);
  std::string html(kTableOpen);
  html += header_row({"Product Name", "Product Version", "Company Name"});
  bool shaded = false;
  for (const std::vector<std::string_view>& row : split_rows(rows)) {
    const std::string_view opener = shaded ? "<td bgcolor=\"c0c0c0\" >" : "<td>";
    html += "<tr>";
    for (size_t i = 0; i < std::size(kColumns); ++i) {
      const std::string value = value_by_name(names, row, kColumns[i]);
      html += opener;
      if (value.empty()) {
        html += "&nbsp;</td>";
        continue;
      }
      html += i == 0 ? "<font  color=\"black\" size=\"1\" face=\"Verdana, Arial, Helvetica\"> "
                     : "<font color=\"black\" size=\"1\" face=\"Verdana, Arial, Helvetica\"> ";
      html += escaped(value);
      html += "</font> </td>";
    }
    html += "</tr>";
    shaded = !shaded;
  }
  html += kTableClose;
  return html;
}

std::string sms_property_table(std::string_view keys, std::string_view rows) {
  const std::vector<std::string_view> names = key_names(keys);
  const std::vector<std::vector<std::string_view>> records = split_rows(rows);
  std::string html(kTableOpen);
  html += header_row({"Property", "Value"});
  bool shaded = false;
  for (size_t r = 0; r < records.size(); ++r) {
    const std::vector<std::string_view>& record = records[r];
    for (size_t i = 0; i < names.size(); ++i) {
      const std::string_view opener = shaded ? "<td  bgcolor=\"c0c0c0\" >" : "<td>";
      const std::string_view value = i < record.size() ? shown_column(record[i]) : std::string_view();
      html += "<tr>";
      html += opener;
      html += ' ';
      html += escaped(names[i]);
      html += " </td> ";
      html += opener;
      if (value.empty()) {
        html += "&nbsp;</td> </tr>";
      } else {
        html += escaped(value);
        html += "</td></tr>";
      }
      shaded = !shaded;
    }
    if (r + 1 < records.size()) html += "<tr> <td  bgcolor=\"black\" colspan=\"2\"> &nbsp; </td> </tr>";
  }
  html += kTableClose;
  return html;
}

std::string sms_summary(std::string_view keys, std::string_view rows, std::span<const std::string_view> columns) {
  const std::vector<std::string_view> names = key_names(keys);
  const std::vector<std::vector<std::string_view>> records = split_rows(rows);
  std::string html = "<font size=\"1\" face=\"Verdana, Arial, Helvetica\">";
  for (size_t r = 0; r < records.size(); ++r) {
    for (std::string_view column : columns) {
      const std::string value = value_by_name(names, records[r], column);
      html += column.empty() ? std::string(" ") : escaped(column);
      html += ':';
      html += value.empty() ? std::string(" ") : escaped(value);
      html += "<br>";
    }
    if (r + 1 < records.size()) html += "---------------";
    html += "<br>";
  }
  html += "</font>";
  return html;
}

int up_sms(const std::vector<std::string>& words, exlist* request) {
  objholder objs = handler_begin(words, {2, "Wrong usage: upsms templatefile\n"}, request, RequestCopy::all);
  if (!objs) return 1;
  objlist& l = *objs;
  const std::string host = objtext(l, "smshost.VALUE");
  if (host.empty()) return not_supplied("smshost is not supplied. Exiting...");
  const std::string type = objtext(l, "smstype.VALUE");
  if (type.empty()) return not_supplied("smstype is not supplied. Exiting...");
  const std::string control = objtext(l, "smscontrol.VALUE");
  if (control.empty()) return not_supplied("smscontrol is not supplied. Exiting...");
  const std::string connection = objtext(l, control, "VALUE");
  if (connection.empty()) return not_supplied("smscontrol.VALUE is not supplied. Exiting...");

  if (!use_sms_database(l, connection)) return 0;
  const std::string title = objtext(l, control, "TITLE");
  if (title.empty()) return not_supplied("smscontrol.TITLE is not supplied. Exiting...");

  const std::string quoted = textnl_or_empty(host);
  const std::string check = sformat("select * from System_DATA where (System_DATA.Name0='%s')", quoted);
  kivtrace("SMS: checksms query=%s", check);
  if (run_dataset(l, "check_sms_host", check) != 0) return 1;
  if (getrowcount(objtext(l, "check_sms_host_data.VALUE")) == 0) {
    errmsg("SMS:The SMS database did not return any information on host '%s'", host);
    return 0;
  }

  const std::vector<std::string> classes = title_classes(title);
  clear_views(l, classes);

  if (type == "hardware") {
    hardware_view(l, quoted, classes);
  } else {
    software_view(l, quoted);
  }
  return handler_page(&l, words);
}

}  // namespace kiv

// The inventory command over the sample inventory (install/home/db/
// inventory.sql) on SQLite and on PostgreSQL through ODBC: the software table
// and a class's table and summary byte for byte, the stops of missing
// settings in their order, the connection value's parts, the views by type,
// hosts and classes that try to reach into the SQL, values a request plants
// for the tables, markup in the inventory's values, and the scratch files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "commands/upsms.h"
#include "support/testsupport.h"
#include "tests/data/dbroad.h"
#include "toolkit/base/kivcgitrace.h"
#include "toolkit/base/kivcontext.h"
#include "toolkit/request/kivexfile.h"
#include "toolkit/base/kivsettings.h"

using namespace kiv;
using kivtest::Road;

namespace {

namespace fs = std::filesystem;

const std::vector<std::string> kClasses = {"Computer_System_DATA", "Processor_DATA",        "PC_Memory_DATA",
                                           "Logical_Disk_DATA",    "Network_DATA",          "Operating_System_DATA",
                                           "Sound_Device_DATA"};

// The sample home over an inventory of the test's own; the page is a probe
// template that shows each output object between its own brackets.
class UpSms : public kivtest::DbRoadTest, public ::testing::WithParamInterface<Road> {
 protected:
  UpSms() : DbRoadTest(GetParam()) {}

  void SetUp() override {
    DbRoadTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    for (const std::string& s : kivtest::sql_file_statements(std::string(KIV_SOURCE_DIR) + "/install/home/db/inventory.sql"))
      exec(s);
    fs::copy(fs::path(KIV_SOURCE_DIR) / "install" / "home" / "client", home_.path() / "client",
             fs::copy_options::recursive);
    const std::string objs = kivtest::read_file(home_.str() + "/client/config/tk_obj");
    const size_t at = objs.find("OBJECT{\n\tNAME=smscontrol\n");
    ASSERT_NE(at, std::string::npos);
    sample_objs_ = objs.substr(0, at);
    std::string probe;
    for (const std::string& name : probed()) probe += "[" + name + "]MB{" + name + ".VALUE}ME[/" + name + "]\n";
    home_.write("client/kivhtml/tk/probe.html", probe);
    configure(connection_value());
  }

  // The login of the test's database: the SQLite driver takes any, the
  // PostgreSQL cluster knows its own user.
  std::string login() const {
    const char* user = std::getenv("PGUSER");
    return pg() && user ? user : "inventory";
  }
  std::string connection_value() const { return dsn_ + ":" + login() + ":"; }

  // tk_obj with the inventory's objects as given: the connection object's
  // VALUE and TITLE (the seven sample classes unless told), and smscontrol
  // naming it unless `control` is false.
  void configure(const std::string& value, const std::string& title = "", bool control = true) {
    std::string classes = title;
    if (classes.empty()) {
      for (const std::string& c : kClasses) classes += (classes.empty() ? "" : "^@") + c;
      classes += "^$";
    }
    std::string objs = sample_objs_;
    if (control) objs += "OBJECT{\n\tNAME=smscontrol\n\tVALUE=inventory_connection\n};\n";
    objs += "OBJECT{\n\tNAME=inventory_connection\n";
    if (!value.empty()) objs += "\tVALUE=" + value + "\n";
    if (title != "-") objs += "\tTITLE=" + classes + "\n";
    objs += "};\n";
    home_.write("client/config/tk_obj", objs);
  }

  std::vector<std::string> probed() const {
    std::vector<std::string> names = {"sms_smssoftware"};
    for (const std::string& c : kClasses) {
      names.push_back("sms_" + c);
      names.push_back("sms_summary_" + c);
    }
    return names;
  }

  // up_sms over a request of these fields; its status.
  int run(std::vector<std::pair<std::string, std::string>> fields) {
    clear_output();
    exlist request;
    for (auto& [name, value] : fields) request.nodes.push_back(formexdatanode(name, value));
    const std::vector<std::string> words = {"up_sms", "probe.html"};
    int status = 99;
    const std::optional<int> ended = kivtest::exit_status([&] { status = up_sms(words, &request); });
    return ended ? *ended : status;
  }
  int show(const std::string& host, const std::string& type) {
    return run({{"smshost.VALUE", host}, {"smstype.VALUE", type}});
  }

  // What the probe shows of an object; "(none)" when the page lacks it.
  std::string shown(const std::string& name) const {
    const std::string p = page(), open = "[" + name + "]", close = "[/" + name + "]";
    const size_t a = p.find(open), b = p.find(close);
    if (a == std::string::npos || b == std::string::npos) return "(none)";
    return p.substr(a + open.size(), b - a - open.size());
  }

  std::vector<std::string> scratch_files() const {
    std::vector<std::string> left;
    for (const std::string& name : kivtest::entries(home_.str() + "/tmp"))
      if (name.starts_with("tmp_datafile.") || name.starts_with("odbcfile.")) left.push_back(name);
    return left;
  }

  std::string sample_objs_;
};

constexpr const char* kHead = "<td bgcolor=\"black\"><b><font color=\"white\" size=\"2\" face=\"Verdana, Arial, Helvetica\">";
const std::string kEmptyProperties = std::string("<table border=\"1\"><tr>") + kHead + "Property</b></font></td>" +
                                     kHead + "Value</b></font></td></tr></table>";

TEST_P(UpSms, SoftwareTableOfAComputer) {
  ASSERT_EQ(show("PC-0001", "software"), 0) << page();
  const std::string first = "<font  color=\"black\" size=\"1\" face=\"Verdana, Arial, Helvetica\"> ";
  const std::string other = "<font color=\"black\" size=\"1\" face=\"Verdana, Arial, Helvetica\"> ";
  const std::string shade = "<td bgcolor=\"c0c0c0\" >";
  const std::string expected =
      std::string("<table border=\"1\"><tr>") + kHead + "Product Name</b></font></td>" + kHead +
      "Product Version</b></font></td>" + kHead + "Company Name</b></font></td></tr>" +
      "<tr><td>" + first + "Accounts</font> </td><td>" + other + "2024.1</font> </td><td>" + other +
      "Ledger Works</font> </td></tr>" +
      "<tr>" + shade + first + "Browser</font> </td>" + shade + other + "121.0</font> </td>" + shade + other +
      "Open Web</font> </td></tr>" +
      "<tr><td>" + first + "Fonts &#38; &#60;Symbols&#62;</font> </td><td>" + other + "2.0</font> </td><td>" +
      other + "Type Foundry &#38; Co</font> </td></tr>" +
      "<tr>" + shade + first + "Text Editor</font> </td>" + shade + other + "8.4</font> </td>" + shade + other +
      "Plain Software</font> </td></tr>" +
      // An empty version is a blank cell.
      "<tr><td>" + first + "Zip Tool</font> </td><td>&nbsp;</td><td>" + other + "Archive People</font> </td></tr>" +
      "</table>";
  EXPECT_EQ(shown("sms_smssoftware"), expected);
  // The software view shows no class.
  for (const std::string& c : kClasses) EXPECT_EQ(shown("sms_" + c), "") << c;
  EXPECT_EQ(scratch_files(), std::vector<std::string>{});

  // A computer without software: the header row alone.
  ASSERT_EQ(show("PC-0002", "software"), 0) << page();
  EXPECT_EQ(shown("sms_smssoftware"), std::string("<table border=\"1\"><tr>") + kHead +
                                          "Product Name</b></font></td>" + kHead + "Product Version</b></font></td>" +
                                          kHead + "Company Name</b></font></td></tr></table>");
}

TEST_P(UpSms, HardwareTablesAndSummaries) {
  ASSERT_EQ(show("PC-0001", "hardware"), 0) << page();
  const std::string shade = "<td  bgcolor=\"c0c0c0\" >";
  auto plain = [](const std::string& n, const std::string& v) { return "<tr><td> " + n + " </td> <td>" + v + "</td></tr>"; };
  auto shaded = [&](const std::string& n, const std::string& v) {
    return "<tr>" + shade + " " + n + " </td> " + shade + v + "</td></tr>";
  };
  EXPECT_EQ(shown("sms_PC_Memory_DATA"),
            std::string("<table border=\"1\"><tr>") + kHead + "Property</b></font></td>" + kHead +
                "Value</b></font></td></tr>" + plain("machineid", "1") + shaded("name0", "PC-0001") +
                plain("domain0", "OFFICE") + shaded("user_name0", "ann") +
                plain("operating_system_name_and0", "Microsoft Windows 10 Pro") + shaded("machineid", "1") +
                plain("totalphysicalmemory0", "16777216") + "</table>");
  EXPECT_EQ(shown("sms_summary_PC_Memory_DATA"),
            "<font size=\"1\" face=\"Verdana, Arial, Helvetica\">totalphysicalmemory0:16777216<br><br></font>");

  // Two disks: one separator row between them, none after the second; the
  // shading runs on over the whole table.
  const std::string disks = shown("sms_Logical_Disk_DATA");
  const std::string separator = "<tr> <td  bgcolor=\"black\" colspan=\"2\"> &nbsp; </td> </tr>";
  const size_t sep = disks.find(separator);
  ASSERT_NE(sep, std::string::npos) << disks;
  EXPECT_EQ(disks.find(separator, sep + 1), std::string::npos);
  EXPECT_NE(disks.find("C:"), std::string::npos);
  EXPECT_GT(disks.find("D:"), sep);
  EXPECT_TRUE(disks.ends_with(shaded("systemname0", "PC-0001") + "</table>")) << disks;
  auto disk = [](const char* id, const char* size, const char* free) {
    return std::string("description0:Local Fixed Disk<br>deviceid0:") + id + "<br>filesystem0:NTFS<br>size0:" + size +
           "<br>freespace0:" + free + "<br>systemname0:PC-0001<br>";
  };
  EXPECT_EQ(shown("sms_summary_Logical_Disk_DATA"), "<font size=\"1\" face=\"Verdana, Arial, Helvetica\">" +
                                                        disk("C:", "499000", "120500") + "---------------<br>" +
                                                        disk("D:", "953000", "800100") + "<br></font>");
  // A summary column that System_DATA has too is the class's own.
  EXPECT_EQ(shown("sms_summary_Processor_DATA"),
            "<font size=\"1\" face=\"Verdana, Arial, Helvetica\">manufacturer0:GenuineIntel<br>"
            "name0:Intel Core i5-8500<br>status0:OK<br>version0:Model 158<br><br></font>");
  // Every class shows its table; a class outside the summary table has no
  // summary; an empty value is a blank.
  for (const std::string& c : kClasses) EXPECT_TRUE(shown("sms_" + c).starts_with("<table border=\"1\">")) << c;
  EXPECT_EQ(shown("sms_summary_Sound_Device_DATA"), "");
  EXPECT_NE(shown("sms_summary_Operating_System_DATA").find("csdversion0: <br>"), std::string::npos);
  const std::string os = shown("sms_Operating_System_DATA");
  EXPECT_TRUE(os.find("<td> csdversion0 </td> <td>&nbsp;</td> </tr>") != std::string::npos ||
              os.find("> csdversion0 </td> <td  bgcolor=\"c0c0c0\" >&nbsp;</td> </tr>") != std::string::npos)
      << os;
  EXPECT_EQ(shown("sms_smssoftware"), "");
  EXPECT_EQ(scratch_files(), std::vector<std::string>{});

  // Only "hardware" exactly is the hardware view.
  ASSERT_EQ(show("PC-0001", "Hardware"), 0);
  EXPECT_NE(shown("sms_smssoftware").find("Product Name"), std::string::npos);
  EXPECT_EQ(shown("sms_Processor_DATA"), "");

  // A computer with no rows of a class: the inventory still names the
  // columns, and the table has its header alone.
  ASSERT_EQ(show("PC-0002", "hardware"), 0) << page();
  EXPECT_EQ(shown("sms_Sound_Device_DATA"), kEmptyProperties);
  EXPECT_NE(shown("sms_Processor_DATA").find("AMD Ryzen 5 5600G"), std::string::npos);
}

TEST_P(UpSms, MissingSettingsStopInOrder) {
  struct Case {
    const char* what;
    std::vector<std::pair<std::string, std::string>> fields;
    std::string value, title;
    bool control;
    std::string message;
  } cases[] = {
      {"no host", {{"smstype.VALUE", "hardware"}}, "ds:u:", "", true, "smshost is not supplied. Exiting..."},
      {"no type", {{"smshost.VALUE", "PC-0001"}}, "ds:u:", "", true, "smstype is not supplied. Exiting..."},
      {"no smscontrol", {{"smshost.VALUE", "PC-0001"}, {"smstype.VALUE", "x"}}, "ds:u:", "", false,
       "smscontrol is not supplied. Exiting..."},
      {"an empty connection", {{"smshost.VALUE", "PC-0001"}, {"smstype.VALUE", "x"}}, "", "", true,
       "smscontrol.VALUE is not supplied. Exiting..."},
      {"no colon", {{"smshost.VALUE", "PC-0001"}, {"smstype.VALUE", "x"}}, "ds", "", true,
       "datasource is not supplied. Exiting..."},
      {"no data source", {{"smshost.VALUE", "PC-0001"}, {"smstype.VALUE", "x"}}, ":u:", "", true,
       "datasource is not supplied. Exiting..."},
      {"one colon", {{"smshost.VALUE", "PC-0001"}, {"smstype.VALUE", "x"}}, "ds:u", "", true,
       "database login is not supplied. Exiting..."},
      {"no classes", {{"smshost.VALUE", "PC-0001"}, {"smstype.VALUE", "x"}}, "ds:u:", "-", true,
       "smscontrol.TITLE is not supplied. Exiting..."},
      // The request cannot supply what the configuration lacks: smscontrol
      // and the object it names are configuration.
      {"a request's smscontrol",
       {{"smshost.VALUE", "PC-0001"}, {"smstype.VALUE", "x"}, {"smscontrol.VALUE", "inventory_connection"}},
       "ds:u:", "", false, "smscontrol is not supplied. Exiting..."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    configure(c.value, c.title, c.control);
    EXPECT_EQ(run(c.fields), 0);
    EXPECT_EQ(page(), "<PRE>\n" + c.message + "</PRE>\n");
  }

  // Unknown hosts, those that try to widen the statement among them, get
  // the inventory's answer and no page.
  configure(connection_value());
  for (const std::string host : {"PC-9999", "PC-0001' or '1'='1", "x' or '1'='1' --"}) {
    SCOPED_TRACE(host);
    EXPECT_EQ(show(host, "hardware"), 0);
    EXPECT_EQ(page(), "<PRE>\nSMS:The SMS database did not return any information on host '" + html_escape(host) +
                          "'</PRE>\n");
  }
  EXPECT_EQ(rows("select count(*) from System_DATA"), "2^$");
  EXPECT_EQ(scratch_files(), std::vector<std::string>{});
}

TEST_P(UpSms, ConnectionValueParts) {
  struct Case {
    std::string rest;  // after the data source
    std::string user, password;
  } cases[] = {
      {":" + login() + ":", login(), ""},
      {":" + login() + ":secret", login(), "secret"},
      {":" + login() + ":a:b", login(), "a:b"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rest);
    configure(dsn_ + c.rest);
    ASSERT_EQ(show("PC-0001", "software"), 0) << page();
    EXPECT_EQ(settings().pcodbcuser, c.user);
    EXPECT_EQ(settings().pcodbcpass, c.password);
    EXPECT_EQ(settings().mssqlflag, 1);
    EXPECT_EQ(settings().pcodbcdbtype, "MSSQL");
    EXPECT_NE(shown("sms_smssoftware").find("Accounts"), std::string::npos);
  }
}

TEST_P(UpSms, ClassesThatAreNoPlainTableAreSkipped) {
  configure(connection_value(),
            "A,B^@a b^@X;drop table System_DATA^@Processor_DATA^@System_DATA s^@No_Such_DATA^@PC_Memory_DATA^$");
  ASSERT_EQ(show("PC-0001", "hardware"), 0) << page();
  for (const char* bad : {"A,B", "a b", "X;drop table System_DATA", "System_DATA s"})
    EXPECT_NE(page().find(std::string("Bad table name '") + bad + "'\n"), std::string::npos) << bad << page();
  // A table the inventory lacks fails in the database, and the classes
  // after it are still shown.
  EXPECT_NE(page().find("SQL Error:"), std::string::npos);
  EXPECT_NE(shown("sms_Processor_DATA").find("Intel Core i5-8500"), std::string::npos);
  EXPECT_NE(shown("sms_PC_Memory_DATA").find("16777216"), std::string::npos);
  EXPECT_EQ(rows("select count(*) from System_DATA"), "2^$");
  EXPECT_EQ(rows("select count(*) from Processor_DATA"), "2^$");
  EXPECT_EQ(scratch_files(), std::vector<std::string>{});
}

// A request may set the VALUE of objects the configuration does not name;
// none of them reaches the tables: the datasets' objects are cleared before
// each statement, and the page's objects before anything is built.
TEST_P(UpSms, ValuesARequestPlantsAreNotShown) {
  ASSERT_EQ(run({{"smshost.VALUE", "PC-0002"},
                 {"smstype.VALUE", "hardware"},
                 {"Sound_Device_DATA_key.VALUE", "name0^$"},
                 {"Sound_Device_DATA_data.VALUE", "Forged sound card^$"},
                 {"sms_Sound_Device_DATA.VALUE", "<b>forged table</b>"},
                 {"sms_summary_Sound_Device_DATA.VALUE", "forged summary"},
                 {"sms_smssoftware.VALUE", "forged software"},
                 {"Processor_DATA_data.VALUE", "9^@Forged CPU^$"}}),
            0)
      << page();
  EXPECT_EQ(page().find("orged"), std::string::npos) << page();
  EXPECT_EQ(shown("sms_Sound_Device_DATA"), kEmptyProperties);
  EXPECT_NE(shown("sms_Processor_DATA").find("AMD Ryzen 5 5600G"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Roads, UpSms, ::testing::Values(Road::sqlite, Road::postgres), kivtest::road_name);

TEST(SmsSummaryTable, TwentyClassesFoundByExactName) {
  EXPECT_EQ(sms_summary_classes().size(), 20u);
  const auto disk = sms_summary_columns("Logical_Disk_DATA");
  ASSERT_TRUE(disk);
  EXPECT_EQ(std::vector<std::string_view>(disk->begin(), disk->end()),
            (std::vector<std::string_view>{"description0", "deviceid0", "filesystem0", "size0", "freespace0",
                                           "systemname0"}));
  for (const char* absent : {"logical_disk_data", "Sound_Device_DATA", "", "Video_DATA "})
    EXPECT_FALSE(sms_summary_columns(absent)) << absent;
  EXPECT_TRUE(sms_summary_columns("CD_ROM_DATA"));
  EXPECT_TRUE(sms_summary_columns("Video_DATA"));
}

TEST(SmsPageParts, NamesAndValuesAreEscapedAndShownWhole) {
  EXPECT_EQ(sms_property_table("a<b^$", "x&y^$"),
            std::string("<table border=\"1\"><tr>") + kHead + "Property</b></font></td>" + kHead +
                "Value</b></font></td></tr><tr><td> a&#60;b </td> <td>x&#38;y</td></tr></table>");
  // A value of any length is shown whole.
  const std::string long_value(10000, 'v');
  const std::string table = sms_property_table("name0^$", long_value + "^$");
  EXPECT_NE(table.find("<td>" + long_value + "</td></tr></table>"), std::string::npos);
  const std::string_view cols[] = {"name0"};
  EXPECT_NE(sms_summary("name0^$", long_value + "^$", cols).find("name0:" + long_value + "<br><br></font>"),
            std::string::npos);
  EXPECT_EQ(sms_summary("name0^$", "\"q\"^$^^^$", cols),
            "<font size=\"1\" face=\"Verdana, Arial, Helvetica\">name0:&#34;q&#34;<br>---------------<br>"
            "name0: <br><br></font>");
}

}  // namespace

// The general settings pages through the frame: the database settings with
// the password kept, cleared or replaced; the sort and chart menus; the date
// format and status names with their defaults; colours (good ones, a typed
// table, and what may not reach every page's markup); the security page;
// the paths; the general mail settings with a subject kept on one line and a
// body that reads back whole. Every refusal writes nothing.
#include "admintest.h"
#include "admin/upadmin_rules.h"
#include "toolkit/text/kivcgimisc.h"
#include "toolkit/objects/kivobjfile.h"

using namespace kiv;
using namespace admintest;

namespace {

using Fields = std::vector<std::pair<std::string, std::string>>;

const std::string kConnection = object("dbserver_hostname", "db1") + object("network_timeout", "30") +
                                object("db_name", "helpdesk") + object("db_table_name", "cases") +
                                object("odbc_dbtype", "MSSQL") + object("odbc_user", "kiv") +
                                object("odbc_pass", "s3cret");
const std::string kFieldObjects =
    block({{"NAME", "id_num"}, {"DBKEY", "id_num"}, {"TITLE", "Record"}}) +
    block({{"NAME", "category"}, {"VALUE", "Other^@Hardware^@Other^$"}, {"DBKEY", "category"}, {"TYPE", "MENU"},
           {"ENFORCE", "1"}, {"TITLE", "Category"}}) +
    block({{"NAME", "priority"}, {"DBKEY", "priority"}, {"TITLE", "Priority"}}) +
    block({{"NAME", "problem"}, {"DBKEY", "problem"}}) + object("color_scheme", "header-1f4e79^$");

class GeneralSettings : public AdminTest {
 protected:
  void SetUp() override {
    AdminTest::SetUp();
    tk_ = kConnection + kFieldObjects;
    write("client/config/tk_obj", tk_);
    ce_ = read("client/config/ce_obj");
  }

  // The action with these form values over a page that shows `shown`.
  Ended act(const std::string& word, const Fields& fields, const std::string& shown = "") {
    write("client/kivhtml/admin/show.html", shown + "\n");
    exlist request = form_of(fields);
    return run(word, &request, "show.html");
  }

  // The object files and backups (not the lock files, not the templates).
  std::map<std::string, std::string> content() const {
    auto t = tree();
    std::erase_if(t, [](const auto& kv) {
      return kv.first.ends_with(".lock") || kv.first.starts_with("client/kivhtml");
    });
    return t;
  }

  // tk_obj as saved, with `from` replaced by `to` in the file of before.
  std::string replaced(const std::string& from, const std::string& to) const {
    std::string t = tk_;
    size_t at = t.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) t.replace(at, from.size(), to);
    return t;
  }

  // Each refusal ends with status 0 and its message; nothing is written.
  void expect_refusals(const std::vector<std::tuple<std::string, Fields, std::string>>& cases) {
    auto before = content();
    for (const auto& [word, fields, message] : cases) {
      SCOPED_TRACE(word + ": " + message);
      clear_output();
      EXPECT_EQ(act(word, fields), exited(0));
      EXPECT_EQ(page(), "<PRE>\n" + message + "</PRE>\n");
      EXPECT_EQ(content(), before);
    }
  }

  std::string tk_, ce_;
};

}  // namespace

TEST_F(GeneralSettings, DatabaseSettingsAndThePassword) {
  const Fields connection = {{"dbserver_hostname.VALUE", "db2"}, {"network_timeout.VALUE", "60"},
                             {"db_name.VALUE", "cases2"}, {"db_table_name.VALUE", "tickets"}};
  auto with = [&](Fields extra) {
    Fields f = connection;
    f.insert(f.end(), extra.begin(), extra.end());
    return f;
  };
  std::string saved = object("dbserver_hostname", "db2") + object("network_timeout", "60") +
                      object("db_name", "cases2") + object("db_table_name", "tickets");
  struct Case {
    const char* what;
    Fields extra;
    std::string rest;  // the ODBC type, user and password as saved
  } cases[] = {
      // An empty type keeps the stored one, an empty user clears it, an empty
      // password box keeps the password.
      {"nothing else", {},
       object("odbc_dbtype", "MSSQL") + "OBJECT{\n\tNAME=odbc_user\n};\n" + object("odbc_pass", "s3cret")},
      {"a type, a user", {{"admin_odbc_dbtype.VALUE", "ORACLE"}, {"odbc_user.VALUE", "ann"}},
       object("odbc_dbtype", "ORACLE") + object("odbc_user", "ann") + object("odbc_pass", "s3cret")},
      {"a new password", {{"odbc_user.VALUE", "kiv"}, {"odbc_pass.VALUE", "n3w"}},
       object("odbc_dbtype", "MSSQL") + object("odbc_user", "kiv") + object("odbc_pass", "n3w")},
      {"the box that clears it", {{"odbc_user.VALUE", "kiv"}, {"odbc_pass_none.VALUE", "1"}},
       object("odbc_dbtype", "MSSQL") + object("odbc_user", "kiv") + "OBJECT{\n\tNAME=odbc_pass\n};\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    write("client/config/tk_obj", tk_);
    clear_output();
    EXPECT_EQ(act("mod_database_settings", with(c.extra), "user=FB{odbc_user.VALUE}FE"), returned(0));
    EXPECT_EQ(read("client/config/tk_obj"), saved + c.rest + kFieldObjects);
  }
  expect_refusals({
      {"mod_database_settings", {}, "Missing dbserver_hostname name object\n"},
      {"mod_database_settings", {{"dbserver_hostname.VALUE", "h"}}, "Missing network_timeout name object\n"},
      {"mod_database_settings", {{"dbserver_hostname.VALUE", "h"}, {"network_timeout.VALUE", "1"}},
       "Missing db_name name object\n"},
      {"mod_database_settings",
       {{"dbserver_hostname.VALUE", "h"}, {"network_timeout.VALUE", "1"}, {"db_name.VALUE", "d"}},
       "Missing db_table_name name object\n"},
  });
}

TEST_F(GeneralSettings, SortAndChartMenus) {
  for (const auto& [show, save, stored, form] :
       {std::tuple<std::string, std::string, std::string, std::string>{"DatabaseSort", "mod_sort", "sort_menu",
                                                                       "mm_admin_sort_menu"},
        {"ChartsFields", "mod_chartsfield", "chart_menu", "mm_admin_chart_menu"}}) {
    SCOPED_TRACE(show);
    write("client/config/tk_obj", tk_);
    const std::string shown = "menu=FB{" + form + ".VALUE}FE";
    // No choice yet: the titles of the fields alone.
    clear_output();
    ASSERT_EQ(act(show, {}, shown), returned(0));
    EXPECT_EQ(page(), "menu=Record^@Category^@Priority^$\n");
    // The choice, a comma list from the multiple choice, as one row; the
    // show then puts it in front of the titles.
    clear_output();
    // The multiple choice's picks (MDB names it "mm_" and the object name),
    // joined by the request list into one comma list.
    ASSERT_EQ(act(save, {{"mm_" + form + ".VALUE", "Category"}, {"mm_" + form + ".VALUE", "Priority"}}),
              returned(0));
    EXPECT_EQ(read("client/config/tk_obj"), tk_ + object(stored, "Category^@Priority^$"));
    clear_output();
    ASSERT_EQ(act(show, {}, shown), returned(0));
    EXPECT_EQ(page(), "menu=Category,Priority^@Record^@Category^@Priority^$\n");
    // A pick holding row markers stays one column.
    clear_output();
    ASSERT_EQ(act(save, {{"mm_" + form + ".VALUE", "Cat^$egory,Pri^@ority"}}), returned(0));
    EXPECT_EQ(read("client/config/tk_obj"), tk_ + object(stored, "Cat$egory^@Pri@ority^$"));
    expect_refusals({{save, {}, "Missing " + form + " name object\n"}});
  }
}

TEST_F(GeneralSettings, DateFormatAndStatusNames) {
  struct Case {
    std::string show, save, key, fallback;
  } cases[] = {
      {"InternationalDateFormat", "mod_format", "dateformat", "mdy"},
      {"StatusOpen", "mod_openstatus", "open_state", "Open"},
      {"StatusAssigned", "mod_assignedstatus", "assigned_state", "Assigned"},
      {"", "mod_closedstatus", "closed_state", "Closed"},
      {"StatusNonClosed", "mod_nonclosedstatus", "nonclosed_states", "Assigned,Open,Pending"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.save);
    write("client/config/tk_obj", tk_);
    const std::string shown = "v=FB{" + c.key + ".VALUE}FE";
    if (!c.show.empty()) {
      // The show puts the default where the form finds it, and saves nothing.
      auto before = content();
      clear_output();
      ASSERT_EQ(act(c.show, {}, shown), returned(0));
      EXPECT_EQ(page(), "v=" + c.fallback + "\n");
      EXPECT_EQ(content(), before);
    }
    // An empty form value stores the default; a value is stored as sent.
    clear_output();
    ASSERT_EQ(act(c.save, {}, shown), returned(0));
    EXPECT_EQ(read("client/config/tk_obj"), tk_ + object(c.key, c.fallback));
    clear_output();
    ASSERT_EQ(act(c.save, {{c.key + ".VALUE", "New"}}, shown), returned(0));
    EXPECT_EQ(page(), "v=New\n");
    EXPECT_EQ(read("client/config/tk_obj"), tk_ + object(c.key, "New"));
    if (!c.show.empty()) {
      // A stored value is shown unchanged.
      clear_output();
      ASSERT_EQ(act(c.show, {}, shown), returned(0));
      EXPECT_EQ(page(), "v=New\n");
    }
  }
}

TEST_F(GeneralSettings, Colours) {
  write("client/kivhtml/admin/bar.html", "<div style=\"#header\">\n");
  for (const char* show : {"setupcolortop", "setupcolorbottom"}) {
    clear_output();
    ASSERT_EQ(act(show, {}, "c=FB{admin_color.VALUE}FE"), returned(0));
    EXPECT_EQ(page(), "c=#1f4e79\n");
  }
  struct Case {
    std::string typed, scheme, bar;
  } good[] = {
      {"#aa3300", "header-aa3300^$", "aa3300"},
      {"AA3300", "header-AA3300^$", "AA3300"},
      {"header-aa3300^@footer_2-00ff00^$", "header-aa3300^@footer_2-00ff00^$", "aa3300"},
  };
  for (const Case& c : good) {
    SCOPED_TRACE(c.typed);
    write("client/config/tk_obj", tk_);
    write("client/config/ce_obj", ce_);
    const size_t saved = backups().size();
    clear_output();
    ASSERT_EQ(act("Change Color", {{"admin_color.VALUE", c.typed}}), returned(0));
    EXPECT_EQ(read("client/config/tk_obj"), replaced("header-1f4e79^$", c.scheme));
    EXPECT_EQ(read("client/config/ce_obj"), ce_ + object("color_scheme", c.scheme));
    EXPECT_EQ(backups().size(), saved + 2);
    // Every page's bar takes it through the colour marker.
    reset_admin();
    clear_output();
    ASSERT_EQ(run("Nonsense", nullptr, "bar.html"), returned(0));
    EXPECT_EQ(page(), "<div style=\"#" + c.bar + "\">\n");
  }
  write("client/config/tk_obj", tk_);
  write("client/config/ce_obj", ce_);
  std::vector<std::tuple<std::string, Fields, std::string>> refusals = {
      {"Change Color", {}, "Color values is blank\n"}};
  for (std::string bad : {"\"><b>", "#12345", "red", "#aa3300x", "##aa3300", "aa 330", "header-aa33^$",
                          "x y-aa3300^$", "header-aa3300^$footer-bb3300^$", "header-aa3300^@^$",
                          "header-aa3300", "$"})
    refusals.emplace_back("Change Color", Fields{{"admin_color.VALUE", bad}},
                          "Bad color value '" + data2brows(bad) + "'\n");
  expect_refusals(refusals);

  // A stored scheme without "-" in its first column.
  tk_ = replaced("header-1f4e79^$", "blue^$");
  write("client/config/tk_obj", tk_);
  expect_refusals({{"Change Color", {{"admin_color.VALUE", "aa3300"}}, "Bad color scheme 'blue^$'\n"},
                   {"setupcolortop", {}, "Bad color scheme 'blue^$'\n"}});
  // Without a stored scheme the colour changes nothing (both files saved as
  // they were).
  tk_ = kConnection;
  write("client/config/tk_obj", tk_);
  clear_output();
  ASSERT_EQ(act("Change Color", {{"admin_color.VALUE", "aa3300"}}), returned(0));
  EXPECT_EQ(read("client/config/tk_obj"), tk_);
  EXPECT_EQ(read("client/config/ce_obj"), ce_);
}

TEST_F(GeneralSettings, TheSecurityPageNeedsTheLoginConfiguration) {
  expect_refusals({{"Security Settings", {},
                    "Cannot open file '" + path("client/config/login_config") + "' for reading. errno=2\n"}});
  write("client/config/login_config", "up.cgi_REG=self\nup.cgi_AUTH=NONE\n");
  clear_output();
  ASSERT_EQ(act("Security Settings", {}, "MB{admin_alldbfields.VALUE}ME"), returned(0));
  EXPECT_EQ(page(),
            "securityscript_name^@securityscript_auth^@security_script_reg^@security_script_filename^$"
            "category^@Category^@MENU^@Yes^$priority^@Priority^@TEXT^@No^$problem^@*^@TEXT^@No^$\n");
}

TEST_F(GeneralSettings, Paths) {
  // Nothing sent: saved unchanged (with a backup).
  ASSERT_EQ(act("mod_paths", {}), returned(0));
  EXPECT_EQ(read("client/config/tk_obj"), tk_);
  EXPECT_EQ(backups().size(), 1u);
  Fields all;
  std::string saved = tk_;
  for (const char* key : {"company_name_macro", "startup_logo", "company_font_color", "helpemail", "faqdir",
                          "picsdir", "helpdir", "startpage", "resources", "javaclasses", "link_program",
                          "s_link_program", "s_chart_program"}) {
    all.emplace_back(std::string(key) + ".VALUE", std::string("/") + key);
    saved += object(key, std::string("/") + key);
  }
  all.emplace_back("odbc_pass.VALUE", "not a path");
  clear_output();
  ASSERT_EQ(act("mod_paths", all), returned(0));
  EXPECT_EQ(read("client/config/tk_obj"), saved);
  // An empty value keeps the stored one.
  clear_output();
  ASSERT_EQ(act("mod_paths", {{"helpdir.VALUE", ""}, {"faqdir.VALUE", "/faq2"}}), returned(0));
  std::string again = saved;
  again.replace(again.find("VALUE=/faqdir"), 13, "VALUE=/faq2");
  EXPECT_EQ(read("client/config/tk_obj"), again);
}

TEST_F(GeneralSettings, GeneralMailSettings) {
  const Fields mail = {{"mail_notification.VALUE", "ON"},      {"smtp_option.VALUE", "rfc821"},
                       {"mail_smtp_host.VALUE", "mail.example"}, {"mail_sender_login.VALUE", "helpdesk"},
                       {"mailmsg_subject.VALUE", "Case {case_num}\r\nchanged"},
                       {"mailmsg_body.VALUE", "Hello,\r\n\r\ncase {case_num} changed.\r\n"}};
  ASSERT_EQ(act("mod_mailgeneral", mail), returned(0));
  const std::string saved = tk_ + object("mail_notification", "ON") + object("smtp_option", "rfc821") +
                            object("mail_smtp_host", "mail.example") + object("mail_sender_login", "helpdesk") +
                            block({{"NAME", "mailmsg_subject"}, {"TITLE", "Case {case_num} changed"}}) +
                            block({{"NAME", "mailmsg_body"},
                                   {"TITLE", "Hello,{n}\\\n{n}\\\ncase {case_num} changed.{n}"}});
  EXPECT_EQ(read("client/config/tk_obj"), saved);

  // The show gives the body back as lines, the subject as stored.
  reset_admin();
  clear_output();
  ASSERT_EQ(act("MailNotificationGeneral", {},
                "s=FB{mailmsg_subject.VALUE}FE o=FB{smtp_option.VALUE}FE b=[MB{mailmsg_body.VALUE}ME]"),
            returned(0));
  EXPECT_EQ(page(), "s=Case {case_num} changed o=rfc821 b=[Hello,\n\ncase {case_num} changed.\n]\n");

  // Any option but rfc821 clears it; the show then offers OFF.
  Fields off = mail;
  off[1].second = "OFF";
  clear_output();
  ASSERT_EQ(act("mod_mailgeneral", off), returned(0));
  EXPECT_EQ(read("client/config/tk_obj").find("rfc821"), std::string::npos);
  clear_output();
  ASSERT_EQ(act("MailNotificationGeneral", {}, "o=FB{smtp_option.VALUE}FE"), returned(0));
  EXPECT_EQ(page(), "o=OFF\n");

  std::vector<std::tuple<std::string, Fields, std::string>> refusals;
  const char* messages[] = {"Missing mail_notification name object\n", "Missing smtp_option name object\n",
                            "Missing mail_smtp_host name object\n", "Missing mail_sender_login name object\n",
                            "Missing mailmsg_subject name object\n", "Missing mailmsg_body name object\n"};
  for (size_t i = 0; i < mail.size(); ++i) {
    Fields f = mail;
    f[i].second = "";
    refusals.emplace_back("mod_mailgeneral", f, messages[i]);
  }
  expect_refusals(refusals);
}

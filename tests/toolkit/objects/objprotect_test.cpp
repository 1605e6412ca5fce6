// The protected configuration: hostile request variables reach no hook,
// connection, query, path, rule or switch object, and no attribute but
// VALUE; field values and form controls still arrive; the state file's
// values are configuration; the administration's list keeps the full copy.
#include <gtest/gtest.h>

#include "support/testsupport.h"
#include "toolkit/base/kivcontext.h"
#include "toolkit/request/kivexfile.h"
#include "toolkit/objects/kivobj.h"
#include "toolkit/objects/kivobjfile.h"
#include "toolkit/objects/objprotect.h"

using namespace kiv;

namespace {

const char* kConfig =
    "OBJECT{\n\tNAME=tk_pre_add\n\tVALUE=OFF\n\tTITLE=/usr/local/bin/check\n};\n"
    "OBJECT{\n\tNAME=db_table_name\n\tVALUE=cases\n};\n"
    "OBJECT{\n\tNAME=sqlquery1\n\tVALUE=query_open\n};\n"
    "OBJECT{\n\tNAME=query_open\n\tVALUE=open_cases=select * from cases\n};\n"
    "OBJECT{\n\tNAME=problem\n\tDBKEY=problem\n\tTITLE=Problem\n};\n"
    "OBJECT{\n\tNAME=status\n\tDBKEY=status\n\tTYPE=MENU\n\tVALUE=Open^@Closed^$\n};\n"
    "OBJECT{\n\tNAME=attach_control\n\tVALUE=OFF\n};\n";

class Protect : public kivtest::KivTest {
 protected:
  void SetUp() override {
    KivTest::SetUp();
    list_ = readkivobj(kConfig);
  }
  void form(const char* name, const char* value) {
    addexdatanode(&req_, formexdatanode(name, value, ExSource::form));
  }
  void state(const char* name, const char* value) {
    exdata n = formexdatanode(name, value, ExSource::statefile);
    if (req_.empty())
      req_.nodes.push_back(n);
    else
      addexdatanode(&req_, n);
  }
  std::optional<std::string> get(std::string_view key) { return getvalfromlist(*list_, key); }
  exlist req_;
  std::unique_ptr<objlist> list_;
};

}  // namespace

TEST(ProtectedObjects, KindsOfConfiguration) {
  struct Case {
    const char* name;
    bool protect;
  } cases[] = {
      {"tk_pre_add", true},          {"tk_post_modify", true},     {"db_table_name", true},
      {"dbserver_hostname", true},   {"odbc_pass", true},          {"sql_control", true},
      {"join_condition", true},      {"sqlquery7", true},          {"query_open", true},
      {"libdir", true},              {"attachdir", true},          {"error_template", true},
      {"reports", true},             {"maillist_a^$:1", true},     {"autoassign_x:2", true},
      {"workflow_control", true},    {"attach_control", true},     {"_cal_control", true},
      {"allow_modify", true},        {"mail_smtp_host", true},     {"others_e_mail", true},
      {"tkemaild_pop_password", true}, {"bc_printer_port", true},  {"bc_save_file", true},
      {"category-prefix", true},     {"case_num-picture", true},   {"XXXheadlistXXXX", true},
      {"open_state", true},          {"dateformat", true},         {"smtp_option", true},
      {"enforce_fields", true},      {"enforce_on_profile", true}, {"date_closed_flag", true},
      {"bc_submit_default_keys", true}, {"attachment_max_per_request", true},
      // field objects and the controls pages post
      {"problem", false},            {"status", false},            {"assigned_to", false},
      {"hidedatafile", false},       {"row2form_rec", false},      {"select_range", false},
      {"sort_titles1_menu", false},  {"reports_menu", false},      {"bc_label", false},
      {"bc_label_qnt", false},       {"sub_e_mail", false},        {"_cal_date", false},
      {"smshost", false},            {"question:problem1", false}, {"controls", false},
  };
  for (const Case& c : cases) EXPECT_EQ(protected_object(c.name), c.protect) << c.name;
}

TEST(ProtectedObjects, OnlyValueAndOnlyConfiguredQueryMacros) {
  EXPECT_TRUE(request_may_set("problem.VALUE", "x"));
  EXPECT_TRUE(request_may_set("problem", "x"));
  EXPECT_FALSE(request_may_set("problem.TITLE", "x"));
  EXPECT_FALSE(request_may_set("problem.NAME", "tk_pre_add"));
  EXPECT_FALSE(request_may_set("problem.DBKEY", "password"));
  EXPECT_FALSE(request_may_set("problem.", "x"));
  EXPECT_FALSE(request_may_set("problem.VALUE.TITLE", "x"));
  EXPECT_TRUE(request_may_set("sqlquery2.VALUE", "query_open"));
  EXPECT_FALSE(request_may_set("sqlquery2.VALUE", "d=delete from cases"));
  EXPECT_FALSE(request_may_set("sqlquery2.TITLE", "query_open"));
  EXPECT_FALSE(request_may_set("query_open.VALUE", "d=delete from cases"));
}

TEST_F(Protect, HostileRequestChangesNoConfiguration) {
  reqctx().kivdebug = 1;  // skipped variables are traced into the page
  form("tk_pre_add.VALUE", "ON");
  form("tk_pre_add.TITLE", "rm -rf /");
  form("tk_post_add", "ON");  // a hook the configuration lacks is not created
  form("db_table_name.VALUE", "users");
  form("sqlquery1.VALUE", "d=delete from cases");
  form("query_open.VALUE", "d=drop table cases");
  form("problem.NAME", "tk_pre_modify");
  form("problem.DBKEY", "password");
  form("status.TITLE", "<script>");
  form("attach_control.VALUE", "ON");
  form("maillist_status^$:1.TITLE", "evil@example.com");
  form("libdir.VALUE", "/etc");
  form("XXXheadlistXXXX.VALUE", "x");
  EXPECT_EQ(ex2obj(req_, *list_), 0);

  EXPECT_EQ(get("tk_pre_add.VALUE"), "OFF");
  EXPECT_EQ(get("tk_pre_add.TITLE"), "/usr/local/bin/check");
  EXPECT_EQ(get("tk_post_add.VALUE"), std::nullopt);
  EXPECT_EQ(get("db_table_name.VALUE"), "cases");
  EXPECT_EQ(get("sqlquery1.VALUE"), "query_open");
  EXPECT_EQ(get("query_open.VALUE"), "open_cases=select * from cases");
  EXPECT_EQ(get("problem.DBKEY"), "problem");
  EXPECT_EQ(get("tk_pre_modify.NAME"), std::nullopt);
  EXPECT_EQ(get("status.TITLE"), std::nullopt);
  EXPECT_EQ(get("attach_control.VALUE"), "OFF");
  EXPECT_EQ(get("maillist_status^$:1.TITLE"), std::nullopt);
  EXPECT_EQ(get("libdir.VALUE"), std::nullopt);
  EXPECT_EQ(get("XXXheadlistXXXX.VALUE"), std::nullopt);
  EXPECT_EQ(list_->size(), 8u);  // nothing was created
  EXPECT_NE(page().find("request variable 'tk_pre_add.TITLE' may not set a configured object"),
            std::string::npos);
}

TEST_F(Protect, FieldValuesAndFormControlsArrive) {
  form("problem.VALUE", "printer jams");
  form("status.VALUE", "Closed");
  form("hidedatafile.VALUE", "/home/tmp/tmp_datafile.1.2");
  form("assigned_to", "ann");
  form("sqlquery2.VALUE", "query_open");  // a page choosing a configured macro
  form("problem.VALUE", "");              // an empty form value does not replace
  EXPECT_EQ(ex2obj(req_, *list_), 0);
  EXPECT_EQ(get("problem.VALUE"), "printer jams");
  EXPECT_EQ(get("status.VALUE"), "Closed");
  EXPECT_EQ(get("hidedatafile.VALUE"), "/home/tmp/tmp_datafile.1.2");
  EXPECT_EQ(get("assigned_to.VALUE"), "ann");
  EXPECT_EQ(get("sqlquery2.VALUE"), "query_open");
}

TEST_F(Protect, StateFileValuesAreConfiguration) {
  state("db_table_name.VALUE", "archive");
  state("attach_control.VALUE", "ON");
  form("attach_control.VALUE", "OFF");  // a form value over a state-file entry
  EXPECT_EQ(ex2obj(req_, *list_), 0);
  EXPECT_EQ(get("db_table_name.VALUE"), "archive");
  EXPECT_EQ(get("attach_control.VALUE"), "ON");  // the state file's value, not the form's
}

TEST_F(Protect, StartupEntriesAreConfiguration) {
  // The start-up puts the user's groups into the object the state file's
  // GROUP names, whatever that object is.
  addexdatanode(&req_, formexdatanode("allow_modify.VALUE", "staff", ExSource::startup));
  form("tk_pre_add.VALUE", "ON");
  ex2obj(req_, *list_);
  EXPECT_EQ(get("allow_modify.VALUE"), "staff");
  EXPECT_EQ(get("tk_pre_add.VALUE"), "OFF");
}

TEST_F(Protect, OnlyTheStartUpGivesTheUsersGroups) {
  // The state file names the group object; a form claiming groups is
  // skipped, with or without the point, and whatever else it posts.
  state("GROUP", "usergroup");
  form("usergroup.VALUE", "admins");
  form("mm_usergroup", "admins");
  form("problem.VALUE", "printer jams");
  ex2obj(req_, *list_);
  castex2obj(req_, *list_);
  EXPECT_EQ(get("usergroup.VALUE"), std::nullopt);
  EXPECT_EQ(get("problem.VALUE"), "printer jams");

  exlist req;
  req.nodes.push_back(formexdatanode("GROUP", "usergroup", ExSource::statefile));
  addexdatanode(&req, formexdatanode("usergroup.VALUE", "staff", ExSource::startup));
  ex2obj(req, *list_);
  EXPECT_EQ(get("usergroup.VALUE"), "staff");
}

TEST_F(Protect, CastCopyIsCheckedToo) {
  form("status.VALUE", "Closed");
  form("attach_control.VALUE", "ON");
  form("tk_pre_add.TITLE", "rm -rf /");
  EXPECT_EQ(castex2obj(req_, *list_), 0);
  EXPECT_EQ(get("status.VALUE"), "Closed^@Open^@Closed^$");
  EXPECT_EQ(get("attach_control.VALUE"), "OFF");
  EXPECT_EQ(get("tk_pre_add.TITLE"), "/usr/local/bin/check");
}

TEST_F(Protect, AdministrationListTakesEverything) {
  form("tk_pre_add.TITLE", "/usr/local/bin/other");
  form("attach_control.VALUE", "ON");
  EXPECT_EQ(ex2obj(req_, *list_, ExCopy::full), 0);
  EXPECT_EQ(get("tk_pre_add.TITLE"), "/usr/local/bin/other");
  EXPECT_EQ(get("attach_control.VALUE"), "ON");
}

// What a copy puts onto the objects is marked as the request's when the form
// supplied it, so that pages escape it; the state file's and the start-up's
// values, and a state-file value standing in for a refused form value, are
// configuration.
TEST_F(Protect, CopiesMarkWhatTheFormSupplied) {
  state("db_table_name.VALUE", "archive");
  state("attach_control.VALUE", "ON");
  form("attach_control.VALUE", "OFF");  // refused: the state file's value stands
  state("page_title.VALUE", "<b>Help desk</b>");
  state("subject.VALUE", "default");
  form("subject.VALUE", "typed");  // a field the form may set over the state file
  form("problem.VALUE", "<b>jam</b>");
  addexdatanode(&req_, formexdatanode("allow_modify.VALUE", "staff", ExSource::startup));
  // The login the start-up adds is a person's chosen name: request text.
  addexdatanode(&req_, formexdatanode("nv_remote_user", "x'onfocus='alert(1)", ExSource::startup));
  ex2obj(req_, *list_);
  auto marked = [&](const char* key) {
    std::optional<attrview> v = getattrfromlist(*list_, key);
    EXPECT_TRUE(v) << key;
    return v && v->marked();
  };
  for (const char* key : {"db_table_name.VALUE", "attach_control.VALUE", "page_title.VALUE", "allow_modify.VALUE",
                          "tk_pre_add.VALUE"})
    EXPECT_FALSE(marked(key)) << key;
  EXPECT_TRUE(marked("subject.VALUE"));
  EXPECT_TRUE(marked("problem.VALUE"));
  EXPECT_EQ(getattrfromlist(*list_, "problem.VALUE")->origin, Origin::request);
  EXPECT_TRUE(marked("nv_remote_user.VALUE"));

  // A cast marks the menu it puts the choice in front of; the
  // administration's copy marks the form's values as well.
  exlist cast;
  cast.nodes.push_back(formexdatanode("status.VALUE", "Closed"));
  cast.nodes.push_back(formexdatanode("tk_pre_add.TITLE", "/usr/local/bin/other"));
  castex2obj(cast, *list_);
  EXPECT_TRUE(marked("status.VALUE"));
  EXPECT_FALSE(marked("tk_pre_add.TITLE"));  // refused, left as configured
  ex2obj(cast, *list_, ExCopy::full);
  EXPECT_TRUE(marked("tk_pre_add.TITLE"));
}

TEST_F(Protect, ObjectsTheConfigurationPointsAtAreConfiguration) {
  auto config = readkivobj(
      "OBJECT{\n\tNAME=sql_control\n\tVALUE=open_query\n};\n"
      "OBJECT{\n\tNAME=open_query\n\tVALUE=a.id=b.id\n\tCONTROL=cases a, notes b\n};\n"
      "OBJECT{\n\tNAME=smscontrol\n\tVALUE=inventory\n};\n"
      "OBJECT{\n\tNAME=inventory\n\tVALUE=SMS:reader:pw\n};\n"
      "OBJECT{\n\tNAME=auto_match\n\tVALUE=match1\n};\n");
  EXPECT_TRUE(protected_object("open_query", config.get()));
  EXPECT_FALSE(protected_object("open_query"));  // only known through the list
  form("open_query.VALUE", "1=1 or 1");
  form("inventory.VALUE", "OTHER:sa:");
  form("match1.VALUE", "assigned_to=submitted_by");
  form("sql_control.VALUE", "problem");
  ex2obj(req_, *config);
  EXPECT_EQ(getvalfromlist(*config, "open_query.VALUE"), "a.id=b.id");
  EXPECT_EQ(getvalfromlist(*config, "inventory.VALUE"), "SMS:reader:pw");
  EXPECT_EQ(getvalfromlist(*config, "match1.VALUE"), std::nullopt);
  EXPECT_EQ(getvalfromlist(*config, "sql_control.VALUE"), "open_query");
}

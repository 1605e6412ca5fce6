// The field settings pages through the frame, over a case table of their own:
// fields added, modified and deleted as tk_obj's exact bytes; a menu keeping
// its selected item; dynamic menus; every refusal writing nothing (names the
// editor may not create, objects that are no field, a missing column); the
// column check on both ODBC roads; the field list and the modify form.
#include <set>

#include "admintest.h"
#include "admin/upadmin_fields.h"
#include "tests/data/dbroad.h"
#include "toolkit/text/rowcol.h"

using namespace kiv;
using namespace admintest;
using kivtest::Road;

namespace {

class FieldTest : public AdminFixture<kivtest::DbRoadTest>, public ::testing::WithParamInterface<Road> {
 protected:
  FieldTest() : AdminFixture(GetParam()) {}

  void SetUp() override {
    AdminFixture::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    exec("create table cases (id_num integer, case_num varchar(40), category varchar(40), room varchar(80))");
    tk_ = connection("cases") + kFields;
    write("client/config/tk_obj", tk_);
    write("client/kivhtml/admin/fields.html", "fields=MB{admin_alldbfields.VALUE}ME\n");
    write("client/kivhtml/admin/database/mod_flat_field.html",
          "flat name=FB{dbkey_name.VALUE}FE title=FB{dbkey_title.VALUE}FE enforce=FB{enforce.VALUE}FE\n");
    write("client/kivhtml/admin/database/mod_menu_field.html",
          "menu name=FB{dbkey_name.VALUE}FE title=FB{dbkey_title.VALUE}FE enforce=FB{enforce.VALUE}FE "
          "value=[FB{dbkey_value.VALUE}FE]\n");
  }

  std::string connection(const std::string& table) const {
    return block({{"NAME", "dbserver_hostname"}, {"VALUE", "localhost"}}) +
           block({{"NAME", "network_timeout"}, {"VALUE", "30"}}) + block({{"NAME", "db_name"}, {"VALUE", dsn_}}) +
           block({{"NAME", "db_table_name"}, {"VALUE", table}});
  }

  Ended field(const std::string& word, const std::vector<std::pair<std::string, std::string>>& fields,
              const std::string& templ = "fields.html") {
    exlist request = form_of(fields);
    return run(word, &request, templ);
  }

  // The tree without the lock files a writing row leaves.
  std::map<std::string, std::string> content() const {
    auto t = tree();
    std::erase_if(t, [](const auto& kv) { return kv.first.ends_with(".lock"); });
    return t;
  }

  static inline const std::string kFields =
      block({{"NAME", "id_num"}, {"DBKEY", "id_num"}, {"TITLE", "Record"}}) +
      block({{"NAME", "case_num"}, {"DBKEY", "case_num"}}) +
      block({{"NAME", "category"}, {"VALUE", "Other^@Hardware^@Other^$"}, {"DBKEY", "category"}, {"TYPE", "MENU"},
             {"ENFORCE", "1"}, {"TITLE", "Category"}}) +
      block({{"NAME", "tk_pre_add"}, {"VALUE", "OFF"}, {"TITLE", "/usr/local/bin/check"}}) +
      block({{"NAME", "dynamic-menu_category"}, {"VALUE", "Hardware^@Printer^$"}});
  std::string tk_;
};

class Fields : public FieldTest {};
class FieldColumns : public FieldTest {};

}  // namespace

// Added and modified fields as tk_obj holds them afterwards, byte for byte.
TEST_P(Fields, AddAndModifyWriteTheFieldsExactly) {
  ASSERT_EQ(field("add_flat_field", {{"dbkey_name.VALUE", "room"}, {"dbkey_title.VALUE", "Room"},
                                     {"enforce.VALUE", "1"}}),
            returned(0));
  std::string tk = tk_ + block({{"NAME", "room"}, {"DBKEY", "room"}, {"ENFORCE", "1"}, {"TITLE", "Room"}});
  EXPECT_EQ(read("client/config/tk_obj"), tk);
  EXPECT_EQ(backups().size(), 1u);

  // A modify without the enforce value keeps the field's ENFORCE; the page
  // lists the fields.
  clear_output();
  ASSERT_EQ(field("mod_flat_field", {{"dbkey_name.VALUE", "room"}, {"dbkey_title.VALUE", "Room number"}}),
            returned(0));
  tk = tk_ + block({{"NAME", "room"}, {"DBKEY", "room"}, {"ENFORCE", "1"}, {"TITLE", "Room number"}});
  EXPECT_EQ(read("client/config/tk_obj"), tk);
  EXPECT_EQ(page(),
            "fields=name^@title^@type^@enforce^$case_num^@*^@TEXT^@No^$category^@Category^@MENU^@Yes^$"
            "dynamic-menu_category^@*^@DYNAMIC^@No^$room^@Room number^@TEXT^@Yes^$\n");

  // A menu's choices, one a line as a browser sends them (CR LF), behind an
  // empty selection; a modify keeps the selected item while it is a choice.
  exec("alter table cases add column floor varchar(8)");
  clear_output();
  ASSERT_EQ(field("add_menu_field", {{"dbkey_name.VALUE", "floor"}, {"dbkey_title.VALUE", "Floor"},
                                     {"dbkey_value.VALUE", "Ground\r\nFirst\r\n\r\nSecond\r\n"}}),
            returned(0));
  tk += block({{"NAME", "floor"}, {"VALUE", "^^^@Ground^@First^@Second^$"}, {"DBKEY", "floor"}, {"TYPE", "MENU"},
               {"TITLE", "Floor"}});
  EXPECT_EQ(read("client/config/tk_obj"), tk);

  struct Menu {
    std::string choices, value;
  } menus[] = {
      {"Hardware\r\nOther\r\nPrinters", "Other^@Hardware^@Other^@Printers^$"},
      {"Hardware\nPrinters", "^^^@Hardware^@Printers^$"},
  };
  for (const Menu& m : menus) {
    SCOPED_TRACE(m.choices);
    const std::string before = read("client/config/tk_obj");
    clear_output();
    ASSERT_EQ(field("mod_menu_field", {{"dbkey_name.VALUE", "category"}, {"dbkey_title.VALUE", "Category"},
                                       {"dbkey_value.VALUE", m.choices}}),
              returned(0));
    std::string expect = before;
    const std::string old_value = expect.substr(expect.find("\tVALUE=", expect.find("NAME=category")));
    expect.replace(expect.find("\tVALUE=", expect.find("NAME=category")), old_value.find('\n') + 1,
                   "\tVALUE=" + m.value + "\n");
    EXPECT_EQ(read("client/config/tk_obj"), expect);
  }
}

// A dynamic menu gets NAME and VALUE (its rows, "***" opening each) but no
// DBKEY, TYPE or ENFORCE, needs no title and no column.
TEST_P(Fields, DynamicMenusKeepToNameAndRows) {
  ASSERT_EQ(field("add_menu_field", {{"dbkey_name.VALUE", "dynamic-menu_room"}, {"enforce.VALUE", "1"},
                                     {"dbkey_value.VALUE", "***Ground\nKitchen\nHall\n***First\nLab"}}),
            returned(0));
  EXPECT_EQ(read("client/config/tk_obj"),
            tk_ + block({{"NAME", "dynamic-menu_room"}, {"VALUE", "Ground^@Kitchen^@Hall^$First^@Lab^$"}}));
  // Its modify form shows the rows again.
  clear_output();
  EXPECT_EQ(field("modfield", {{"dbkey_name.VALUE", "dynamic-menu_room"}}), returned(0));
  EXPECT_EQ(page(),
            "menu name=dynamic-menu_room title= enforce=0 "
            "value=[***Ground&#10;Kitchen&#10;Hall&#10;***First&#10;Lab]\n");
}

// Every refusal ends with status 0 and its message, before anything is
// written.
TEST_P(Fields, RefusalsWriteNothing) {
  using F = std::vector<std::pair<std::string, std::string>>;
  const F titled = {{"dbkey_title.VALUE", "T"}, {"dbkey_value.VALUE", "a\nb"}};
  auto named = [&](const std::string& name) {
    F f = titled;
    f.emplace_back("dbkey_name.VALUE", name);
    return f;
  };
  struct Case {
    std::string word;
    F fields;
    std::string message;
  } cases[] = {
      {"add_flat_field", {{"dbkey_title.VALUE", "T"}}, "Missing field name object\n"},
      {"add_menu_field", {}, "Missing field name object\n"},
      {"mod_flat_field", {}, "Missing field name object\n"},
      {"add_flat_field", named("category"), "field 'category' already exists. add field faild\n"},
      {"add_menu_field", named("tk_pre_add"), "field 'tk_pre_add' already exists. add field faild\n"},
      {"add_flat_field", {{"dbkey_name.VALUE", "room"}}, "Missing field title object\n"},
      {"add_menu_field", {{"dbkey_name.VALUE", "room"}, {"dbkey_value.VALUE", "a"}}, "Missing field title object\n"},
      {"add_menu_field", {{"dbkey_name.VALUE", "room"}, {"dbkey_title.VALUE", "T"}}, "Missing field title object\n"},
      {"add_menu_field", {{"dbkey_name.VALUE", "room"}, {"dbkey_title.VALUE", "T"}, {"dbkey_value.VALUE", " \n "}},
       "Missing field title object\n"},
      {"add_menu_field", {{"dbkey_name.VALUE", "dynamic-menu_room"}}, "Missing field title object\n"},
      // Settings, hooks and dynamic menus are no plain fields to modify.
      {"mod_flat_field", named("tk_pre_add"), "'tk_pre_add' is not a field\n"},
      {"mod_menu_field", named("tk_pre_add"), "'tk_pre_add' is not a field\n"},
      {"mod_flat_field", named("dynamic-menu_category"), "'dynamic-menu_category' is not a field\n"},
      // A field without its column, also one a modify would create.
      {"add_flat_field", named("nosuch"), "Field 'nosuch' has no column in the table 'cases'. Add the column to "
                                          "the database first.\n"},
      {"mod_menu_field", named("nosuch"), "Field 'nosuch' has no column in the table 'cases'. Add the column to "
                                          "the database first.\n"},
  };
  auto before = content();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.word + " / " + c.message);
    clear_output();
    EXPECT_EQ(field(c.word, c.fields), exited(0));
    EXPECT_EQ(page(), "<PRE>\n" + c.message + "</PRE>\n");
    EXPECT_EQ(content(), before);
  }
}

// A name the editor creates becomes an object name, a column and a part of
// rule names: a lower-case letter, then lower-case letters, digits or "_",
// at most 63; a dynamic menu's "dynamic-menu_" and such characters.
TEST_P(Fields, NamesTheEditorMayCreate) {
  const std::string longest(63, 'r');
  struct Case {
    std::string name;
    bool flat_ok, menu_ok;
  } cases[] = {
      {"room", true, true},     {"room_2", true, true},       {longest, true, true},
      {longest + "r", false, false}, {"Room", false, false},  {"2room", false, false},
      {"_room", false, false},  {"room.no", false, false},    {"room^@x", false, false},
      {"rule:1", false, false}, {"room no", false, false},    {"r\xc3\xa9sum\xc3\xa9", false, false},
      {"room-no", false, false}, {"dynamic-menu_room", false, true}, {"dynamic-menu_", false, false},
      {"dynamic-menu_Room", false, false}, {"dynamic-menux", false, false},
  };
  std::set<std::string> columns = {"room"};
  for (const Case& c : cases) {
    for (bool menu : {false, true}) {
      SCOPED_TRACE(c.name + (menu ? " as a menu" : " as a plain field"));
      bool ok = menu ? c.menu_ok : c.flat_ok;
      if (ok && !c.name.starts_with("dynamic") && columns.insert(c.name).second)
        exec("alter table cases add column " + c.name + " varchar(8)");
      clear_output();
      Ended e = field(menu ? "mod_menu_field" : "add_flat_field",
                      {{"dbkey_name.VALUE", c.name}, {"dbkey_title.VALUE", "T"}, {"dbkey_value.VALUE", "a\nb"}});
      if (ok) {
        EXPECT_EQ(e, returned(0)) << page();
        ASSERT_NE(admin().tk_obj->find(c.name), nullptr);
        field("delfield", {{"dbkey_name.VALUE", c.name}});
      } else {
        EXPECT_EQ(e, exited(0));
        EXPECT_EQ(page(), "<PRE>\nBad field name '" + c.name + "'\n</PRE>\n");
      }
    }
  }
}

// The column check describes the case table through the road's driver: a
// column present, one missing, a table that cannot be described.
TEST_P(FieldColumns, ANewFieldNeedsItsColumn) {
  ASSERT_EQ(field("add_flat_field", {{"dbkey_name.VALUE", "room"}, {"dbkey_title.VALUE", "Room"}}), returned(0));
  EXPECT_NE(admin().tk_obj->find("room"), nullptr);

  auto before = content();
  clear_output();
  EXPECT_EQ(field("add_menu_field", {{"dbkey_name.VALUE", "floor"}, {"dbkey_title.VALUE", "Floor"},
                                     {"dbkey_value.VALUE", "1\n2"}}),
            exited(0));
  EXPECT_NE(page().find("Field 'floor' has no column in the table 'cases'. Add the column to the database first.\n"),
            std::string::npos)
      << page();
  EXPECT_EQ(content(), before);

  write("client/config/tk_obj", connection("nosuchtable") + kFields);
  before = content();
  clear_output();
  EXPECT_EQ(field("add_flat_field", {{"dbkey_name.VALUE", "room"}, {"dbkey_title.VALUE", "Room"}}), exited(0));
  EXPECT_NE(page().find("<PRE>\nCannot read the columns of the table 'nosuchtable'\n</PRE>\n"), std::string::npos)
      << page();
  EXPECT_EQ(content(), before);

  // Without the connection objects nothing can be checked.
  write("client/config/tk_obj", kFields);
  before = content();
  clear_output();
  EXPECT_EQ(field("add_flat_field", {{"dbkey_name.VALUE", "room"}, {"dbkey_title.VALUE", "Room"}}), exited(0));
  EXPECT_EQ(page(), "<PRE>\nMissing dbhost name object\n</PRE>\n");
  EXPECT_EQ(content(), before);
}

// The field list leaves id_num out, shows "*" for a field without a title,
// "Yes"/"No" and TEXT for every type but MENU; a title holding row markers
// stays in its column. The plain list leaves the dynamic menus out.
TEST_P(Fields, TheFieldList) {
  write("client/config/tk_obj",
        tk_ + block({{"NAME", "odd"}, {"DBKEY", "odd"}, {"TYPE", "DATE"}, {"ENFORCE", "0"}, {"TITLE", "A^@B^$C^^"}}));
  ASSERT_EQ(field("List Fields", {}), returned(0));
  EXPECT_EQ(page(),
            "fields=name^@title^@type^@enforce^$case_num^@*^@TEXT^@No^$category^@Category^@MENU^@Yes^$"
            "dynamic-menu_category^@*^@DYNAMIC^@No^$odd^@A@B$C^^^@TEXT^@No^$\n");
  const std::string listed = objtext(*admin().tk_obj, "admin_alldbfields.VALUE");
  EXPECT_EQ(getrowcount(listed), 5);
  for (int r = 1; r <= 5; ++r) EXPECT_EQ(getcolcount(*getrow(listed, r)), 4) << r;
  listdbfields(0);
  EXPECT_EQ(objtext(*admin().tk_obj, "admin_alldbfields.VALUE").find("dynamic"),
            std::string::npos);
}

// The modify form of each kind of field, and of names that are no field.
TEST_P(Fields, TheModifyForm) {
  struct Case {
    std::string name;
    Ended ended;
    std::string page;
  } cases[] = {
      {"case_num", returned(0), "flat name=case_num title= enforce=0\n"},
      {"category", returned(0), "menu name=category title=Category enforce=1 value=[Hardware&#10;Other&#10;]\n"},
  };
  for (const Case& c : cases) {
    clear_output();
    EXPECT_EQ(field("modfield", {{"dbkey_name.VALUE", c.name}}), c.ended);
    EXPECT_EQ(page(), c.page);
  }
  // A name no field bears leaves the template empty: the page cannot be
  // opened.
  for (const char* name : {"nosuch", "tk_pre_add"}) {
    clear_output();
    EXPECT_EQ(field("modfield", {{"dbkey_name.VALUE", name}}), returned(1)) << name;
    EXPECT_TRUE(page().starts_with("Cannot open html template file")) << page();
    EXPECT_EQ(page().find("/usr/local/bin/check"), std::string::npos);
  }
  clear_output();
  EXPECT_EQ(field("modfield", {}), exited(0));
  EXPECT_EQ(page(), "<PRE>\nMissing field name object\n</PRE>\n");
}

// delfield removes a field; an unknown name, id_num and an object that is
// no field leave tk_obj as it was (saved again, with a backup).
TEST_P(Fields, DeleteRemovesOnlyFields) {
  ASSERT_EQ(field("delfield", {{"dbkey_name.VALUE", "case_num"}}), returned(0));
  std::string tk = tk_;
  tk.erase(tk.find(block({{"NAME", "case_num"}, {"DBKEY", "case_num"}})),
           block({{"NAME", "case_num"}, {"DBKEY", "case_num"}}).size());
  EXPECT_EQ(read("client/config/tk_obj"), tk);
  EXPECT_EQ(page().find("case_num"), std::string::npos);
  for (const char* name : {"nosuch", "id_num", "tk_pre_add"}) {
    clear_output();
    const size_t saved = backups().size();
    EXPECT_EQ(field("delfield", {{"dbkey_name.VALUE", name}}), returned(0)) << name;
    EXPECT_EQ(read("client/config/tk_obj"), tk) << name;
    EXPECT_EQ(backups().size(), saved + 1) << name;
  }
  ASSERT_EQ(field("delfield", {{"dbkey_name.VALUE", "dynamic-menu_category"}}), returned(0));
  EXPECT_EQ(read("client/config/tk_obj").find("dynamic"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(SQLite, Fields, ::testing::Values(Road::sqlite), kivtest::road_name);
INSTANTIATE_TEST_SUITE_P(Roads, FieldColumns, ::testing::Values(Road::sqlite, Road::postgres), kivtest::road_name);

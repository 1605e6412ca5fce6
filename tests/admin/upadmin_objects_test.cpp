// The object editor through the frame, over a tk_obj holding a plain field,
// a rule and its message object, two namesakes, an object without a VALUE
// and one with a "." in its name: one table of operations with tk_obj's
// exact bytes after each (a modified object keeps its place, a created one
// is last, namesakes all go); names the editor may not create; values an
// object file cannot keep; an object given a DBKEY passing the field
// editor's checks on the SQLite road; the password objects never in a page.
#include <functional>

#include "admintest.h"
#include "tests/data/dbroad.h"
#include "toolkit/base/kivfmt.h"

using namespace kiv;
using namespace admintest;
using kivtest::Road;

namespace {

using Fields = std::vector<std::pair<std::string, std::string>>;
using Blocks = std::vector<std::string>;

// The object form and the list, as the pages show them.
constexpr const char* kObjectPage =
    "list=MB{object_list.VALUE}ME\n"
    "name=FB{admin_name.VALUE}FE value=FB{admin_value.VALUE}FE dbkey=FB{admin_dbkey.VALUE}FE "
    "control=FB{admin_control.VALUE}FE type=FB{admin_type.VALUE}FE enforce=FB{admin_enforce.VALUE}FE "
    "title=FB{admin_title.VALUE}FE len=FB{admin_len.VALUE}FE help=FB{admin_help.VALUE}FE "
    "vtype=FB{admin_vtype.VALUE}FE\n";

// Where the objects stand in the fixture, after the four connection objects.
enum At : size_t { kCategory = 4, kRule, kMessage, kTwin1, kTwin2, kNoValue, kDotted };

class ObjectEditor : public AdminFixture<kivtest::DbRoadTest> {
 protected:
  ObjectEditor() : AdminFixture(Road::sqlite) {}

  void SetUp() override {
    AdminFixture::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    exec("create table cases (id_num integer, case_num varchar(40), category varchar(40), floor varchar(8))");
    blocks_ = {
        block({{"NAME", "dbserver_hostname"}, {"VALUE", "localhost"}}),
        block({{"NAME", "network_timeout"}, {"VALUE", "30"}}),
        block({{"NAME", "db_name"}, {"VALUE", dsn_}}),
        block({{"NAME", "db_table_name"}, {"VALUE", "cases"}}),
        block({{"NAME", "category"}, {"VALUE", "Other^@Hardware^@Other^$"}, {"DBKEY", "category"},
               {"TYPE", "MENU"}, {"VTYPE", "char"}, {"TITLE", "Category"}}),
        block({{"NAME", "maillist_category^$:1"}, {"VALUE", "Hardware^$"}, {"CONTROL", "message_category^$:1"},
               {"TITLE", "ann@example.org^$"}}),
        block({{"NAME", "message_category^$:1"}, {"CONTROL", "Case {case_num}"}, {"TITLE", "A case came in."}}),
        block({{"NAME", "twin"}, {"VALUE", "first"}}),
        block({{"NAME", "twin"}, {"VALUE", "second"}, {"TITLE", "Second"}}),
        block({{"NAME", "novalue"}, {"TITLE", "Only a title"}}),
        block({{"NAME", "a.b"}, {"VALUE", "dotted"}}),
    };
    write("client/kivhtml/admin/obj.html", kObjectPage);
  }

  static std::string join(const Blocks& b) {
    std::string s;
    for (const std::string& x : b) s += x;
    return s;
  }
  std::string fixture() const { return join(blocks_); }

  // Runs the word from the fixture as it was installed (nothing of an
  // earlier run left in the home's tmp).
  Ended fresh(const std::string& word, const Fields& fields) {
    write("client/config/tk_obj", fixture());
    for (const std::string& b : backups()) fs::remove(path("tmp/" + b));
    reset_admin();
    clear_output();
    exlist request = form_of(fields);
    return run(word, &request, "obj.html");
  }

  // The list line of a page over the fixture as it is after `b`.
  static std::string list_of(const Blocks& b) {
    std::string l = "list=admin_name^$";
    for (const std::string& x : b) {
      std::string name = x.substr(x.find("NAME=") + 5);
      name.resize(name.find('\n'));
      if (name.find("^$") == std::string::npos) l += name + "^$";
    }
    return l + "\n";
  }

  Blocks blocks_;
};

std::string refusal(const std::string& message) { return "<PRE>\n" + message + "</PRE>\n"; }

}  // namespace

// Each operation as tk_obj holds it afterwards, byte for byte, and the page.
TEST_F(ObjectEditor, EachOperationWritesTheFileExactly) {
  using Change = std::function<void(Blocks&)>;
  struct Case {
    std::string what, word;
    Fields form;
    Ended ended;
    Change change;         // null: tk_obj stays as it was
    size_t backups;        // saves made
    std::string form_line; // the object form's line of the page; empty: not looked at
  };
  const Change none;
  const Case cases[] = {
      {"the list leaves out the rule and its message", "AdvancedListObject", {}, returned(0), none, 0,
       "name= value= dbkey= control= type= enforce= title= len= help= vtype=\n"},
      {"a create over a name with a VALUE", "Create Object",
       {{"admin_name.VALUE", "twin"}, {"admin_value.VALUE", "third"}}, exited(0), none, 0, ""},
      {"a create over a name without a VALUE fills that object", "Create Object",
       {{"admin_name.VALUE", "novalue"}, {"admin_value.VALUE", "now one"}}, returned(0),
       [](Blocks& b) { b[kNoValue] = block({{"NAME", "novalue"}, {"VALUE", "now one"}, {"TITLE", "Only a title"}}); },
       1, "name=novalue value=now one dbkey= control= type= enforce= title=Only a title len= help= vtype=\n"},
      {"a create of a new name, every attribute, values as the file keeps them", "Create Object",
       {{"admin_name.VALUE", "demo_note"}, {"admin_value.VALUE", "  hello   there "}, {"admin_title.VALUE", "Note"},
        {"admin_type.VALUE", "TEXT"}, {"admin_control.VALUE", "c"}, {"admin_len.VALUE", "40"},
        {"admin_help.VALUE", "Help\ttext"}, {"admin_enforce.VALUE", "1"}, {"admin_vtype.VALUE", "ignored"}},
       returned(0),
       [](Blocks& b) {
         b.push_back(block({{"NAME", "demo_note"}, {"VALUE", "hello there"}, {"CONTROL", "c"}, {"TYPE", "TEXT"},
                            {"ENFORCE", "1"}, {"TITLE", "Note"}, {"LEN", "40"}, {"HELP", "Help\ttext"}}));
       },
       1, "name=demo_note value=hello there dbkey= control=c type=TEXT enforce=1 title=Note len=40 help=Help&#09;text "
          "vtype=ignored\n"},
      {"a modify with every field empty saves the file as it was", "Modify Object", {{"admin_name.VALUE", "category"}},
       returned(0), none, 1, ""},
      {"a modify of a name no object bears adds an object of just that name", "Modify Object",
       {{"admin_name.VALUE", "fresh"}}, returned(0), [](Blocks& b) { b.push_back(block({{"NAME", "fresh"}})); }, 1,
       ""},
      {"a modify changes the first namesake in its place", "Modify Object",
       {{"admin_name.VALUE", "twin"}, {"admin_value.VALUE", "changed"}}, returned(0),
       [](Blocks& b) { b[kTwin1] = block({{"NAME", "twin"}, {"VALUE", "changed"}}); }, 1, ""},
      {"an empty DBKEY leaves the stored one", "Modify Object",
       {{"admin_name.VALUE", "category"}, {"admin_title.VALUE", "Kind"}}, returned(0),
       [](Blocks& b) {
         b[kCategory] = block({{"NAME", "category"}, {"VALUE", "Other^@Hardware^@Other^$"}, {"DBKEY", "category"},
                               {"TYPE", "MENU"}, {"VTYPE", "char"}, {"TITLE", "Kind"}});
       },
       1, ""},
      {"an object whose name holds a point is found by that name", "Modify Object",
       {{"admin_name.VALUE", "a.b"}, {"admin_value.VALUE", "still dotted"}}, returned(0),
       [](Blocks& b) { b[kDotted] = block({{"NAME", "a.b"}, {"VALUE", "still dotted"}}); }, 1, ""},
      {"a DBKEY unequal to the name, on create", "Create Object",
       {{"admin_name.VALUE", "floor"}, {"admin_dbkey.VALUE", "Floor"}}, exited(0), none, 0, ""},
      {"a DBKEY unequal to the name, on modify", "Modify Object",
       {{"admin_name.VALUE", "category"}, {"admin_dbkey.VALUE", "kind"}}, exited(0), none, 0, ""},
      {"a DBKEY the object has already", "Modify Object",
       {{"admin_name.VALUE", "category"}, {"admin_dbkey.VALUE", "category"}}, returned(0), none, 1, ""},
      {"a new field whose column exists", "Create Object",
       {{"admin_name.VALUE", "floor"}, {"admin_dbkey.VALUE", "floor"}, {"admin_title.VALUE", "Floor"}}, returned(0),
       [](Blocks& b) { b.push_back(block({{"NAME", "floor"}, {"DBKEY", "floor"}, {"TITLE", "Floor"}})); }, 1, ""},
      {"a delete of an object without a VALUE", "Delete Object", {{"admin_name.VALUE", "novalue"}}, exited(0), none,
       0, ""},
      {"a delete of a name nothing bears", "Delete Object", {{"admin_name.VALUE", "nosuch"}}, exited(0), none, 0,
       ""},
      {"a delete takes every namesake", "Delete Object", {{"admin_name.VALUE", "twin"}}, returned(0),
       [](Blocks& b) { b.erase(b.begin() + kTwin1, b.begin() + kTwin2 + 1); }, 1, ""},
      {"a delete of the object whose name holds a point", "Delete Object", {{"admin_name.VALUE", "a.b"}},
       returned(0), [](Blocks& b) { b.erase(b.begin() + kDotted); }, 1, ""},
      {"getobject fills the form, never VTYPE", "GetObject", {{"admin_name.VALUE", "category"}}, returned(0), none,
       0, "name=category value=Other^@Hardware^@Other^$ dbkey=category control= type=MENU enforce= title=Category "
          "len= help= vtype=\n"},
      {"getobject leaves the values of attributes the object lacks", "ModGetObject",
       {{"admin_name.VALUE", "novalue"}, {"admin_value.VALUE", "kept"}, {"admin_help.VALUE", "typed"}}, returned(0),
       none, 0, "name=novalue value=kept dbkey= control= type= enforce= title=Only a title len= help=typed vtype=\n"},
      {"getobject takes the first namesake", "DeleteGetObject", {{"admin_name.VALUE", "twin"}}, returned(0), none, 0,
       "name=twin value=first dbkey= control= type= enforce= title= len= help= vtype=\n"},
      {"getobject of a name nothing bears", "GetObject", {{"admin_name.VALUE", "nosuch"}}, exited(0), none, 0, ""},
      {"getobject of the head", "GetObject", {{"admin_name.VALUE", "XXXheadlistXXXX"}}, exited(0), none, 0, ""},
  };
  const std::map<std::string, std::string> messages = {
      {"a create over a name with a VALUE", "Error: object 'twin' already exists\n"},
      {"a DBKEY unequal to the name, on create", "Error: object name and dbkey must be the same\n"},
      {"a DBKEY unequal to the name, on modify", "Error: object name and dbkey must be the same\n"},
      {"a delete of an object without a VALUE", "Error: object 'novalue' does not exists\n"},
      {"a delete of a name nothing bears", "Error: object 'nosuch' does not exists\n"},
      {"getobject of a name nothing bears", "Error: object is not found in the system\n"},
      {"getobject of the head", "Error: object is not found in the system\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Blocks after = blocks_;
    if (c.change) c.change(after);
    EXPECT_EQ(fresh(c.word, c.form), c.ended);
    EXPECT_EQ(read("client/config/tk_obj"), join(after));
    EXPECT_EQ(backups().size(), c.backups);
    if (c.ended.exited) {
      EXPECT_EQ(page(), refusal(messages.at(c.what)));
      continue;
    }
    const std::string shown = page();
    const size_t line = shown.find('\n') + 1;
    // The list is there after the words that list, and shows what the file
    // holds.
    const bool lists = c.word == "AdvancedListObject" || c.word == "Modify Object" || c.word == "Delete Object";
    EXPECT_EQ(shown.substr(0, line), lists ? list_of(after) : "list=\n");
    if (!c.form_line.empty()) {
      EXPECT_EQ(shown.substr(line), c.form_line);
    }
  }
}

// A blank name is refused by every operation with its own wording.
TEST_F(ObjectEditor, ANameIsRequired) {
  for (const std::string word : {"GetObject", "Create Object", "Modify Object", "Delete Object"}) {
    for (bool sent : {true, false}) {
      SCOPED_TRACE(word + (sent ? " with an empty name" : " without a name"));
      Fields form = {{"admin_value.VALUE", "v"}};
      if (sent) form.emplace_back("admin_name.VALUE", "");
      EXPECT_EQ(fresh(word, form), exited(0));
      EXPECT_EQ(page(), refusal(word == "GetObject" ? "Error:  object name can't be blank\n"
                                                    : "Error: object name can't be blank\n"));
      EXPECT_EQ(read("client/config/tk_obj"), fixture());
      EXPECT_TRUE(backups().empty());
    }
  }
}

// A name the editor creates holds letters, digits, "_", "-" and ":" only;
// the head's name is the head's. A point would cut the key, blanks and line
// ends would not read back, "^@" and "^$" would hide the object from the
// list. Nothing is written.
TEST_F(ObjectEditor, NamesTheEditorMayCreate) {
  const std::string kRule = "Error: object name '%s' may hold only letters, digits, '_', '-' and ':'\n";
  struct Case {
    std::string name, message;
  } cases[] = {
      {"x.y", kRule},   {" a", kRule},        {"a ", kRule},         {"a  b", kRule},
      {"x^@y", kRule},  {"x^$y", kRule},      {"a\nb", kRule},       {"a\r", kRule},
      {"caf\xc3\xa9", kRule},
      {"XXXheadlistXXXX", "Error: object name '%s' is kept for the head of the object list\n"},
  };
  for (const Case& c : cases) {
    for (const std::string word : {"Create Object", "Modify Object"}) {
      SCOPED_TRACE(word + " '" + c.name + "'");
      EXPECT_EQ(fresh(word, {{"admin_name.VALUE", c.name}, {"admin_value.VALUE", "v"}}), exited(0));
      EXPECT_EQ(page(), refusal(sformat(c.message, c.name)));
      EXPECT_EQ(read("client/config/tk_obj"), fixture());
      EXPECT_TRUE(backups().empty());
    }
  }
  // The configuration's own kinds of names pass.
  for (const std::string name : {"case_num-map", "problem:1", "Upper_9"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(fresh("Create Object", {{"admin_name.VALUE", name}, {"admin_value.VALUE", "v"}}), returned(0));
    EXPECT_EQ(read("client/config/tk_obj"), fixture() + object(name, "v"));
  }
}

// A form value holding a line break is refused before anything changes,
// naming its attribute; a name taken from the file is still found.
TEST_F(ObjectEditor, ValuesWithLineBreaksAreRefused) {
  struct Case {
    std::string form, word;
  } cases[] = {
      {"admin_value.VALUE", "VALUE"}, {"admin_title.VALUE", "TITLE"},   {"admin_help.VALUE", "HELP"},
      {"admin_dbkey.VALUE", "DBKEY"}, {"admin_control.VALUE", "CONTROL"}, {"admin_type.VALUE", "TYPE"},
      {"admin_len.VALUE", "LEN"},     {"admin_enforce.VALUE", "ENFORCE"},
  };
  for (const Case& c : cases) {
    for (const char* text : {"one\ntwo", "one\r\ntwo", "trailing\r", "\n"}) {
      for (const std::string op : {"Create Object", "Modify Object"}) {
        SCOPED_TRACE(op + " " + c.form + " " + text);
        EXPECT_EQ(fresh(op, {{"admin_name.VALUE", op == "Create Object" ? "newone" : "category"}, {c.form, text}}),
                  exited(0));
        EXPECT_EQ(page(), refusal("Error: " + c.word + " can't hold a line break\n"));
        EXPECT_EQ(read("client/config/tk_obj"), fixture());
        EXPECT_TRUE(backups().empty());
      }
    }
  }
}

// An object given a DBKEY becomes a field, so its name names a column: the
// field editor's name and column checks hold for a create and for a modify
// that gives an object its first DBKEY.
TEST_F(ObjectEditor, AnObjectGivenADbkeyPassesTheFieldChecks) {
  struct Case {
    std::string word, name, message;
  } cases[] = {
      {"Create Object", "room", "Field 'room' has no column in the table 'cases'. Add the column to the database "
                                "first.\n"},
      {"Modify Object", "twin", "Field 'twin' has no column in the table 'cases'. Add the column to the database "
                                "first.\n"},
      {"Create Object", "Floor", "Bad field name 'Floor'\n"},
      {"Modify Object", "a-b", "Bad field name 'a-b'\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.word + " " + c.name);
    EXPECT_EQ(fresh(c.word, {{"admin_name.VALUE", c.name}, {"admin_dbkey.VALUE", c.name}}), exited(0));
    EXPECT_EQ(page(), refusal(c.message));
    EXPECT_EQ(read("client/config/tk_obj"), fixture());
  }
  // With its column the object becomes a field where it stands.
  exec("alter table cases add column twin varchar(8)");
  EXPECT_EQ(fresh("Modify Object", {{"admin_name.VALUE", "twin"}, {"admin_dbkey.VALUE", "twin"}}), returned(0));
  Blocks after = blocks_;
  after[kTwin1] = block({{"NAME", "twin"}, {"VALUE", "first"}, {"DBKEY", "twin"}});
  EXPECT_EQ(read("client/config/tk_obj"), join(after));
}

// The three password objects never reach a page: the form's value stays
// empty (also when the request sent one), an empty save keeps the password,
// a new one replaces it, and the page after a create shows none.
TEST_F(ObjectEditor, PasswordsNeverReachThePage) {
  blocks_.push_back(object("odbc_pass", "dbSecret1"));
  blocks_.push_back(object("tkemaild_pop_password", "popSecret2"));
  blocks_.push_back(block({{"NAME", "mail_sender_password"}, {"TITLE", "Sender password"}}));
  for (const char* name : {"odbc_pass", "tkemaild_pop_password"}) {
    for (const char* word : {"GetObject", "ModGetObject", "DeleteGetObject"}) {
      SCOPED_TRACE(std::string(word) + " " + name);
      EXPECT_EQ(fresh(word, {{"admin_name.VALUE", name}, {"admin_value.VALUE", "sent"}}), returned(0));
      EXPECT_EQ(page().find("Secret"), std::string::npos) << page();
      EXPECT_NE(page().find("value= dbkey="), std::string::npos) << page();
    }
    SCOPED_TRACE(name);
    EXPECT_EQ(fresh("Modify Object", {{"admin_name.VALUE", name}}), returned(0));
    EXPECT_EQ(read("client/config/tk_obj"), fixture());
    EXPECT_EQ(page().find("Secret"), std::string::npos);
  }
  EXPECT_EQ(fresh("Create Object", {{"admin_name.VALUE", "mail_sender_password"}, {"admin_value.VALUE", "n3wSecret"}}),
            returned(0));
  EXPECT_EQ(page().find("Secret"), std::string::npos) << page();
  Blocks after = blocks_;
  after.back() = block({{"NAME", "mail_sender_password"}, {"VALUE", "n3wSecret"}, {"TITLE", "Sender password"}});
  EXPECT_EQ(read("client/config/tk_obj"), join(after));
}

// A change made from a page another save overtook is refused by the frame.
TEST_F(ObjectEditor, AStalePageChangesNothing) {
  for (const char* word : {"Create Object", "Modify Object", "Delete Object"}) {
    SCOPED_TRACE(word);
    EXPECT_EQ(fresh(word, {{"admin_name.VALUE", "twin"}, {"admin_version.VALUE", std::string(32, '0')}}),
              exited(-1));
    EXPECT_EQ(page(), refusal(sformat(kObjFileChanged, path("client/config/tk_obj"))));
    EXPECT_EQ(read("client/config/tk_obj"), fixture());
    EXPECT_TRUE(backups().empty());
  }
}

// With tracing on, getobject traces the name, every object it passes up to
// the first one of that name, and the match.
TEST_F(ObjectEditor, GetObjectTracesItsWalk) {
  reqctx().kivdebug = 1;
  ASSERT_EQ(fresh("GetObject", {{"admin_name.VALUE", "twin"}}), returned(0));
  std::string expect = "<PRE>\nKIVACTION='GetObject'\n</PRE>\n<PRE>\nNAME='twin'\n</PRE>\n";
  for (const char* passed : {"dbserver_hostname", "network_timeout", "db_name", "db_table_name", "category",
                             "maillist_category^$:1", "message_category^$:1", "twin"})
    expect += sformat("<PRE>\nNedded Object='twin' Object Name='%s'\n</PRE>\n", passed);
  expect += "<PRE>\nFound match\n</PRE>\n";
  EXPECT_EQ(page().substr(0, expect.size()), expect);
}

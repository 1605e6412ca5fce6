// The default profile commands over the sample installation: up_df laying
// the submitter's and the assignee's profiles over a new case's form by its
// three flags, up_getdf showing one's own profile or one's login, and
// up_sedf saving a form as a profile under each flag, with its refusals and
// a save that fails shown as failed. A small page prints the objects the
// commands leave.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "commands/updf.h"
#include "engine/upclock.h"
#include "support/testsupport.h"
#include "toolkit/request/kivexfile.h"
#include "uptest.h"

using namespace kiv;
using kivtest::exit_status;
namespace fs = std::filesystem;

namespace {

// The sample's items of its two menus.
const std::string kCategories = "Other^@Hardware^@Software^@Network^@Account^@Other^$";
const std::string kPriorities = "Normal^@Low^@Normal^@High^@Urgent^$";

class Defaults : public uptest::CommandCaseHome {
 protected:
  Defaults() : CommandCaseHome(kivtest::Road::sqlite) {}

  void SetUp() override {
    CommandCaseHome::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    fs::create_directories(home_.path() / "staff");
    engineclock().now = 1700000000;  // 11/14/2023 in UTC
    std::string page;
    for (const char* f : {"submitted_by", "sub_e_mail", "category", "priority", "problem", "assigned_to",
                          "sa_e_mail", "date_open", "nv_remote_user"})
      page += std::string(f) + "=[MB{" + f + ".VALUE}ME]\n";
    home_.write("client/kivhtml/tk/df.txt", page);
  }

  // The value a field shows on the objects page.
  std::string shown(const std::string& field) const {
    const std::string p = page();
    const size_t at = p.find(field + "=[");
    if (at == std::string::npos) return "(no page)";
    const size_t from = at + field.size() + 2;
    return p.substr(from, p.find("]\n", from) - from);
  }

  // One of the commands with these words over a request of these form
  // fields, as the login; the status it ends with.
  int run(handler_fn fn, std::vector<std::string> words, std::vector<std::pair<std::string, std::string>> fields,
          std::optional<std::string> login = std::nullopt) {
    clear_output();
    reqctx().remote_user = std::move(login);
    exlist request = uptest::form(std::move(fields));
    int status = 99;
    std::optional<int> ended = exit_status([&] { status = fn(words, &request); });
    return ended ? *ended : status;
  }
  bool shows(const std::string& text) const { return page().find(text) != std::string::npos; }

  std::string file(const std::string& relative) const {
    return fs::exists(path(relative)) ? kivtest::read_file(path(relative)) : std::string("(none)");
  }

  kivtest::ScopedTz utc_{"UTC"};
};

// A profile as up_sedf writes one over the sample's fields: the key row of
// every field, then the values (empty ones "^^") of those given.
std::string profile(const std::vector<std::pair<std::string, std::string>>& values) {
  static const char* const kFields[] = {"id_num",     "case_num",    "submitted_by", "sub_e_mail", "category",
                                        "priority",   "status",      "problem",      "resolution", "assigned_to",
                                        "sa_e_mail",  "date_open",   "date_closed"};
  std::string keys, data;
  for (const char* f : kFields) {
    std::string v = "^^";
    for (const auto& [name, value] : values)
      if (name == f) v = value;
    keys += std::string(keys.empty() ? "" : "^@") + f;
    data += (data.empty() ? "" : "^@") + v;
  }
  return keys + "^$" + data + "^$";
}

}  // namespace

// -ss reads three request variables and nothing else; the user's profile is
// laid over the form and the staff member's only fills what is still empty.
TEST_F(Defaults, CaseFormFromTheSubmitterAndTheAssignee) {
  home_.write("users/ann", "submitted_by^@sub_e_mail^@category^$ann^@ann@example.org^@Network^$");
  home_.write("staff/sam",
              "assigned_to^@sa_e_mail^@sub_e_mail^@priority^@category^$"
              "sam^@sam@example.org^@staff@example.org^@High^@Hardware^$");
  EXPECT_EQ(run(up_df, {"up_df", "df.txt", "-ss"},
                {{"nv_remote_user", "ann"}, {"submitted_by.VALUE", "ann"}, {"assigned_to.VALUE", "sam"},
                 {"problem.VALUE", "not copied"}, {"sa_e_mail.VALUE", "not copied"}}),
            0);
  EXPECT_EQ(shown("submitted_by"), "ann");
  EXPECT_EQ(shown("sub_e_mail"), "ann@example.org");  // the user's, not the staff member's
  EXPECT_EQ(shown("category"), "Network^@" + kCategories);  // the user's menu choice stays
  EXPECT_EQ(shown("priority"), "High^@" + kPriorities);
  EXPECT_EQ(shown("assigned_to"), "sam");
  EXPECT_EQ(shown("sa_e_mail"), "sam@example.org");
  EXPECT_EQ(shown("problem"), "");
  EXPECT_EQ(shown("nv_remote_user"), "ann");
  EXPECT_EQ(shown("date_open"), "11/14/2023");

  // Of each name the last non-empty variable counts; with none, no profile
  // of that kind is read.
  struct Case {
    const char* what;
    std::vector<std::string> users;
    const char* submitted_by;
  } cases[] = {
      {"the later one", {"bob", "ann"}, "ann"},
      {"an empty one after it", {"ann", ""}, "ann"},
      {"only empty ones", {"", ""}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::pair<std::string, std::string>> fields;
    for (const std::string& u : c.users) fields.emplace_back("submitted_by.VALUE", u);
    clear_output();
    exlist request;
    for (auto& [n, v] : fields) request.nodes.push_back(formexdatanode(n, v));
    std::vector<std::string> words = {"up_df", "df.txt", "-ss"};
    EXPECT_EQ(up_df(words, &request), 0);
    EXPECT_EQ(shown("submitted_by"), c.submitted_by);
  }
}

TEST_F(Defaults, CaseFormFromTheUserOrTheAssignedStaff) {
  home_.write("users/ann", "submitted_by^@category^@priority^$ann^@Network^@^^^$");
  home_.write("staff/sam", "sa_e_mail^@sub_e_mail^$sam@example.org^@staff@example.org^$");
  // -us: the request, then the login's profile; a menu keeps its items and
  // an empty profile value leaves it without a choice.
  EXPECT_EQ(run(up_df, {"up_df", "df.txt", "-us"}, {{"problem.VALUE", "typed"}}, "ann"), 0);
  EXPECT_EQ(shown("submitted_by"), "ann");
  EXPECT_EQ(shown("category"), "Network^@" + kCategories);
  EXPECT_EQ(shown("priority"), "^@" + kPriorities);
  EXPECT_EQ(shown("problem"), "typed");
  EXPECT_EQ(shown("date_open"), "11/14/2023");
  // Without a login (logins off) the form is the request's and today's.
  EXPECT_EQ(run(up_df, {"up_df", "df.txt", "-us"}, {{"submitted_by.VALUE", "carl"}}), 0);
  EXPECT_EQ(shown("submitted_by"), "carl");
  EXPECT_EQ(shown("category"), kCategories);
  EXPECT_EQ(shown("date_open"), "11/14/2023");

  // -as: the staff profile of the form's assignee, into the empty fields.
  EXPECT_EQ(run(up_df, {"up_df", "df.txt", "-as"},
                {{"assigned_to.VALUE", "sam"}, {"sub_e_mail.VALUE", "typed@example.org"}}, "ann"),
            0);
  EXPECT_EQ(shown("sa_e_mail"), "sam@example.org");
  EXPECT_EQ(shown("sub_e_mail"), "typed@example.org");
  EXPECT_EQ(shown("submitted_by"), "");

  // Another flag only loads the objects.
  EXPECT_EQ(run(up_df, {"up_df", "df.txt", "-xx"}, {{"problem.VALUE", "typed"}}, "ann"), 0);
  EXPECT_EQ(shown("problem"), "");
  EXPECT_EQ(shown("date_open"), "");

  EXPECT_EQ(run(up_df, {"up_df", "df.txt"}, {}, "ann"), 2);
  EXPECT_EQ(page(), "<PRE>\nWrong usage: up_df templatefile flags\n</PRE>\n");
  // A template that cannot be read gives 1.
  EXPECT_EQ(run(up_df, {"up_df", "nosuch.html", "-us"}, {}, "ann"), 1);
}

TEST_F(Defaults, OwnDefaultsOrTheLoginOnTheForm) {
  home_.write("users/ann", "submitted_by^@category^@priority^$ann^@Network^@^^^$");
  home_.write("staff/ann", "assigned_to^@sa_e_mail^$ann^@staff@example.org^$");
  // Any flag but -s reads the user profile; the request is not copied; an
  // empty value leaves the field as configured.
  for (const char* flag : {"-u", "-x"}) {
    SCOPED_TRACE(flag);
    EXPECT_EQ(run(up_getdf, {"up_getdf", "df.txt", flag}, {{"problem.VALUE", "typed"}}, "ann"), 0);
    EXPECT_EQ(shown("submitted_by"), "ann");
    EXPECT_EQ(shown("category"), "Network^@" + kCategories);
    EXPECT_EQ(shown("priority"), kPriorities);
    EXPECT_EQ(shown("sa_e_mail"), "");
    EXPECT_EQ(shown("problem"), "");
  }
  EXPECT_EQ(run(up_getdf, {"up_getdf", "df.txt", "-s"}, {}, "ann"), 0);
  EXPECT_EQ(shown("sa_e_mail"), "staff@example.org");
  EXPECT_EQ(shown("category"), kCategories);

  // Without a profile the login goes into the owner's field; a menu keeps
  // its items behind it.
  EXPECT_EQ(run(up_getdf, {"up_getdf", "df.txt", "-u"}, {}, "bob"), 0);
  EXPECT_EQ(shown("submitted_by"), "bob");
  std::string objs = kivtest::read_file(path("client/config/tk_obj"));
  const std::string field = "\tNAME=assigned_to\n\tDBKEY=assigned_to\n";
  objs.replace(objs.find(field), field.size(), field + "\tTYPE=MENU\n\tVALUE=sam^@tom^$\n");
  home_.write("client/config/tk_obj", objs);
  EXPECT_EQ(run(up_getdf, {"up_getdf", "df.txt", "-s"}, {}, "sam"), 0);
  EXPECT_EQ(shown("assigned_to"), "sam^@sam^@tom^$");
  // Without a login nothing is filled in.
  EXPECT_EQ(run(up_getdf, {"up_getdf", "df.txt", "-s"}, {}), 0);
  EXPECT_EQ(shown("assigned_to"), "sam^@tom^$");

  EXPECT_EQ(run(up_getdf, {"up_getdf", "df.txt"}, {}, "ann"), 2);
  EXPECT_EQ(page(), "<PRE>\nWrong usage: up_df templatefile\n</PRE>\n");
}

// Each save by its flag: whose file is written, byte for byte, or the
// refusal and its status. A page is shown only after a save (or the
// configured "nothing to save" of a form without its owner).
TEST_F(Defaults, SavesByFlagAndWhoseProfileItIs) {
  struct Case {
    const char* what;
    std::optional<std::string> login;
    std::string flag;
    std::vector<std::pair<std::string, std::string>> fields;
    int status;
    std::string file;      // the profile written ("" for none)
    std::string contents;  // its text
    const char* message;   // in the page, or ""
  } cases[] = {
      {"-u, one's own form", "ann", "-u", {{"submitted_by.VALUE", "ann"}, {"category.VALUE", "Network"}}, 0,
       "users/ann", profile({{"submitted_by", "ann"}, {"category", "Network"}}), ""},
      {"-u, an empty owner saves one's own", "ann", "-u", {{"sub_e_mail.VALUE", "ann@example.org"}}, 0,
       "users/ann", profile({{"sub_e_mail", "ann@example.org"}}), ""},
      {"-u, another's form", "ann", "-u", {{"submitted_by.VALUE", "bob"}}, -1, "", "",
       "You can't submit/edit other people defaults\n"},
      {"another flag acts as -u", "ann", "-q", {{"submitted_by.VALUE", "bob"}}, -1, "", "",
       "You can't submit/edit other people defaults\n"},
      {"-s, one's own", "sam", "-s", {{"assigned_to.VALUE", "sam"}, {"sa_e_mail.VALUE", "sam@example.org"}}, 0,
       "staff/sam", profile({{"assigned_to", "sam"}, {"sa_e_mail", "sam@example.org"}}), ""},
      {"-s, another's", "sam", "-s", {{"assigned_to.VALUE", "tom"}}, -1, "", "",
       "You can't submit/edit other people defaults\n"},
      {"-uf, the form's submitter", "admin", "-uf", {{"submitted_by.VALUE", "bob"}}, 0, "users/bob",
       profile({{"submitted_by", "bob"}}), ""},
      {"-uf, no submitter: nothing saved", "admin", "-uf", {{"category.VALUE", "Network"}}, 0, "", "", ""},
      {"-sf, the form's assignee", "admin", "-sf", {{"assigned_to.VALUE", "tom"}, {"submitted_by.VALUE", "x"}}, 0,
       "staff/tom", profile({{"assigned_to", "tom"}, {"submitted_by", "x"}}), ""},
      {"no login", std::nullopt, "-u", {{"submitted_by.VALUE", "ann"}}, -1, "", "",
       "You are not authenticated. You can't submit/edit defaults.\n"},
      {"an invalid name", "admin", "-uf", {{"submitted_by.VALUE", "../ann"}}, 1, "", "",
       "Invalid Name <../ann>.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(path("users"));
    fs::remove_all(path("staff"));
    fs::create_directories(path("users"));
    fs::create_directories(path("staff"));
    EXPECT_EQ(run(up_sedf, {"up_sedf", "defaultsaved.html", c.flag}, c.fields, c.login), c.status);
    std::vector<std::string> written;
    for (const char* folder : {"users", "staff"})
      for (const std::string& name : kivtest::entries(path(folder)))
        written.push_back(std::string(folder) + "/" + name);
    EXPECT_EQ(written, c.file.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.file});
    if (!c.file.empty()) {
      EXPECT_EQ(file(c.file), c.contents);
    }
    if (*c.message) {
      EXPECT_TRUE(shows(c.message)) << page();
    }
    EXPECT_EQ(shows("The defaults are saved"), c.status == 0) << page();
  }
}

TEST_F(Defaults, SavesThatFailOrAreRefused) {
  // A staff folder that cannot hold the file: the message, status 1, and no
  // page that says it was saved; the profile it had stays.
  fs::remove_all(path("staff"));
  home_.write("staff", "not a folder");
  EXPECT_EQ(run(up_sedf, {"up_sedf", "defaultsaved.html", "-s"}, {{"assigned_to.VALUE", "sam"}}, "sam"), 1);
  EXPECT_TRUE(shows("Cannot open file <" + path("staff/sam") + "> errno=20 \n")) << page();
  EXPECT_FALSE(shows("<html")) << page();

  // The required fields of enforce_on_profile.
  std::string objs = kivtest::read_file(path("client/config/tk_obj"));
  home_.write("client/config/tk_obj", objs + "OBJECT{\n\tNAME=enforce_on_profile\n\tVALUE=1\n};\n");
  EXPECT_EQ(run(up_sedf, {"up_sedf", "defaultsaved.html", "-u"}, {{"submitted_by.VALUE", "ann"}}, "ann"), -1);
  EXPECT_TRUE(shows("'Problem' can't be blank\n")) << page();
  EXPECT_FALSE(fs::exists(path("users/ann")));
  EXPECT_EQ(run(up_sedf, {"up_sedf", "defaultsaved.html", "-u"},
                {{"submitted_by.VALUE", "ann"}, {"problem.VALUE", "a default problem"}}, "ann"),
            0);
  EXPECT_EQ(file("users/ann"), profile({{"submitted_by", "ann"}, {"problem", "a default problem"}}));

  // A screen without fields gives no profile text.
  home_.write("client/config/tk_obj", "OBJECT{\n\tNAME=db_name\n\tVALUE=x\n};\n");
  EXPECT_EQ(run(up_sedf, {"up_sedf", "defaultsaved.html", "-u"}, {}, "ann"), -1);
  EXPECT_TRUE(shows("Error submit/edit defaults\n")) << page();

  EXPECT_EQ(run(up_sedf, {"up_sedf", "defaultsaved.html"}, {}, "ann"), 2);
  EXPECT_EQ(page(), "<PRE>\nWrong usage: up_df templatefile\n</PRE>\n");
}

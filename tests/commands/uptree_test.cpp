// The record tree command over the sample installation: the levels and
// their refusals, the generated code byte for byte for one level, groups
// that differ only in case, empty values and slashes, the links by the
// command line's length with the session key, login and case number
// URL-encoded and the case number as a criterion that matches it alone,
// names that would break a script, and a tree of 5,000 cases on both
// database roads.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "commands/uptree.h"
#include "support/testsupport.h"
#include "toolkit/base/kivcontext.h"
#include "uptest.h"

using namespace kiv;

namespace {

using Fields = std::vector<std::pair<std::string, std::string>>;

class TreeHome : public uptest::CommandCaseHome {
 protected:
  explicit TreeHome(kivtest::Road road) : CommandCaseHome(road) {}

  void SetUp() override {
    CommandCaseHome::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    home_.write("client/kivhtml/tk/tree.txt", "[MB{treeresult.VALUE}ME]\n");
  }

  // A case straight into the table; an empty category is NULL.
  void add_case(int id, const std::string& num, const std::string& status, const std::string& category) {
    auto quoted = [](const std::string& v) {
      std::string q = "'";
      for (char c : v) q += c == '\'' ? std::string("''") : std::string(1, c);
      return q + "'";
    };
    exec("insert into cases (id_num, case_num, status, category, submitted_by, problem) values (" +
         std::to_string(id) + ", " + quoted(num) + ", " + quoted(status) + ", " +
         (category.empty() ? std::string("null") : quoted(category)) + ", 'ann', 'p')");
  }

  // up_tree with these words over a request of these fields, as `login`;
  // the status it ends with.
  int tree(std::vector<std::string> words, const Fields& fields,
           std::optional<std::string> login = std::string("ann")) {
    clear_output();
    reqctx().remote_user = std::move(login);
    exlist request = uptest::form(fields);
    int status = 99;
    std::optional<int> ended =
        kivtest::exit_status([&] { status = up_tree(words, &request); });
    return ended ? *ended : status;
  }
  int tree(const Fields& fields) { return tree({"up_tree", "tree.txt", "open"}, fields); }

  // The generated code the page shows, "(no page)" without one.
  std::string code() const {
    const std::string p = page();
    const size_t at = p.find("[function buildtree()");
    if (at == std::string::npos) return "(no page)";
    return p.substr(at + 1, p.rfind("]\n") - at - 1);
  }
  bool shows(const std::string& text) const { return page().find(text) != std::string::npos; }

  static std::string message(const std::string& text) { return "<PRE>\n" + text + "</PRE>\n"; }

  kivtest::ScopedEnv skey_{"skey", "12209385011111111111"};
};

class Tree : public TreeHome {
 protected:
  Tree() : TreeHome(kivtest::Road::sqlite) {}
};

class TreeRoads : public TreeHome, public ::testing::WithParamInterface<kivtest::Road> {
 protected:
  TreeRoads() : TreeHome(GetParam()) {}
};

const std::string kHead = "function buildtree()\n{\n var level1, level2,level3,level4,level5,level6,level7,level8,level9;\n";
// The link of the leaves of a three-word command line, up to the record.
const std::string kLink = "/cgi-bin/kepa.cgi?KIVACTION=open\\x26skey=12209385011111111111\\x26nv_remote_user=ann"
                          "\\x26row2form_rec.VALUE=";
// The record of a leaf's link for a plain case number.
std::string record(const std::string& num) { return "case%5Fnum%5E%24%3D%3D" + num + "%5E%24"; }

}  // namespace

// One level over three cases in two categories: the root with all three,
// each category with its count, each leaf after its category, in the
// order the find gave them (by the level's column).
TEST_F(Tree, TheCodeOfOneLevel) {
  add_case(1, "C1", "Open", "Network");
  add_case(2, "C2", "Open", "Hardware");
  add_case(3, "C3", "Closed", "Network");
  ASSERT_EQ(tree({{"sort_titles1_menu.VALUE", "Category"}}), 0) << page();
  EXPECT_EQ(code(), kHead +
                        "roothandle=newnode(\"Start Summary (3)\")\n"
                        "\tlevel1=insertnode(roothandle,newnode(\"Hardware (1)\"))\n"
                        "insertleaf(level1, buildleaf(2, \"C2\", \"" + kLink + record("C2") + "\"))\n"
                        "\tlevel1=insertnode(roothandle,newnode(\"Network (2)\"))\n"
                        "insertleaf(level1, buildleaf(2, \"C1\", \"" + kLink + record("C1") + "\"))\n"
                        "insertleaf(level1, buildleaf(2, \"C3\", \"" + kLink + record("C3") + "\"))\n"
                        "clickonnode(roothandle, \"Start Summary (3)\")\n}");
  // No next command reads the find's scratch data file: none is left.
  for (const std::string& name : kivtest::entries(path("tmp"))) EXPECT_FALSE(name.starts_with("tmp_datafile.")) << name;
}

// The levels: level 1 is required and none may follow a missing one; every
// title must be a field's; a menu that still holds its items gives its
// selected one. The refusals come before the find, so no page is printed.
TEST_F(Tree, LevelsAndTheirRefusals) {
  add_case(1, "C1", "Open", "Network");
  struct Case {
    const char* what;
    Fields levels;
    int status;
    std::string shown;  // the message, or a trace line of a tree drawn
  } cases[] = {
      {"no level", {}, 1, message("Tree has bad levels.\n")},
      {"levels 1 and 3 without 2", {{"sort_titles1_menu.VALUE", "Status"}, {"sort_titles3_menu.VALUE", "Category"}},
       1, message("Tree has bad levels.\n")},
      {"level 4 without 3",
       {{"sort_titles1_menu.VALUE", "Status"}, {"sort_titles2_menu.VALUE", "Category"},
        {"sort_titles4_menu.VALUE", "Priority"}},
       1, message("Tree has bad levels.\n")},
      {"level 2 alone", {{"sort_titles2_menu.VALUE", "Status"}}, 1, message("Tree has bad levels.\n")},
      {"an unknown title", {{"sort_titles1_menu.VALUE", "Colour"}}, 1,
       message("Tree level title does not match dbkey.\n")},
      {"an unknown title at level 2", {{"sort_titles1_menu.VALUE", "Status"}, {"sort_titles2_menu.VALUE", "status"}},
       1, message("Tree level title does not match dbkey.\n")},
      {"a title of no column", {{"sort_titles1_menu.VALUE", "date_open"}}, 1,
       message("Tree level title does not match dbkey.\n")},
      {"four levels",
       {{"sort_titles1_menu.VALUE", "Status"}, {"sort_titles2_menu.VALUE", "Category"},
        {"sort_titles3_menu.VALUE", "Priority"}, {"sort_titles4_menu.VALUE", "Your name"}},
       0, "SORTKEY4=submitted_by"},
  };
  reqctx().kivdebug = 1;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(tree(c.levels), c.status);
    EXPECT_TRUE(shows(c.shown)) << page();
    EXPECT_EQ(code() == "(no page)", c.status != 0) << page();
  }
  // A level menu that still holds its item list (as configuration would
  // leave it) gives its selected item.
  home_.write("client/config/tk_obj", kivtest::read_file(path("client/config/tk_obj")) +
                                          "OBJECT{\n\tNAME=sort_titles1_menu\n"
                                          "\tVALUE=Category^@Case number^@Status^@Category^$\n};\n");
  EXPECT_EQ(tree({}), 0) << page();
  EXPECT_TRUE(shows("SORTKEY1=category")) << page();
  EXPECT_NE(code().find("newnode(\"Network (1)\")"), std::string::npos) << page();
  EXPECT_EQ(tree({"up_tree"}, {}), 2);
  EXPECT_EQ(page(), message("Wrong usage: uptree templatefile\n"));
}

// A search that finds nothing, and a request whose user is not known.
TEST_F(Tree, NoCasesAndNoUser) {
  add_case(1, "C1", "Open", "Network");
  EXPECT_EQ(tree({{"sort_titles1_menu.VALUE", "Status"}, {"status.VALUE", "Pending"}}), 1);
  EXPECT_TRUE(page().ends_with(message("No records found\n"))) << page();
  EXPECT_EQ(tree({"up_tree", "tree.txt", "open"}, {{"sort_titles1_menu.VALUE", "Status"}}, std::nullopt), -1);
  EXPECT_EQ(page(), message("up_tree: The system can't determine who are you"));
}

// Values that differ only in case share the node of the first one met; an
// empty value groups under "Blank"; a slash shows as a minus while the
// link opens the record's own case number; the counts add up per level.
TEST_F(Tree, GroupsBlanksAndSlashes) {
  add_case(1, "N/1", "Open", "Network");
  add_case(2, "N-1", "Open", "network");
  add_case(3, "B1", "Open", "");
  add_case(4, "H1", "Closed", "Hardware");
  reqctx().kivdebug = 1;
  ASSERT_EQ(tree({{"sort_titles1_menu.VALUE", "Status"}, {"sort_titles2_menu.VALUE", "Category"}}), 0) << page();
  // The traces name each level's column and its place, and each row's path.
  for (const char* trace : {"SELECTED=1 key=status j=3\n", "SELECTED=2 key=category j=4\n",
                            "SELECTED=3 key=case_num j=2\n", "PATh=/Open/Network/N-1\n", "PATh=/Open/Blank/B1\n"})
    EXPECT_TRUE(shows(trace)) << trace << "\n" << page();
  const std::string c = code();
  EXPECT_NE(c.find("roothandle=newnode(\"Start Summary (4)\")\n"), std::string::npos) << c;
  EXPECT_NE(c.find("\tlevel1=insertnode(roothandle,newnode(\"Closed (1)\"))\n"
                   "\tlevel2=insertnode(level1,newnode(\"Hardware (1)\"))\n"
                   "insertleaf(level2, buildleaf(2, \"H1\", \"" + kLink + record("H1") + "\"))\n"
                   "\tlevel1=insertnode(roothandle,newnode(\"Open (3)\"))\n"
                   "\tlevel2=insertnode(level1,newnode(\"Blank (1)\"))\n"
                   "insertleaf(level2, buildleaf(2, \"B1\", \"" + kLink + record("B1") + "\"))\n"),
            std::string::npos)
      << c;
  // One node for both spellings (by the find's order, "Network" first on
  // SQLite), holding both cases; each link opens its own case, the
  // slash's as "N/1" and the minus's as "N^-1".
  EXPECT_NE(c.find("\tlevel2=insertnode(level1,newnode(\"Network (2)\"))\n"), std::string::npos) << c;
  EXPECT_EQ(c.find("newnode(\"network"), std::string::npos) << c;
  EXPECT_NE(c.find("buildleaf(2, \"N-1\", \"" + kLink + record("N%2F1") + "\")"), std::string::npos);
  EXPECT_NE(c.find("buildleaf(2, \"N-1\", \"" + kLink + record("N%5E%2D1") + "\")"), std::string::npos);
}

// The links by the command line's length: the action of a third word, the
// query of a fourth in front of it, else vrow2form; without a session key
// "NOKEY"; the key and the login URL-encoded.
TEST_F(Tree, LinksByTheCommandLine) {
  add_case(1, "C1", "Open", "Network");
  const Fields levels = {{"sort_titles1_menu.VALUE", "Status"}};
  struct Case {
    const char* what;
    std::vector<std::string> words;
    std::optional<std::string> skey;
    std::string login;
    std::string link;
  } cases[] = {
      {"two words", {"up_tree", "tree.txt"}, "12209385011111111111", "ann",
       "/cgi-bin/kepa.cgi?KIVACTION=vrow2form\\x26skey=12209385011111111111\\x26nv_remote_user=ann"},
      {"three words", {"up_tree", "tree.txt", "open"}, "12209385011111111111", "ann",
       "/cgi-bin/kepa.cgi?KIVACTION=open\\x26skey=12209385011111111111\\x26nv_remote_user=ann"},
      {"four words", {"up_tree", "tree.txt", "open", "view=full"}, "12209385011111111111", "ann",
       "/cgi-bin/kepa.cgi?view=full\\x26KIVACTION=open\\x26skey=12209385011111111111\\x26nv_remote_user=ann"},
      {"five words", {"up_tree", "tree.txt", "open", "view=full", "x"}, "12209385011111111111", "ann",
       "/cgi-bin/kepa.cgi?KIVACTION=vrow2form\\x26skey=12209385011111111111\\x26nv_remote_user=ann"},
      {"no session key", {"up_tree", "tree.txt", "open"}, std::nullopt, "ann",
       "/cgi-bin/kepa.cgi?KIVACTION=open\\x26skey=NOKEY\\x26nv_remote_user=ann"},
      {"an empty session key", {"up_tree", "tree.txt", "open"}, "", "ann",
       "/cgi-bin/kepa.cgi?KIVACTION=open\\x26skey=NOKEY\\x26nv_remote_user=ann"},
      {"a key and a login that would change the request", {"up_tree", "tree.txt", "open"}, "1&KIVACTION=x#", "a+b c%",
       "/cgi-bin/kepa.cgi?KIVACTION=open\\x26skey=1%26KIVACTION%3Dx%23\\x26nv_remote_user=a%2Bb+c%25"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    kivtest::ScopedEnv key("skey", c.skey);
    ASSERT_EQ(tree(c.words, levels, c.login), 0) << page();
    EXPECT_NE(code().find("buildleaf(2, \"C1\", \"" + c.link + "\\x26row2form_rec.VALUE=" + record("C1") + "\")"),
              std::string::npos)
        << code();
  }
}

// Names that would end a string or the script element are written as
// JavaScript text: quotes first as grave accents (and a slash as a minus, as
// every level value), then every backslash, line end, line separator and
// angle bracket escaped; a case number's characters that a criterion reads
// are escaped in its record.
TEST_F(Tree, NamesThatWouldBreakTheScript) {
  add_case(1, "a,b--c^d", "Open", "it's \"x\" \\ y\nz\xE2\x80\xA8</script><b>");
  ASSERT_EQ(tree({{"sort_titles1_menu.VALUE", "Category"}}), 0) << page();
  const std::string c = code();
  EXPECT_NE(c.find("\tlevel1=insertnode(roothandle,newnode(\"it`s ``x`` \\\\ y\\nz\\u2028\\x3C-script\\x3E"
                   "\\x3Cb\\x3E (1)\"))\n"),
            std::string::npos)
      << c;
  EXPECT_NE(c.find("buildleaf(2, \"a,b--c^d\", \"" + kLink + record("a%5E%2Cb%5E%2D%5E%2Dc%5E%5Ed") + "\")"),
            std::string::npos)
      << c;
  EXPECT_EQ(c.find("</"), std::string::npos);
  EXPECT_EQ(c.find('\''), std::string::npos);
}

// 5,000 cases: every one a leaf with its link, and the counts whole.
TEST_P(TreeRoads, FiveThousandCases) {
  exec("with recursive n(i) as (select 1 union all select i + 1 from n where i < 5000) "
       "insert into cases (id_num, case_num, status, category, submitted_by, problem) "
       "select i, 'K-' || i, case when i % 3 = 0 then 'Closed' else 'Open' end, 'Network', 'ann', 'p' from n");
  ASSERT_EQ(tree({{"sort_titles1_menu.VALUE", "Status"}, {"sort_titles2_menu.VALUE", "Category"}}), 0)
      << page().substr(0, 2000);
  const std::string c = code();
  size_t leaves = 0;
  for (size_t at = c.find("insertleaf("); at != std::string::npos; at = c.find("insertleaf(", at + 1)) ++leaves;
  EXPECT_EQ(leaves, 5000u);
  EXPECT_NE(c.find("roothandle=newnode(\"Start Summary (5000)\")\n"), std::string::npos);
  EXPECT_NE(c.find("newnode(\"Closed (1666)\")"), std::string::npos);
  EXPECT_NE(c.find("newnode(\"Open (3334)\")"), std::string::npos);
  EXPECT_NE(c.find("buildleaf(2, \"K-4999\", \"" + kLink + record("K%5E%2D4999") + "\")"),
            std::string::npos);
  EXPECT_TRUE(c.ends_with("clickonnode(roothandle, \"Start Summary (5000)\")\n}"));
}

INSTANTIATE_TEST_SUITE_P(Roads, TreeRoads, ::testing::Values(kivtest::Road::sqlite, kivtest::Road::postgres),
                         kivtest::road_name);

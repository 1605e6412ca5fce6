// User and staff profiles: reading a two-row profile as the file holds it,
// the logins that may not name a file, the whole-file replacement of a write
// (and an old profile kept when the write fails), and the profile an add
// leaves for its submitter.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "engine/upprofile.h"
#include "enginetest.h"
#include "platform/flavour.h"
#include "toolkit/base/kivcgitrace.h"

using namespace kiv;
using enginetest::entries;
using enginetest::objects;
namespace fs = std::filesystem;

namespace {

class Profiles : public enginetest::HomeTest {
 protected:
  void SetUp() override {
    HomeTest::SetUp();
    fs::create_directories(path("users"));
    fs::create_directories(path("staff"));
  }
};

const std::string kBadLoginMessage =
    "<PRE>\nLogin can not contain any of the following charachters \\:/*\"<>?| tab or space</PRE>\n";

}  // namespace

TEST_F(Profiles, ReadsTwoRowsAsTheFileHoldsThem) {
  struct Case {
    const char* what;
    std::string file;  // content of users/bob; none written when empty
    std::string login;
    std::optional<std::string> profile;
  } cases[] = {
      {"one line", "status^@category^$Open^@^^^$", "bob", "status^@category^$Open^@^^^$"},
      {"two lines: the line end stays in front of the values", "status^@category^$\nOpen^@^^^$\n", "bob",
       "status^@category^$\nOpen^@^^^$\n"},
      {"leading and trailing blanks of the login", "a^$b^$", "  bob ", "a^$b^$"},
      {"a blank inside the login", "a^$b^$", "bo b", std::nullopt},
      {"three rows", "a^$b^$c^$", "bob", std::nullopt},
      {"one row", "a^@b^$", "bob", std::nullopt},
      {"empty login", "a^$b^$", "", std::nullopt},
      {"blanks only", "a^$b^$", "   ", std::nullopt},
      {"no file", "", "bob", std::nullopt},
  };
  for (const Case& c : cases) {
    fs::remove(path("users/bob"));
    if (!c.file.empty()) home_.write("users/bob", c.file);
    clear_output();
    EXPECT_EQ(getdefuser(c.login, kUserProfile), c.profile) << c.what;
    EXPECT_EQ(page(), "") << c.what;
  }
}

TEST_F(Profiles, StaffProfilesLiveInTheirOwnFolder) {
  home_.write("users/ann", "who^$user^$");
  home_.write("staff/ann", "who^$staff^$");
  EXPECT_EQ(getdefuser("ann", kUserProfile), "who^$user^$");
  EXPECT_EQ(getdefuser("ann", kStaffProfile), "who^$staff^$");
  EXPECT_EQ(update_user("ann", "who^$new^$", kStaffProfile), 0);
  EXPECT_EQ(kivtest::read_file(path("staff/ann")), "who^$new^$");
  EXPECT_EQ(kivtest::read_file(path("users/ann")), "who^$user^$");
}

TEST_F(Profiles, LoginsThatCannotNameAFile) {
  home_.write("secret", "a^$b^$");
  home_.write("users/.hidden", "a^$b^$");
  const std::vector<std::string> logins = {"..", "../secret", "a/b", "a\\b", std::string("a") + '\x01' + "b",
                                           ".hidden", "a:b", "a\tb"};
  for (const std::string& login : logins) {
    clear_output();
    EXPECT_EQ(getdefuser(login, kUserProfile), std::nullopt) << login;
    EXPECT_EQ(page(), kBadLoginMessage + "<PRE>\nInvalid Name <" + html_escape(login) + ">.\n</PRE>\n") << login;
    clear_output();
    EXPECT_EQ(update_user(login, "x^$y^$", kUserProfile), -1) << login;
    EXPECT_EQ(page(), kBadLoginMessage + "<PRE>\nInvalid Name <" + html_escape(login) + ">.\n</PRE>\n") << login;
  }
  EXPECT_EQ(entries(path("users")), std::vector<std::string>{".hidden"});
  EXPECT_EQ(kivtest::read_file(path("secret")), "a^$b^$");
  EXPECT_EQ(update_user("", "x^$y^$", kUserProfile), -1);
}

TEST_F(Profiles, WriteReplacesTheFileWhole) {
  const std::string file = path("users/bob");
  home_.write("users/bob", std::string(5000, 'o') + "^$old^$");
  ::chmod(file.c_str(), 0640);
  struct stat before {};
  ::stat(file.c_str(), &before);
  EXPECT_EQ(update_user("bob", "status^$Open^$", kUserProfile), 0);
  EXPECT_EQ(kivtest::read_file(file), "status^$Open^$");
  struct stat after {};
  ::stat(file.c_str(), &after);
  EXPECT_NE(after.st_ino, before.st_ino);  // a new file renamed over the old one
  EXPECT_EQ(after.st_mode & 0777, 0640u);
  EXPECT_EQ(entries(path("users")), std::vector<std::string>{"bob"});
  EXPECT_EQ(getdefuser("bob", kUserProfile), "status^$Open^$");
  // A login that has no profile yet gets one.
  EXPECT_EQ(update_user("new", "a^$b^$", kUserProfile), 0);
  EXPECT_EQ(kivtest::read_file(path("users/new")), "a^$b^$");
}

TEST_F(Profiles, FailedWriteKeepsTheOldProfile) {
  home_.write("users/bob", "status^$Old^$");
  fs::permissions(path("users/bob"), fs::perms(0644));
  fs::permissions(path("users"), fs::perms(0555));
  enginetest::ChildRun r = enginetest::in_child(
      [] { return std::to_string(update_user("bob", "status^$New^$", kUserProfile)); }, true);
  fs::permissions(path("users"), fs::perms(0755));
  EXPECT_EQ(r.result, "-1");
  EXPECT_EQ(r.page, "<PRE>\nCannot open file <" + path("users/bob") + "> errno=13 \n</PRE>\n");
  EXPECT_EQ(kivtest::read_file(path("users/bob")), "status^$Old^$");
  EXPECT_EQ(entries(path("users")), std::vector<std::string>{"bob"});
}

TEST_F(Profiles, AddLeavesTheSubmittersProfile) {
  auto list = objects({
      {"user_fields.VALUE", "status^@category^@phone^@note^@priority^@marker^$"},
      {"submitted_by.VALUE", "bob", Origin::request},
      {"status.VALUE", "Open", Origin::request},
      // category is left empty; phone holds a column separator, note a row
      // end, priority is a menu with its item list, marker the empty marker.
      {"phone.VALUE", "555^@1234", Origin::request},
      {"note.VALUE", "first^$second", Origin::request},
      {"priority.VALUE", "High^@Low^@High^$"},
      {"marker.VALUE", "^^", Origin::request},
  });
  EXPECT_EQ(adduserdefaults(*list), 0);
  const std::string expected = "status^@category^@phone^@note^@priority^@marker^$Open^@^^^@555@1234^@^^^@^^^@^^$";
  EXPECT_EQ(kivtest::read_file(path("users/bob")), expected);
  EXPECT_EQ(getdefuser("bob", kUserProfile), expected);
  EXPECT_EQ(page(), "");
}

TEST_F(Profiles, AddWritesNothingWithoutFieldsOrSubmitter) {
  struct Case {
    const char* what;
    std::vector<enginetest::Attr> attrs;
  } cases[] = {
      {"no user_fields", {{"submitted_by.VALUE", "bob"}, {"status.VALUE", "Open"}}},
      {"no submitter", {{"user_fields.VALUE", "status^$"}, {"status.VALUE", "Open"}}},
      {"user_fields without a row end", {{"user_fields.VALUE", "status"}, {"submitted_by.VALUE", "bob"}}},
      {"user_fields of empty columns", {{"user_fields.VALUE", "^^^@^^^$"}, {"submitted_by.VALUE", "bob"}}},
  };
  for (const Case& c : cases) {
    auto list = objects(c.attrs);
    EXPECT_EQ(adduserdefaults(*list), 0) << c.what;
    EXPECT_TRUE(entries(path("users")).empty()) << c.what;
  }
  // A submitter that cannot name a file gets the login messages.
  auto list = objects({{"user_fields.VALUE", "status^$"}, {"submitted_by.VALUE", "../staff/ann"}});
  EXPECT_EQ(adduserdefaults(*list), 0);
  EXPECT_EQ(page(), kBadLoginMessage + "<PRE>\nInvalid Name <../staff/ann>.\n</PRE>\n");
  EXPECT_TRUE(entries(path("staff")).empty());
}

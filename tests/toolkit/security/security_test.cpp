// Logins, accounts, custom security and session keys over a fixture home.
#include <gtest/gtest.h>

#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>
#include <utime.h>

#include "toolkit/cgitest.h"
#include "toolkit/base/kivcontext.h"
#include "toolkit/base/kivio.h"
#include "toolkit/security/security.h"

using namespace kiv;
using cgitest::exit_status;
using kivtest::read_file;

namespace {

class Security : public cgitest::HomeTest {
 protected:
  void SetUp() override {
    HomeTest::SetUp();
    set("SCRIPT_NAME", "/cgi-bin/up.exe");
    write("client/config/authusers", "# listed logins\nAnn\n  indented\nbob\n");
  }
  void config(const std::string& reg, const std::string& auth) {
    write("client/config/login_config", "# security\nup.exe_REG=" + reg + "\nup.exe_AUTH=" + auth +
                                            "\nup.exe_AUTHFILE=authusers\n");
  }
  bool shown(const std::string& text) const { return page().find(text) != std::string::npos; }
  std::string loginfile(const std::string& login) const { return read_file(path("login/" + login)); }
  void age(const std::string& relative, long seconds) {
    struct utimbuf t;
    t.actime = t.modtime = std::time(nullptr) - seconds;
    utime(path(relative).c_str(), &t);
  }
};

}  // namespace

TEST_F(Security, LoginConfigValues) {
  reqctx().kivdebug = 1;
  write("client/config/login_config",
        "# comment\n UP.EXE_REG=ignored\nnoequals\nUP.EXE_reg=first\nup.exe_REG =spaced\n"
        "up.exe_REG=  System  \nup.exe_AUTHFILE=authusers\nother.exe_AUTH=PASSR\n");
  FilePtr f = openlogin_conigfile();
  loginvals v = getloginval("up.exe", f.get());
  EXPECT_EQ(v.reg, "System");
  EXPECT_EQ(v.auth, std::nullopt);
  EXPECT_EQ(v.authfile, "authusers");
  EXPECT_TRUE(shown("DEBUG REG='System'"));
  EXPECT_EQ(findlogin("ANN", v.authfile), 0);
  EXPECT_EQ(findlogin("indented", v.authfile), 1);
  EXPECT_EQ(findlogin("carl", v.authfile), 1);
  EXPECT_EQ(findlogin("ann", std::nullopt), 1);
  EXPECT_TRUE(shown("auth file is null\n"));
  EXPECT_EQ(findlogin("ann", std::string("missing")), 1);
  EXPECT_TRUE(shown("Cannot open file '" + path("client/config/missing") + "' for reading. errno=2\n"));
}

TEST_F(Security, MissingLoginConfigEndsTheRequest) {
  EXPECT_EQ(exit_status([] { loginuser("ann/x"); }), 0);
  EXPECT_TRUE(shown("Cannot open file '" + path("client/config/login_config") + "' for reading. errno=2\n"));
}

TEST_F(Security, LoginuserByRegistrationAndPassword) {
  ASSERT_EQ(createloginfile("ann", "right1"), 0);
  ASSERT_EQ(createloginfile("carl", "right1"), 0);
  struct Case {
    const char* reg;
    const char* auth;
    const char* text;
    int result;
    const char* message;
  } cases[] = {
      {"self", "none", "anyone", 0, nullptr},
      {"SYSTEM", "none", "bob", 0, nullptr},
      {"system", "none", "carl", 1, "Your login 'carl' is not registerd in the system.\n"},
      {"self", "PASSR", "carl/right1", 0, nullptr},
      {"self", "passr", "carl/wrong", 1, "Invalid login or password.\n"},
      {"self", "passr", "carl", 1, "Password is required."},
      {"self", "passr", "carl/", 1, "Please enter a password and try again."},
      {"System", "passr", "ann/right1", 0, nullptr},
      {"System", "passr", "carl/right1", 1, "Your login 'carl' is not registerd in the system.\n"},
      {"System", "passr", "ann/wrong", 1, "Invalid login or password.\n"},
      {"System", "passr", "", 1, "login.VALUE and password.VALUE variable is  missing. \n"},
  };
  for (const Case& c : cases) {
    config(c.reg, c.auth);
    clear_output();
    EXPECT_EQ(loginuser(c.text), c.result) << c.reg << " " << c.auth << " " << c.text;
    if (c.message) {
      EXPECT_TRUE(shown(c.message)) << c.text << "\n" << page();
    }
  }
}

TEST_F(Security, LoginuserNeedsTheScriptsValues) {
  config("self", "passr");
  set("SCRIPT_NAME", "");
  EXPECT_EQ(loginuser("ann/x"), 1);
  EXPECT_TRUE(shown("Cannot determine script name\n"));
  set("SCRIPT_NAME", "/cgi-bin/other.exe");
  EXPECT_EQ(loginuser("ann/x"), 1);
  EXPECT_TRUE(shown("Cannot determine script auth or reg values: script=other.exe\n"));
  EXPECT_EQ(checksecurity(), 1);
}

TEST_F(Security, LoginFilesHoldSaltedHashesAndWholePasswordsCount) {
  reqctx().kivdebug = 1;
  ASSERT_EQ(createloginfile("ann", "longpassword12"), 0);
  std::string text = loginfile("ann");
  EXPECT_EQ(text.substr(0, 4), "ann\n");
  EXPECT_EQ(text[4], '$');
  EXPECT_EQ(text.find("longpassword12"), std::string::npos);
  ASSERT_EQ(createloginfile("bob", "longpassword12"), 0);
  EXPECT_NE(loginfile("bob").substr(4), text.substr(4));  // salted
  EXPECT_EQ(comparepassword({"ann", "longpassword12"}), 0);
  EXPECT_EQ(comparepassword({"ann", "longpassw"}), 1);
  EXPECT_EQ(comparepassword({"ann", "longpassword1234"}), 1);
  EXPECT_EQ(comparepassword({"nobody", "x"}), 1);
  EXPECT_EQ(page().find("longpassword"), std::string::npos) << "a password reached the trace";
  EXPECT_EQ(createloginfile("", "x"), 1);
  EXPECT_EQ(createloginfile("x", ""), 1);
}

TEST_F(Security, OldFormLoginFileIsAcceptedOnceAndRewritten) {
  EXPECT_EQ(kivdecrypt(kivencrypt("secret")), "secret");
  EXPECT_EQ(kivdecrypt(kivencrypt("twelvechars!")), "twelvecha");
  EXPECT_EQ(kivencrypt("ab").size(), 10u);
  EXPECT_EQ(kivencrypt("ab")[0], 3);
  write("login/ann", "ann\n" + kivencrypt("twelvechars!") + "\n");
  age("login/ann", 86400);
  struct stat before;
  ::stat(path("login/ann").c_str(), &before);
  EXPECT_EQ(comparepassword({"ann", "twelvecha"}), 1);     // same nine, not the same password
  EXPECT_EQ(comparepassword({"ann", "twelvechaXYZ"}), 0);  // all that the old form can tell
  std::string text = loginfile("ann");
  EXPECT_EQ(text[4], '$');
  struct stat after;
  ::stat(path("login/ann").c_str(), &after);
  EXPECT_EQ(after.st_mtime, before.st_mtime);  // the password's age is kept
  EXPECT_EQ(comparepassword({"ann", "twelvechars!"}), 1);
  EXPECT_EQ(comparepassword({"ann", "twelvechaXYZ"}), 0);
}

// Files that the Windows runtime wrote in text mode: every line feed, also one
// inside the encoded bytes, stored as CR LF.
std::string text_mode(const std::string& bytes) {
  std::string out;
  for (char c : bytes) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

TEST_F(Security, OldFormFilesWrittenOnWindowsAreRead) {
  // Nine characters make a length byte that is a line feed.
  ASSERT_EQ(kivencrypt("ninechar9")[0], '\n');
  write("login/ann", text_mode("ann\n" + kivencrypt("ninechar9") + "\n"));
  EXPECT_EQ(comparepassword({"ann", "ninechar9"}), 0);
  EXPECT_EQ(loginfile("ann")[4], '$');
  EXPECT_EQ(comparepassword({"ann", "ninechar9"}), 0);

  std::string history("\1\0\0\0", 4);
  for (const char* p : {"first1", "ninechar9"}) {
    std::string slot = kivencrypt(p) + "\n";
    slot.resize(100, '\0');
    history += slot;
  }
  history += std::string(400, '\0');
  write("login/bob.history", text_mode(history));
  EXPECT_EQ(custom_check_pass_history("bob", "first1"), 1);
  EXPECT_EQ(custom_check_pass_history("bob", "ninechar9"), 1);
  EXPECT_EQ(custom_check_pass_history("bob", "third3"), 0);
  pass_history back;
  read_pass_history_file("bob", back);
  EXPECT_EQ(back.index, 2);  // the first free slot
  EXPECT_EQ(custom_check_pass_history("bob", "first1"), 1);
}

TEST_F(Security, UnusableLoginNamesNeverNameAFile) {
  for (const char* bad : {"../login/ann", "a/b", "a\\b", "..", ".hidden", "a\x01z", "a:b", "a b",
                          "a\tb", "a*b", "a\"b", "a<b", "a>b", "a?b", "a|b"}) {
    clear_output();
    EXPECT_EQ(invalidname(bad), 1) << bad;
    EXPECT_TRUE(shown("Login can not contain any of the following charachters \\:/*\"<>?| tab or space"));
  }
  for (const char* good : {"ann", "j.doe", "x-y_z"}) EXPECT_EQ(invalidname(good), 0) << good;
  for (const char* bad : {"../x", ".x", "a/b"}) {
    EXPECT_EQ(createloginfile(bad, "pw"), 1) << bad;
    EXPECT_EQ(accountexist(bad), 1) << bad;
    EXPECT_EQ(loginfile_path(bad), std::nullopt);
  }
  EXPECT_EQ(accountexist(""), 1);
  EXPECT_EQ(accountexist("nobody"), 0);
  // Names of the files beside a login file are no logins: registering
  // ann.disabled would disable ann, ann.attempts would be ann's counter.
  ASSERT_EQ(createloginfile("ann", "right1"), 0);
  for (const char* side : {"ann.disabled", "ann.attempts", "ann.history"}) {
    clear_output();
    EXPECT_EQ(newuser(side, "pw1pw1", "pw1pw1", 0), 1) << side;
    EXPECT_TRUE(shown("Login can not contain any of the following charachters")) << side;
    EXPECT_FALSE(exists(std::string("login/") + side)) << side;
  }
  EXPECT_EQ(comparepassword({"ann", "right1"}), 0);
  EXPECT_EQ(invalidname("history"), 0);
  EXPECT_EQ(invalidname("ann.historyx"), 0);
}

TEST_F(Security, ChangeuserSteps) {
  ASSERT_EQ(createloginfile("ann", "old1pw"), 0);
  struct Case {
    const char *login, *pw, *confirm, *old, *message;
  } refusals[] = {
      {"", "a", "a", "b", "Login field is empty\n"},
      {"ann", "", "a", "b", "Password field is empty\n"},
      {"ann", "a", "", "b", "Confirm Password field is empty\n"},
      {"ann", "a", "a", "", "Old Password field is empty\n"},
      {"a b", "a", "a", "b", "Invalid Login <a b>.\n"},
      {"ann", "a", "b", "old1pw", "Password and Confirm Password fields are not the same\n"},
      {"ann", "a", "a", "wrong", "Invalid login or password.\n"},
  };
  for (const Case& c : refusals) {
    clear_output();
    EXPECT_EQ(changeuser(c.login, c.pw, c.confirm, c.old), 1) << c.message;
    EXPECT_TRUE(shown(c.message)) << page();
  }
  EXPECT_EQ(changeuser(" ann ", " new2pw", "new2pw ", "old1pw"), 0);
  EXPECT_EQ(comparepassword({"ann", "new2pw"}), 0);
  EXPECT_EQ(comparepassword({"ann", "old1pw"}), 1);
}

TEST_F(Security, NewuserAndTheForcedOverwrite) {
  EXPECT_EQ(newuser("ann", "first1", "first1", 0), 0);
  EXPECT_EQ(comparepassword({"ann", "first1"}), 0);
  EXPECT_EQ(newuser("ann", "other2", "other2", 0), 1);
  EXPECT_TRUE(shown("Login 'ann' already belongs to another user"));
  EXPECT_TRUE(shown("Please choose another login\n"));
  // Overwriting an existing account takes its current password.
  clear_output();
  EXPECT_EQ(newuser("ann", "other2", "other2", 1), 1);
  EXPECT_EQ(newuser("ann", "other2", "other2", 1, "wrong"), 1);
  EXPECT_TRUE(shown("Invalid login or password.\n"));
  EXPECT_EQ(comparepassword({"ann", "first1"}), 0);
  EXPECT_EQ(newuser("ann", "other2", "other2", 1, "first1"), 0);
  EXPECT_EQ(comparepassword({"ann", "other2"}), 0);
  EXPECT_EQ(newuser("bob", "pw", "pw", 1), 0);  // a new login needs none
  EXPECT_EQ(newuser("", "pw", "pw", 0), 1);
  EXPECT_TRUE(shown("Login field is empty\n"));
  // The account keeps its password trimmed; what was typed logs in.
  EXPECT_EQ(newuser("carl", " two  blanks9 ", " two  blanks9 ", 0), 0);
  EXPECT_EQ(comparepassword({"carl", " two  blanks9 "}), 0);
  EXPECT_EQ(comparepassword({"carl", "two blanks9"}), 0);
  EXPECT_EQ(comparepassword({"carl", "twoblanks9"}), 1);
  struct stat st;
  ASSERT_EQ(::stat(path("login/carl").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);  // a hash is for its owner only
}

TEST_F(Security, SystemRegistrationTakesOnlyListedLogins) {
  // Under system registration a new account of the plain security needs a
  // login the authorisation file names.
  config("SYSTEM", "PASSR");
  EXPECT_EQ(newuser("mallory", "x1y2z3", "x1y2z3", 0), 1);
  EXPECT_TRUE(shown("Your login 'mallory' is not registerd in the system.\n"));
  EXPECT_EQ(newuser("mallory", "x1y2z3", "x1y2z3", 1), 1);  // forced, too
  EXPECT_FALSE(exists("login/mallory"));
  EXPECT_EQ(newuser("bob", "x1y2z3", "x1y2z3", 0), 0);   // listed
  EXPECT_EQ(newuser("ANN", "x1y2z3", "x1y2z3", 1), 0);   // listed in another case
  config("self", "PASSR");
  EXPECT_EQ(newuser("mallory", "x1y2z3", "x1y2z3", 0), 0);  // self-registration takes anyone
}

TEST_F(Security, CustomSecurityNeverReadsLoginConfigForNewAccounts) {
  // Custom security does not consult login_config: neither its
  // registration nor a missing value of the script there stops an account.
  config("SYSTEM", "PASSR");
  EXPECT_EQ(custom_newuser("mallory", "x1y2z3", "x1y2z3", 0), 0);
  write("client/config/login_config", "other.exe_REG=SYSTEM\n");
  EXPECT_EQ(custom_newuser("trent", "x1y2z3", "x1y2z3", 0), 0);
  EXPECT_FALSE(shown("registerd")) << page();
  EXPECT_FALSE(shown("Cannot determine script auth or reg values")) << page();
  EXPECT_EQ(comparepassword({"trent", "x1y2z3"}), 0);
}

TEST_F(Security, NewAccountNeverReplacesWhatStandsAtItsName) {
  // The account check reads the login file; an entry that cannot be read
  // (here a link to nowhere) still takes the name: it is never replaced.
  std::filesystem::create_symlink(path("nowhere"), path("login/ann"));
  for (bool custom : {false, true}) {
    clear_output();
    EXPECT_EQ(custom ? custom_newuser("ann", "x1y2z3", "x1y2z3", 0) : newuser("ann", "x1y2z3", "x1y2z3", 0), 1);
    EXPECT_TRUE(shown("Login 'ann' already belongs to another user")) << page();
    EXPECT_TRUE(std::filesystem::is_symlink(path("login/ann")));
    EXPECT_FALSE(exists("nowhere"));
  }
  // Nothing else was written for the name: no history entry, no temporary
  // file (the lock file stays, as always).
  for (const auto& e : std::filesystem::directory_iterator(path("login")))
    EXPECT_TRUE(e.path().filename() == "ann" || e.path().filename() == ".ann.lock") << e.path();
}

TEST_F(Security, CustomPasswordRules) {
  struct Case {
    const char* password;
    const char* message;
  } cases[] = {
      {"ann", "When creating an account the login and the password may not be the same.\n"},
      {"ab1c2", "Password must be at least 6 characters or more.\n"},
      {"aaa123", "Password may not contain more than two consecutive, identical characters.\n"},
      {"abcdef", "Password may not consist of all numbers, all characters, or all special characters.\n"},
      {"123456", "Password may not consist of all numbers, all characters, or all special characters.\n"},
      {"!@#$%^", "Password may not consist of all numbers, all characters, or all special characters.\n"},
      {"abc123", nullptr},
      {"aa1aa1", nullptr},
      {"ab!cd?", nullptr},
  };
  for (const Case& c : cases) {
    clear_output();
    EXPECT_EQ(custome_check("ann", c.password), c.message ? 1 : 0) << c.password;
    if (c.message) {
      EXPECT_TRUE(shown(c.message)) << c.password;
      EXPECT_TRUE(shown("Please change your password and try again.\n"));
    }
  }
}

TEST_F(Security, PasswordHistoryRefusesTheLastSix) {
  const char* pw[] = {"first1", "second2", "third3", "fourth4", "fifth5", "sixth6", "seventh7"};
  for (const char* p : pw) ASSERT_EQ(custom_check_pass_history("ann", p), 0) << p;
  // Six slots: the seventh password overwrote the first.
  std::string file = read_file(path("login/ann.history"));
  ASSERT_EQ(file.size(), 604u);
  EXPECT_EQ(file[0], 0);
  EXPECT_EQ(file.find("second2"), std::string::npos);
  for (const char* p : {"second2", "seventh7", "fourth4"}) {
    clear_output();
    EXPECT_EQ(custom_check_pass_history("ann", p), 1) << p;
    EXPECT_TRUE(shown("Please select a password that you have not used in the past 6 password changes.\n"));
  }
  EXPECT_EQ(custom_check_pass_history("ann", "first1"), 0);
  // Long passwords are told apart whole.
  EXPECT_EQ(custom_check_pass_history("bob", "longpassword1"), 0);
  EXPECT_EQ(custom_check_pass_history("bob", "longpassword2"), 0);
  EXPECT_EQ(custom_check_pass_history("bob", "longpassword1"), 1);
}

TEST_F(Security, HistoryOfTheOldFormAndDamagedIndex) {
  pass_history h;
  h.index = 5;
  std::string old = kivencrypt("oldpw1") + "\n";
  std::copy(old.begin(), old.end(), h.slots[0].begin());
  for (size_t i = 1; i < 6; ++i) h.slots[i] = h.slots[0];
  ASSERT_EQ(write_pass_history_file("ann", h), 0);
  EXPECT_EQ(custom_check_pass_history("ann", "oldpw1"), 1);
  EXPECT_EQ(custom_check_pass_history("ann", "newpw2"), 0);
  pass_history back;
  read_pass_history_file("ann", back);
  EXPECT_EQ(back.index, 0);  // after 5 comes 0
  // An index outside the six slots starts over instead of writing past them.
  std::string damaged = read_file(path("login/ann.history"));
  damaged[0] = 100;
  write("login/ann.history", damaged);
  read_pass_history_file("ann", back);
  EXPECT_EQ(back.index, 0);
  EXPECT_EQ(custom_check_pass_history("ann", "third3"), 0);
}

TEST_F(Security, CustomLoginCountsFailuresAndDisablesTheAccount) {
  ASSERT_EQ(createloginfile("ann", "right1"), 0);
  EXPECT_EQ(custom_loginuser("ann/bad"), 1);
  EXPECT_EQ(read_file(path("login/ann.attempts")), "1\n");
  EXPECT_EQ(custom_loginuser("ann/right1"), 0);
  EXPECT_FALSE(exists("login/ann.attempts"));
  for (int i = 0; i < 6; ++i) EXPECT_EQ(custom_loginuser("ann/bad"), 1);
  EXPECT_EQ(read_file(path("login/ann.attempts")), "6\n");
  clear_output();
  EXPECT_EQ(exit_status([] { custom_loginuser("ann/bad"); }), 0);
  EXPECT_TRUE(shown("Your account has been disabled.\n"));
  EXPECT_TRUE(shown("Contact the system administrator to renew your account.\n"));
  EXPECT_FALSE(exists("login/ann.attempts"));
  EXPECT_TRUE(exists("login/ann"));  // kept for the administrator, but disabled
  clear_output();
  EXPECT_EQ(custom_loginuser("ann/right1"), 1);
  EXPECT_TRUE(shown("Your account is disabled. Contact the system administrator.\n"));
  EXPECT_EQ(newuser("ann", "x1y2z3", "x1y2z3", 0), 1);  // the name stays taken
  std::filesystem::remove(path("login/ann.disabled"));
  EXPECT_EQ(custom_loginuser("ann/right1"), 0);
  EXPECT_EQ(custom_loginuser(""), 1);
  EXPECT_TRUE(shown("custom_login:login.VALUE and password.VALUE variable is  missing. \n"));
}

TEST_F(Security, PasswordFormsCountFailuresUnderCustomSecurity) {
  // Guessing the current password through a password change or an account
  // overwrite counts as failed logins, as guessing it at the login does.
  ASSERT_EQ(createloginfile("ann", "right1"), 0);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(custom_changeuser("ann", "new2pw", "new2pw", "bad"), 1);
  for (int i = 0; i < 2; ++i) EXPECT_EQ(custom_newuser("ann", "new2pw", "new2pw", 1, "bad"), 1);
  EXPECT_EQ(custom_loginuser("ann/bad"), 1);
  EXPECT_EQ(read_file(path("login/ann.attempts")), "6\n");
  clear_output();
  EXPECT_EQ(exit_status([] { custom_changeuser("ann", "new2pw", "new2pw", "bad"); }), 0);
  EXPECT_TRUE(shown("Your account has been disabled.\n"));
  EXPECT_TRUE(exists("login/ann.disabled"));
  EXPECT_EQ(custom_changeuser("ann", "new2pw", "new2pw", "right1"), 1);
  EXPECT_EQ(custom_newuser("ann", "new2pw", "new2pw", 1, "right1"), 1);
  std::filesystem::remove(path("login/ann.disabled"));
  // The right current password clears the count.
  EXPECT_EQ(custom_changeuser("ann", "new2pw", "new2pw", "bad"), 1);
  EXPECT_EQ(custom_changeuser("ann", "new2pw", "new2pw", "right1"), 0);
  EXPECT_FALSE(exists("login/ann.attempts"));
  // Plain security has no lockout and counts nothing.
  EXPECT_EQ(changeuser("ann", "new3pw", "new3pw", "bad"), 1);
  EXPECT_FALSE(exists("login/ann.attempts"));
}

TEST_F(Security, FailuresAreCountedOneAtATime) {
  // A failure waits for the login's lock, so that guesses sent at the same
  // time cannot all read the same count.
  ASSERT_EQ(createloginfile("ann", "right1"), 0);
  write("login/ann.attempts", "3\n");
  int fd = ::open(path("login/.ann.lock").c_str(), O_RDONLY | O_CREAT, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_EX), 0);
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    int r = exit_status([] { custom_loginuser("ann/bad"); }).value_or(9);
    ::_exit(r == 9 ? 0 : 1);
  }
  EXPECT_TRUE(kivtest::waits_for_lock(child, path("login/.ann.lock"))) << "the failure did not wait for the lock";
  EXPECT_EQ(read_file(path("login/ann.attempts")), "3\n");
  int status = 0;
  ::flock(fd, LOCK_UN);
  ::close(fd);
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(read_file(path("login/ann.attempts")), "4\n");
}

TEST_F(Security, AttemptCountsAreReplacedAndTheirLockFileStays) {
  ASSERT_EQ(createloginfile("ann", "right1"), 0);
  write("login/ann.attempts", "2\n");
  std::filesystem::create_hard_link(path("login/ann.attempts"), path("before"));
  EXPECT_EQ(custom_loginuser("ann/bad"), 1);
  EXPECT_EQ(read_file(path("login/ann.attempts")), "3\n");
  EXPECT_EQ(read_file(path("before")), "2\n");  // a new file, not the old one rewritten in place
  // The lock file outlives the count it guards: a right password removes the
  // count, the seventh failure removes it too, and the lock file stays, so a
  // later request never locks a file that another one has deleted.
  struct stat lock_before {};
  ASSERT_EQ(::stat(path("login/.ann.lock").c_str(), &lock_before), 0);
  EXPECT_EQ(custom_loginuser("ann/right1"), 0);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(custom_loginuser("ann/bad"), 1);
  EXPECT_EQ(exit_status([] { custom_loginuser("ann/bad"); }), 0);
  EXPECT_FALSE(exists("login/ann.attempts"));
  struct stat lock_after {};
  ASSERT_EQ(::stat(path("login/.ann.lock").c_str(), &lock_after), 0);
  EXPECT_EQ(lock_after.st_ino, lock_before.st_ino);
  EXPECT_EQ(invalidname(".ann.lock"), 1);  // no login names the lock file
}

TEST_F(Security, PasswordHistoryIsChangedUnderTheLock) {
  // Two password changes at once: the second waits for the first, so that
  // both land in the history.
  ASSERT_EQ(custom_check_pass_history("ann", "first1"), 0);
  int fd = ::open(path("login/.ann.lock").c_str(), O_RDONLY | O_CREAT, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_EX), 0);
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) ::_exit(custom_check_pass_history("ann", "second2") == 0 ? 0 : 1);
  // The change waits for the holder (a change that did not would end by
  // itself, and the holder's change below would then overwrite its entry).
  EXPECT_TRUE(kivtest::waits_for_lock(child, path("login/.ann.lock"))) << "the change did not wait for the lock";
  int status = 0;
  // Meanwhile the holder changes the history itself.
  pass_history h;
  read_pass_history_file("ann", h);
  std::string third = kivencrypt("third3") + "\n";
  std::copy(third.begin(), third.end(), h.slots[1].begin());
  h.index = 1;
  ASSERT_EQ(write_pass_history_file("ann", h), 0);
  ::flock(fd, LOCK_UN);
  ::close(fd);
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  for (const char* p : {"first1", "third3", "second2"}) EXPECT_EQ(custom_check_pass_history("ann", p), 1) << p;
}

// Requests for the same new login at the same moment: each waits for the
// login's lock, and exactly one gets the account, under plain and under
// custom security (whose history step runs under the same lock).
TEST_F(Security, ConcurrentNewAccountsForOneNameGiveItOnce) {
  constexpr int kRequests = 6;
  for (bool custom : {false, true}) {
    SCOPED_TRACE(custom ? "custom" : "plain");
    const std::string login = custom ? "carl" : "dora";
    const std::string lockfile = path("login/." + login + ".lock");
    int fd = ::open(lockfile.c_str(), O_RDONLY | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    std::vector<pid_t> children;
    for (int i = 0; i < kRequests; ++i) {
      pid_t child = ::fork();
      ASSERT_GE(child, 0);
      if (child == 0) {
        const std::string pw = "pw" + std::to_string(i) + "xy9";
        int r = 9;
        exit_status([&] { r = custom ? custom_newuser(login, pw, pw, 0) : newuser(login, pw, pw, 0); });
        ::_exit(r);
      }
      children.push_back(child);
      EXPECT_TRUE(kivtest::waits_for_lock(child, lockfile)) << "request " << i << " did not wait for the lock";
    }
    ::flock(fd, LOCK_UN);
    ::close(fd);
    std::vector<int> made;
    for (int i = 0; i < kRequests; ++i) {
      int status = 0;
      ASSERT_EQ(::waitpid(children[static_cast<size_t>(i)], &status, 0), children[static_cast<size_t>(i)]);
      ASSERT_TRUE(WIFEXITED(status));
      EXPECT_TRUE(WEXITSTATUS(status) == 0 || WEXITSTATUS(status) == 1) << WEXITSTATUS(status);
      if (WEXITSTATUS(status) == 0) made.push_back(i);
    }
    ASSERT_EQ(made.size(), 1u);
    EXPECT_EQ(comparepassword({login, "pw" + std::to_string(made[0]) + "xy9"}), 0);
  }
}

TEST_F(Security, CustomLoginRedirectsExpiredAndInitialPasswords) {
  ASSERT_EQ(createloginfile("j.doe", "right1"), 0);
  age("login/j.doe", 31L * 86400);
  EXPECT_EQ(custom_30age(path("login/j.doe")), 1);
  EXPECT_EQ(exit_status([] { custom_loginuser("j.doe/right1"); }), 0);
  EXPECT_EQ(page(),
            "<script language=\"JavaScript\">window.location=\"/cgi-bin/kepa.cgi?KIVACTION="
            "expired_login&skey=472019385561027384&nv_remote_user=j%2Edoe\"</script>");
  clear_output();
  ASSERT_EQ(createloginfile("bob", std::string(kInitialPassword)), 0);
  EXPECT_EQ(custom_30age(path("login/bob")), 0);
  EXPECT_EQ(exit_status([] { custom_loginuser("bob/plumtarn507 "); }), 0);
  EXPECT_NE(page().find("KIVACTION=initial_login&skey=472019385561027384&nv_remote_user=bob\""),
            std::string::npos);
}

TEST_F(Security, CustomChangeAndNewAccountApplyTheRules) {
  ASSERT_EQ(custom_newuser("ann", "abc123", "abc123", 0), 0);
  EXPECT_EQ(custom_newuser("bob", "abcdef", "abcdef", 0), 1);
  EXPECT_FALSE(exists("login/bob"));
  EXPECT_EQ(custom_changeuser("ann", "abc123", "abc123", "abc123"), 1);  // in the history
  EXPECT_EQ(custom_changeuser("ann", "xyz789", "xyz789", "abc123"), 0);
  EXPECT_EQ(comparepassword({"ann", "xyz789"}), 0);
}

TEST_F(Security, SessionKeyShape) {
  EXPECT_TRUE(skey_shape(kFixedSkey));
  EXPECT_TRUE(skey_shape("00200930500000000000"));
  for (const char* bad : {"NOKEY", "", "472019385561027384x", "47201938556102738", "472019384561027384",
                          "471019385561027384", "472018385561027384", "472019485561027384",
                          "472019386561027384", "4720193855610273a4", "../../etc/passwd00000"})
    EXPECT_FALSE(skey_shape(bad)) << bad;
}

TEST_F(Security, KeysAreRandomAndBoundToTheirLogin) {
  ASSERT_EQ(generateskey("ann"), 0);
  std::string first = reqctx().skey;
  EXPECT_TRUE(skey_shape(first));
  EXPECT_EQ(first.size(), 20u);
  EXPECT_EQ(reqctx().session_key, first);  // published with the request's variables
  EXPECT_EQ(read_file(path("session/" + first)), "ann\n");
  ASSERT_EQ(generateskey("bob"), 0);
  std::string second = reqctx().skey;
  EXPECT_NE(first, second);
  EXPECT_EQ(session_login(first), "ann");
  EXPECT_EQ(session_login(second), "bob");
  EXPECT_EQ(generateskey("../x"), 1);

  reqctx().skey = first;
  reqctx().session_login.clear();
  EXPECT_EQ(checkskey(), 0);
  EXPECT_EQ(reqctx().session_login, "ann");
  // Forged keys of the right shape have no record.
  for (std::string forged : {std::string(kFixedSkey), std::string("00200930500000000000")}) {
    reqctx().skey = forged;
    clear_output();
    EXPECT_EQ(checkskey(), 1) << forged;
    EXPECT_EQ(page(), "");
  }
  // A logged-out key stays refused.
  write("logout/" + first, "");
  reqctx().skey = first;
  EXPECT_EQ(checkskey(), 1);
  EXPECT_TRUE(shown("Your account has been logged out of the system.\n"));
  EXPECT_TRUE(shown("Please re-login to continue with a new session\n"));
  EXPECT_EQ(session_login(first), std::nullopt);
}

TEST_F(Security, ChecksecurityOnlyChecksKeysWhenPasswordsAreRequired) {
  config("self", "none");
  reqctx().skey = "NOKEY";
  EXPECT_EQ(checksecurity(), 0);
  config("self", "PassR");
  EXPECT_EQ(checksecurity(), 1);
  ASSERT_EQ(generateskey("ann"), 0);
  EXPECT_EQ(checksecurity(), 0);
}

TEST_F(Security, UserLogin) {
  set("REMOTE_USER", "DOM\\ann/extra");
  EXPECT_EQ(getuserlogin(), "DOM\\ann");
  set("REMOTE_USER", "");
  EXPECT_EQ(getuserlogin(), std::nullopt);
  EXPECT_EQ(getscript(), "up.exe");
  EXPECT_TRUE(is_password_name("oldPassword.VALUE"));
  EXPECT_FALSE(is_password_name("login.VALUE"));
  loginpair p = getloginpasswd("ann/pa/ss");
  EXPECT_EQ(p.login, "ann");
  EXPECT_EQ(p.password, "pa/ss");
  EXPECT_EQ(getloginpasswd("ann").password, std::nullopt);
}

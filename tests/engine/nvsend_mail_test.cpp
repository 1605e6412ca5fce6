// The mail trigger end to end against the scripted SMTP peer: the switch,
// the main mail and one mail per custom message, what showmaillist shows,
// the defaults, the password kept out of the trace, the three-table lookups
// (asked only when needed, and for every case of the assignment command), and
// MAPI mail recorded by the recording library or sent by SMTP in the Linux
// flavour.
#include <gtest/gtest.h>

#include "data/mailrecords.h"
#include "engine/nvsend_mail.h"
#include "engine/upclock.h"
#include "engine/upflags.h"
#include "engine/upstamp.h"
#include "enginetest.h"
#include "platform/flavour.h"
#include "tests/data/dbroad.h"
#include "tests/data/smtppeer.h"
#include "toolkit/base/kivcontext.h"
#include "toolkit/base/kivsettings.h"

using namespace kiv;
using enginetest::Attr;
using enginetest::value;
using kivtest::ScopedEnv;
using kivtest::SmtpPeer;

namespace {

// A case on the form: the fields (with their DBKEYs) and the addresses.
std::vector<Attr> a_case() {
  return {{"case_num.DBKEY", "case_num"},         {"case_num.VALUE", "12", Origin::request},
          {"status.DBKEY", "status"},             {"status.VALUE", "Open", Origin::request},
          {"submitted_by.DBKEY", "submitted_by"}, {"submitted_by.VALUE", "sue", Origin::request},
          {"sub_e_mail.DBKEY", "sub_e_mail"},     {"sub_e_mail.VALUE", "sue@x.test", Origin::request}};
}

const std::vector<Attr> kMailOn = {
    {"mail_notification.VALUE", "ON"},
    {"mailmsg_subject.TITLE", "Case {case_num} is {status}"},
    {"mailmsg_body.VALUE", "case_num^@problem_nostamp^$"},
    {"mailmsg_body.TITLE", "Case^@Problem^$"},
    {"mail_smtp_host.VALUE", "127.0.0.1"},
    {"mail_sender_login.VALUE", "help@desk.test"},
    {"mail_sender_password.VALUE", "Sup3rSecret"},
};

// The body of one SMTP session.
std::string body_of(const std::string& session) {
  size_t start = session.find("\r\n\r\n");
  size_t end = session.rfind("\r\n.\r\n");
  if (start == std::string::npos || end == std::string::npos || end < start) return "<no body>";
  return session.substr(start + 4, end - start - 4);
}

class Trigger : public kivtest::KivTest {
 protected:
  void SetUp() override {
    KivTest::SetUp();
    engineclock().now = 1700000000;
    reqctx().action = "respond";  // as the start-up keeps the request's action
    mailstate().smtp_port = peer_.port();
    peer_.start();
  }
  std::unique_ptr<objlist> send(const std::vector<Attr>& attrs, int expected = 0) {
    auto list = enginetest::objects(attrs);
    EXPECT_EQ(nvsend_mail(*list), expected);
    return list;
  }
  SmtpPeer peer_;
};

}  // namespace

TEST_F(Trigger, SwitchedOff) {
  auto missing = send(a_case(), -1);
  EXPECT_EQ(value(*missing, "showmaillist"), "E-mail notification is OFF");
  auto other = send(a_case() + std::vector<Attr>{{"mail_notification.VALUE", "on"}}, 0);
  EXPECT_EQ(value(*other, "showmaillist"), "E-mail notification is OFF");
  EXPECT_FALSE(peer_.connected());
}

TEST_F(Trigger, MainMailAndOneMailPerCustomMessage) {
  reqctx().kivdebug = 1;
  auto stamp_list = enginetest::objects({{"status.VALUE", "Open"}});
  std::string stamp;
  {
    ScopedEnv login("REMOTE_USER", "sue");
    stamp = stampline(*stamp_list);
  }
  ASSERT_TRUE(stamp.ends_with(" - sue - respond-]")) << stamp;
  auto rules = std::vector<Attr>{
      {"others_e_mail.VALUE", "ops@x.test"},
      {"problem.VALUE", "Printer jammed" + stamp, Origin::request},
      {"maillist_status^$:1.VALUE", "Open^$"},
      {"maillist_status^$:1.TITLE", "bob@x.test^@USER^$"},
      {"maillist_status^$:2.VALUE", "Open^$"},
      {"maillist_status^$:2.TITLE", "carol@x.test^$"},
      {"maillist_status^$:2.CONTROL", "message_status^$:2"},
      {"message_status^$:2.CONTROL", "Custom {case_num}"},
      {"message_status^$:2.VALUE", "status^$"},
      {"message_status^$:2.TITLE", "Status^$"},
      {"maillist_status^$:3.VALUE", "Open^$"},
      {"maillist_status^$:3.TITLE", "STAFF^$"},  // nobody assigned: no recipient
      {"maillist_status^$:3.CONTROL", "message_status^$:2"},
  };
  auto list = send(a_case() + kMailOn + rules);
  EXPECT_EQ(value(*list, "showmaillist"), "sue@x.test,ops@x.test,bob@x.test,carol@x.test");
  EXPECT_TRUE(list->find("showmaillist")->marked(attr::VALUE));

  std::vector<std::string> mails = peer_.sessions();
  ASSERT_EQ(mails.size(), 2u);
  EXPECT_NE(mails[0].find("MAIL FROM: help@desk.test\r\nRCPT TO:  sue@x.test\r\nRCPT TO:  ops@x.test\r\n"
                          "RCPT TO:  bob@x.test\r\nDATA\r\n"),
            std::string::npos)
      << mails[0];
  EXPECT_NE(mails[0].find("Subject: Case 12 is Open\r\n"), std::string::npos);
  EXPECT_EQ(body_of(mails[0]),
            "Case\r\n====\r\n12\r\n\r\nProblem\r\n=======\r\n\r\n\r\nsue wrote:\r\nPrinter jammed\r\n\r\n");
  EXPECT_NE(mails[1].find("RCPT TO:  carol@x.test\r\nDATA\r\n"), std::string::npos) << mails[1];
  EXPECT_NE(mails[1].find("Subject: Custom 12\r\n"), std::string::npos);
  EXPECT_EQ(body_of(mails[1]), "Status\r\n======\r\nOpen\r\n\r\n");

  const std::string p = page();
  EXPECT_NE(p.find("nv_sendmail: Mailtype=SMTP Mailhost=127.0.0.1 Maillogin=help@desk.test"), std::string::npos);
  EXPECT_NE(p.find("mail trigger with custom message: no receipient"), std::string::npos);
  EXPECT_NE(p.find("nv_sendmail: Send mail to:=sue@x.test,ops@x.test,bob@x.test"), std::string::npos);
  EXPECT_EQ(p.find("Sup3rSecret"), std::string::npos);
}

TEST_F(Trigger, DefaultsAndOnlyCustomRecipients) {
  auto list = send({{"case_num.DBKEY", "case_num"},
                    {"case_num.VALUE", "7"},
                    {"mail_notification.VALUE", "ON"},
                    {"maillist_case_num^$:1.VALUE", "7^$"},
                    {"maillist_case_num^$:1.TITLE", "carol@x.test^$"},
                    {"maillist_case_num^$:1.CONTROL", "message_case_num^$:1"},
                    {"message_case_num^$:1.TITLE", "Case {case_num}"}});
  EXPECT_EQ(value(*list, "showmaillist"), "carol@x.test");
  std::vector<std::string> mails = peer_.sessions();
  ASSERT_EQ(mails.size(), 1u);  // the empty main list sends nothing
  EXPECT_NE(mails[0].find("MAIL FROM: Administrator\r\nRCPT TO:  carol@x.test\r\n"), std::string::npos) << mails[0];
  EXPECT_EQ(body_of(mails[0]), "Case 7");
}

// The RCPT addresses of one SMTP session, joined by ",".
std::string rcpts_of(const std::string& session) {
  std::string rcpts;
  for (size_t at = 0; (at = session.find("RCPT TO:  ", at)) != std::string::npos; at += 10) {
    const size_t end = session.find("\r\n", at);
    rcpts += (rcpts.empty() ? "" : ",") + session.substr(at + 10, end - at - 10);
  }
  return rcpts;
}

// No fixed table holds the recipients: a hundred of them all get the mail,
// and the shown list keeps every one of them, far past 2,048 characters. One
// more, and the mail is not sent (the failed send says so) rather than cut.
TEST_F(Trigger, AHundredRecipientsAndALongShownList) {
  std::string row, shown = "sue@x.test";
  for (int i = 0; i < 99; ++i) {
    const std::string who = "recipient-number-" + std::to_string(i) + "@x.test";
    row += (i ? "^@" : "") + who;
    shown += "," + who;
  }
  auto list = send(a_case() + kMailOn +
                   std::vector<Attr>{{"maillist_status^$:1.VALUE", "Open^$"}, {"maillist_status^$:1.TITLE", row + "^$"}});
  EXPECT_GT(shown.size(), 2048u);
  EXPECT_EQ(value(*list, "showmaillist"), shown);
  std::vector<std::string> mails = peer_.sessions();
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_EQ(rcpts_of(mails[0]), shown);
  EXPECT_NE(mails[0].find("recipient-number-98@x.test\r\nDATA\r\n"), std::string::npos);
  EXPECT_EQ(page(), "");

  SmtpPeer other;
  mailstate().smtp_port = other.port();
  other.start();
  send(a_case() + kMailOn +
       std::vector<Attr>{{"maillist_status^$:1.VALUE", "Open^$"},
                         {"maillist_status^$:1.TITLE", row + "^@one@more.test^$"}});
  EXPECT_FALSE(other.connected());
  EXPECT_EQ(page(), "smtp mail failed to send mail.\n");
}

// An address field that a request filled mails its first address only; the
// configuration's lists and a record's value keep all of theirs.
TEST_F(Trigger, OneAddressPerRequestField) {
  struct Case {
    const char* what;
    std::vector<Attr> attrs;
    std::string rcpts;
  } cases[] = {
      {"a request's list in sub_e_mail",
       {{"sub_e_mail.VALUE", " sue@x.test , mallory@x.test,eve@x.test", Origin::request}},
       "sue@x.test"},
      {"a request's list in sa_e_mail, named by STAFF",
       {{"sa_e_mail.VALUE", "sam@x.test,eve@x.test", Origin::request},
        {"maillist_status^$:1.VALUE", "Open^$"},
        {"maillist_status^$:1.TITLE", "STAFF^$"}},
       "sue@x.test,sam@x.test"},
      {"a list from a record", {{"sub_e_mail.VALUE", "r1@x.test,r2@x.test", Origin::record}}, "r1@x.test,r2@x.test"},
      {"the configuration's list",
       {{"others_e_mail.VALUE", "o1@x.test,o2@x.test"}},
       "sue@x.test,o1@x.test,o2@x.test"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SmtpPeer peer;
    mailstate().smtp_port = peer.port();
    peer.start();
    std::vector<Attr> attrs = a_case() + kMailOn;
    for (const Attr& a : c.attrs) attrs.push_back(a);  // later ones win
    auto list = enginetest::objects(attrs);
    EXPECT_EQ(nvsend_mail(*list), 0);
    std::vector<std::string> mails = peer.sessions();
    ASSERT_EQ(mails.size(), 1u);
    EXPECT_EQ(rcpts_of(mails[0]), c.rcpts);
  }
}

TEST_F(Trigger, NobodyToMail) {
  reqctx().kivdebug = 1;
  auto list = send({{"case_num.DBKEY", "case_num"}, {"case_num.VALUE", "7"}, {"mail_notification.VALUE", "ON"}});
  EXPECT_EQ(value(*list, "showmaillist"), "No One");
  EXPECT_NE(page().find("nv_sendmail: Maillist is empty. Don't send mail"), std::string::npos);
  EXPECT_FALSE(peer_.connected());
}

TEST_F(Trigger, MapiMailAndTheLinuxFlavour) {
  kivtest::TempDir dir;
  ScopedEnv lib("KIV_MAPI_LIBRARY", KIV_FAKEMAPI);
  ScopedEnv log("FAKEMAPI_LOG", dir.str() + "/mapi.log");
  const auto mapi = a_case() + kMailOn + std::vector<Attr>{{"mail_system_type.VALUE", "MAPI"}};
  auto list = send(mapi);
  EXPECT_EQ(value(*list, "showmaillist"), "sue@x.test");
  std::string l = kivtest::read_file(dir.str() + "/mapi.log");
  EXPECT_NE(l.find("MAPILogon ui=0 profile='help@desk.test' password='Sup3rSecret' flags=1"), std::string::npos) << l;
  EXPECT_NE(l.find(" subject='Case 12 is Open'\n"), std::string::npos) << l;
  EXPECT_NE(l.find(" recipient class=1 name='sue@x.test'"), std::string::npos) << l;
  EXPECT_TRUE(l.ends_with("unloaded\n")) << l;

  std::filesystem::remove(dir.str() + "/mapi.log");
  set_platform(Platform::linux);
  send(mapi);
  EXPECT_FALSE(std::filesystem::exists(dir.str() + "/mapi.log"));
  EXPECT_NE(peer_.transcript().find("RCPT TO:  sue@x.test\r\n"), std::string::npos);
}

namespace {

// The three-table model over SQLite: the users and staff tables give the
// addresses.
class TriggerTables : public kivtest::DbRoadTest {
 protected:
  TriggerTables() : DbRoadTest(kivtest::Road::sqlite) {}
  void SetUp() override {
    DbRoadTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    exec("create table users (sub_login varchar(40), sub_e_mail varchar(80))");
    exec("insert into users values ('sue', 'sue@db.test')");
    exec("create table staff (sa_login varchar(40), sa_e_mail varchar(80), pager varchar(80))");
    exec("insert into staff values ('al', 'al@db.test', 'pager@db.test')");
    settings().threetablemodel = 1;
    mailstate().smtp_port = peer_.port();
    peer_.start();
  }
  std::vector<Attr> tables() {
    return {{"dbserver_hostname.VALUE", "localhost"}, {"network_timeout.VALUE", "30"},
            {"db_name.VALUE", dsn_},                  {"db_users_table_name.VALUE", "users"},
            {"db_staff_table_name.VALUE", "staff"},   {"assigned_to.VALUE", "al"},
            {"maillist_status^$:1.VALUE", "Open^$"},  {"maillist_status^$:1.TITLE", "STAFF^@STAFF-pager^$"}};
  }
  SmtpPeer peer_;
};

}  // namespace

TEST_F(TriggerTables, AddressesFromTheTables) {
  struct Case {
    const char* what;
    const char* form_address;  // sub_e_mail on the form
    bool every_case;           // the assignment command is running
    const char* shown;
  } cases[] = {
      {"the form's address: the users table is not asked", "form@x.test", false,
       "form@x.test,al@db.test,pager@db.test"},
      {"none on the form", "", false, "sue@db.test,al@db.test,pager@db.test"},
      {"the assignment command asks for every case", "form@x.test", true, "sue@db.test,al@db.test,pager@db.test"},
  };
  for (const Case& c : cases) {
    engineflags().multiassignflag = c.every_case ? 1 : 0;
    auto list = enginetest::objects(a_case() + kMailOn + tables() +
                                    std::vector<Attr>{{"sub_e_mail.VALUE", c.form_address, Origin::request}});
    EXPECT_EQ(nvsend_mail(*list), 0);
    EXPECT_EQ(value(*list, "showmaillist"), c.shown) << c.what;
    EXPECT_EQ(value(*list, "sa_e_mail"), "al@db.test") << c.what;
  }
}

// Mail texts from records: field lists with labels, templates, HTML escaping
// of record values only in HTML mail, whole mails through the scripted SMTP
// peer, and Simple MAPI against the recording library (every call and the
// whole message record, log-off and unload on every path, the Linux flavour
// sending by SMTP whatever the mail type).
#include <gtest/gtest.h>

#include "data/mailrecords.h"
#include "data/mapisendmail.h"
#include "platform/flavour.h"
#include "support/testsupport.h"
#include "tests/data/smtppeer.h"
#include "toolkit/base/kivsettings.h"

using namespace kiv;
using kivtest::ScopedEnv;
using kivtest::SmtpPeer;

namespace {

const char* kKeys = "case_num^@problem^@status^@owner^$";
const char* kRow = "12^@Printer <b>jammed</b> & smoking^@Open^@^^^$";

}  // namespace

TEST(MailTexts, FieldListsAndLabels) {
  struct Case {
    const char* what;
    const char* fields;
    const char* labels;
    const char* text;
  } cases[] = {
      {"labels", "problem^@status^$", "Problem^@Status^$",
       "Problem\n=======\nPrinter <b>jammed</b> & smoking\n\nStatus\n======\nOpen\n\n"},
      {"an empty label", "status^@case_num^$", "^^^@Case^$", "Open\n\nCase\n====\n12\n\n"},
      {"labels row shorter", "case_num^@status^$", "Case^$", "Case\n====\n12\n\nOpen\n\n"},
      {"empty values and missing columns skipped", "owner^@nosuch^@^^^@status^$", "O^@N^@E^@S^$",
       "S\n=\nOpen\n\n"},
      {"no field list: the template", "", "Case {case_num}: {status}{n}", "Case 12: Open\n"},
      {"a blank first: no field list", " problem^$", "#{case_num}", "#12"},
  };
  for (const Case& c : cases) EXPECT_EQ(get_maildata(kRow, kKeys, c.fields, c.labels), c.text) << c.what;
}

TEST(MailTexts, TemplateMarkers) {
  struct Case {
    const char* templ;
    std::optional<std::string> text;
  } cases[] = {
      {"Case {case_num}{n}{nosuch}", "Case 12\n*"},
      {"{owner}|{}|{status}", "*||Open"},
      {"\\{case_num\\} \\\\ {case_num}", "{case_num} \\ 12"},
      {"trailing \\", "trailing "},
      {"open {case_num", "open 12"},
      {"open {n", "open \n"},
      {"", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(mail2str(kKeys, kRow, c.templ), c.text) << c.templ;
  EXPECT_EQ(mail2str("", kRow, "x"), std::nullopt);
  EXPECT_EQ(mail2str(kKeys, "", "x"), std::nullopt);

  // A long value used several times outgrows any fixed room.
  std::string big(5000, 'v');
  std::string row = "1^@" + big + "^$";
  EXPECT_EQ(mail2str("case_num^@problem^$", row, "{problem}{problem}{problem}"), big + big + big);
}

TEST(MailTexts, HtmlEscapesOnlyRecordValues) {
  EXPECT_EQ(mail2str(kKeys, kRow, "<h1>{problem}</h1>", true), "<h1>Printer &#60;b&#62;jammed&#60;/b&#62; &#38; smoking</h1>");
  EXPECT_EQ(get_maildata(kRow, kKeys, "problem^$", "<b>Problem</b>^$", true),
            "<b>Problem</b>\n==============\nPrinter &#60;b&#62;jammed&#60;/b&#62; &#38; smoking\n\n");
  EXPECT_EQ(mail2str(kKeys, kRow, "{problem}"), "Printer <b>jammed</b> & smoking");
}

namespace {

class MailRecords : public kivtest::KivTest {
 protected:
  void SetUp() override {
    KivTest::SetUp();
    mailstate().smtp_port = peer_.port();
    peer_.start();
  }
  int mail(const std::string& to, const std::string& rows, const std::string& type = "SMTP") {
    return pc_mail_records(to, "case_num^@status^$", "Case^@Status^$", rows, kKeys, "Subject <&>", 0, type,
                           "127.0.0.1", "help@desk.test", "secret");
  }
  // The body as the peer received it.
  std::string body() {
    std::string t = peer_.transcript();
    size_t start = t.find("\r\n\r\n");
    size_t end = t.rfind("\r\n.\r\n");
    if (start == std::string::npos || end == std::string::npos || end < start) return "<no body>: " + t;
    return t.substr(start + 4, end - start - 4);
  }
  SmtpPeer peer_;
};

}  // namespace

TEST_F(MailRecords, RowsMakeOneBody) {
  EXPECT_EQ(mail("ann@x.test, ,bob@x.test,", std::string(kRow) + "13^@Fan^@Closed^@bob^$"), 0);
  EXPECT_EQ(page(), "");
  std::string t = peer_.transcript();
  EXPECT_NE(t.find("RCPT TO:  ann@x.test\r\nRCPT TO:  bob@x.test\r\nDATA\r\n"), std::string::npos) << t;
  EXPECT_NE(t.find("Subject: Subject <&>\r\n"), std::string::npos) << t;
  EXPECT_EQ(body(), "Case\r\n====\r\n12\r\n\r\nStatus\r\n======\r\nOpen\r\n\r\n"
                    "Case\r\n====\r\n13\r\n\r\nStatus\r\n======\r\nClosed\r\n\r\n");
}

TEST_F(MailRecords, HtmlMailEscapesValuesNotLabelsOrSubject) {
  settings().mailtypeformat = 1;
  EXPECT_EQ(pc_mail_records("ann@x.test", "", "<p>{problem}</p>", kRow, kKeys, "Re: <{case_num}>", 0, "SMTP",
                            "127.0.0.1", "help@desk.test", ""),
            0);
  EXPECT_EQ(body(), "<p>Printer &#60;b&#62;jammed&#60;/b&#62; &#38; smoking</p>");
}

TEST_F(MailRecords, NothingToSendIsRefused) {
  EXPECT_EQ(mail("", kRow), -1);
  EXPECT_EQ(mail("ann@x.test", ""), -1);
  EXPECT_EQ(pc_mail_records("ann@x.test", "", "t", kRow, "", "s", 0, "SMTP", "127.0.0.1", "h", ""), -1);
  EXPECT_FALSE(peer_.connected());
}

TEST_F(MailRecords, AFailedDeliveryIsShownAndStillGivesZero) {
  peer_.script["MAIL"] = {{"550 go away\r\n"}};
  EXPECT_EQ(mail("ann@x.test", kRow), 0);
  EXPECT_EQ(page(), "smtp mail failed to send mail.\n");
  EXPECT_EQ(mailstate().smtperror, "Sendmail error: go away");
}

TEST_F(MailRecords, MoreThanAHundredRecipientsAreNotSent) {
  std::string list;
  for (int i = 0; i < 101; ++i) list += "u" + std::to_string(i) + "@x.test,";
  EXPECT_EQ(mail(list, kRow), 0);
  EXPECT_EQ(page(), "smtp mail failed to send mail.\n");
  EXPECT_FALSE(peer_.connected());
}

// The Linux builds carry no MAPI: the mail goes by SMTP.
TEST_F(MailRecords, LinuxFlavourSendsMapiMailBySmtp) {
  set_platform(Platform::linux);
  ScopedEnv lib("KIV_MAPI_LIBRARY", KIV_FAKEMAPI);
  EXPECT_EQ(mail("ann@x.test", kRow, "MAPI"), 0);
  EXPECT_NE(peer_.transcript().find("RCPT TO:  ann@x.test\r\n"), std::string::npos);
}

namespace {

class Mapi : public kivtest::KivTest {
 protected:
  std::string log() { return kivtest::read_file(dir_.str() + "/mapi.log"); }
  kivtest::TempDir dir_;
  ScopedEnv lib_{"KIV_MAPI_LIBRARY", KIV_FAKEMAPI};
  ScopedEnv log_{"FAKEMAPI_LOG", dir_.str() + "/mapi.log"};
  ScopedEnv logon_{"FAKEMAPI_LOGON", std::nullopt}, send_{"FAKEMAPI_SEND", std::nullopt},
      logoff_{"FAKEMAPI_LOGOFF", std::nullopt};
};

const char* kSent =
    "MAPISendMail session=4711 ui=0 flags=0 reserved=0\n"
    " message reserved=0 type=(null) date='1991/03/23 12:00' conversation=(null) flags=1 files=0\n"
    " subject='Case 12'\n"
    " note='Case\n====\n12\n\nStatus\n======\nOpen\n\n'\n"
    " originator class=0 name='ONE' address=(null) reserved=0 eid=0\n"
    " recipients=2\n"
    " recipient class=1 name='ann@x.test' address=(null) reserved=0 eid=0\n"
    " recipient class=1 name='bob@x.test' address=(null) reserved=0 eid=0\n";

}  // namespace

TEST_F(Mapi, OneMailIsOneSession) {
  EXPECT_EQ(pc_mail_records("ann@x.test,bob@x.test", "case_num^@status^$", "Case^@Status^$", kRow, kKeys,
                            "Case 12", 0, "MAPI", "ignored", "Helpdesk", "pw1"),
            0);
  EXPECT_EQ(page(), "");
  EXPECT_EQ(log(), std::string("loaded\n"
                               "MAPILogon ui=0 profile='Helpdesk' password='pw1' flags=1 reserved=0\n") +
                       kSent + "MAPILogoff session=4711 ui=0 flags=0 reserved=0\nunloaded\n");
}

TEST_F(Mapi, EveryPathLogsOffAndUnloads) {
  struct Case {
    const char* what;
    const char* logon;
    const char* send;
    const char* logoff;
    int result;
    const char* page;
    const char* errors;
    bool sent, logged_off;
  } cases[] = {
      {"logon refused", "3", nullptr, nullptr, 1, "Error 3 on login", "", false, false},
      {"send refused", nullptr, "2", nullptr, 1, "MAPI mail faild error=2\n", "", true, true},
      {"logoff refused", nullptr, nullptr, "5", 0, "", "MAPI mail 5 logout.\n", true, true},
  };
  std::vector<std::string> to{"ann@x.test"};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove(dir_.str() + "/mapi.log");
    clear_output();
    ScopedEnv logon("FAKEMAPI_LOGON", c.logon ? std::optional<std::string>(c.logon) : std::nullopt);
    ScopedEnv send("FAKEMAPI_SEND", c.send ? std::optional<std::string>(c.send) : std::nullopt);
    ScopedEnv logoff("FAKEMAPI_LOGOFF", c.logoff ? std::optional<std::string>(c.logoff) : std::nullopt);
    EXPECT_EQ(mailmapi("", "P", "", to, "s", "b"), c.result);
    EXPECT_EQ(page(), c.page);
    EXPECT_EQ(errors(), c.errors);
    std::string l = log();
    EXPECT_TRUE(l.starts_with("loaded\nMAPILogon ")) << l;
    EXPECT_EQ(l.find("MAPISendMail") != std::string::npos, c.sent) << l;
    EXPECT_EQ(l.find("MAPILogoff") != std::string::npos, c.logged_off) << l;
    EXPECT_TRUE(l.ends_with("unloaded\n")) << l;
  }
}

TEST_F(Mapi, LibraryThatDoesNotLoadOrLacksAnEntryPoint) {
  {
    ScopedEnv none("KIV_MAPI_LIBRARY", std::nullopt);  // MAPI32.DLL: not on this system
    EXPECT_EQ(mailmapi("", "P", "", {"a@x.test"}, "s", "b"), 1);
    EXPECT_EQ(page(), "Error 2 on login");
  }
  clear_output();
  {
    ScopedEnv incomplete("KIV_MAPI_LIBRARY", KIV_FAKEMAPI_INCOMPLETE);
    EXPECT_EQ(mailmapi("", "P", "", {"a@x.test"}, "s", "b"), 1);
    EXPECT_EQ(page(), "Error 4 on login");
    EXPECT_EQ(log(), "loaded\nunloaded\n");  // nothing called, nothing left loaded
  }
}

// A hundred recipients go; one more and the mail is not sent at all, with
// the failed send's line, rather than cut to some of its recipients.
TEST_F(Mapi, AtMostAHundredRecipients) {
  std::string list;
  for (int i = 0; i < 100; ++i) list += "u" + std::to_string(i) + "@x.test,";
  EXPECT_EQ(pc_mail_records(list, "", "{case_num}", kRow, kKeys, "s", 0, "MAPI", "", "P", ""), 0);
  std::string l = log();
  EXPECT_NE(l.find(" recipients=100\n"), std::string::npos);
  EXPECT_NE(l.find(" recipient class=1 name='u99@x.test'"), std::string::npos);
  EXPECT_EQ(page(), "");

  std::filesystem::remove(dir_.str() + "/mapi.log");
  EXPECT_EQ(pc_mail_records(list + "one@more.test", "", "{case_num}", kRow, kKeys, "s", 0, "MAPI", "", "P", ""), 0);
  EXPECT_EQ(page(), "mapi mail failed to send mail.\n");
  EXPECT_FALSE(std::filesystem::exists(dir_.str() + "/mapi.log"));
}

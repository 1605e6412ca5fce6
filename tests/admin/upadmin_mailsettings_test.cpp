// The e-mail interface, the assignment and workflow switches and the alarm
// settings through the frame: every required value checked before any is
// copied (the password kept by an empty box), the switches stored as sent,
// the alarm page with and without its message file, and the message file
// replaced whole, never half, never over a save the page did not see, and
// never shown as saved when it could not be written.
#include <sys/wait.h>
#include <unistd.h>

#include <sstream>

#include "admintest.h"
#include "toolkit/base/kivfmt.h"

using namespace kiv;
using namespace admintest;

namespace {

using Fields = std::vector<std::pair<std::string, std::string>>;

const std::string kInterface = object("tkemaild_checkfreq", "5") + object("tkemaild_pop_server", "pop.example.org") +
                               object("tkemaild_pop_user", "helpdesk") +
                               object("tkemaild_pop_password", "popSecret") +
                               object("tkemaild_subject_return", "[RET]");
const std::string kSwitches = object("autoassign_control", "OFF") + object("workflow_control", "OFF");
const std::string kField =
    block({{"NAME", "category"}, {"VALUE", "Other^@Hardware^$"}, {"DBKEY", "category"}, {"TYPE", "MENU"},
           {"TITLE", "Category"}});

constexpr const char* kSettingsPage =
    "freq=FB{tkemaild_checkfreq.VALUE}FE server=FB{tkemaild_pop_server.VALUE}FE user=FB{tkemaild_pop_user.VALUE}FE "
    "ret=FB{tkemaild_subject_return.VALUE}FE auto=FB{autoassign_control.VALUE}FE wf=FB{workflow_control.VALUE}FE\n";
constexpr const char* kAlarmPage =
    "msg=[FB{alarm_message.VALUE}FE] ctl=FB{alarm_control.VALUE}FE wk=FB{weekend_no_alarms.VALUE}FE "
    "v=FB{alarm_message_version.VALUE}FE fields=MB{admin_alldbfields.VALUE}ME\n";
const std::string kFieldList = "fields=name^@title^@type^@enforce^$category^@Category^@MENU^@No^$\n";

std::string refusal(const std::string& message) { return "<PRE>\n" + message + "</PRE>\n"; }

class MailSettings : public AdminTest {
 protected:
  void SetUp() override {
    AdminTest::SetUp();
    write("client/config/tk_obj", kInterface + kSwitches + kField);
    write("client/kivhtml/admin/settings.html", kSettingsPage);
    write("client/kivhtml/admin/alarm.html", kAlarmPage);
    write(kAlarmFile, "Case {case_num} waits.\n");
  }

  Ended send(const std::string& word, const Fields& fields, const std::string& templ = "settings.html") {
    reset_admin();
    clear_output();
    exlist request = form_of(fields);
    return run(word, &request, templ);
  }

  // The version of the message file as a page printed now carries it.
  std::string alarm_version() const {
    return exists(kAlarmFile) ? file_version(read(kAlarmFile)) : file_version(std::nullopt);
  }

  // The tree without the lock files a writing row leaves.
  std::map<std::string, std::string> content() const {
    auto t = tree();
    std::erase_if(t, [](const auto& kv) { return kv.first.ends_with(".lock"); });
    return t;
  }

  static inline const std::string kAlarmFile = "client/kivhtml/tk/tkemaild_alarmres";
};

const Fields kNewInterface = {{"tkemaild_checkfreq.VALUE", "10"},
                              {"tkemaild_pop_server.VALUE", "  mail.example.org "},
                              {"tkemaild_pop_user.VALUE", "desk"},
                              {"tkemaild_pop_password.VALUE", "n3wSecret"},
                              {"tkemaild_subject_return.VALUE", "[RETURNED   MAIL]"}};

Fields without(const Fields& f, const std::string& key, const std::string& value = "") {
  Fields out = f;
  for (auto& [k, v] : out)
    if (k == key) v = value;
  return out;
}

}  // namespace

// The five values are stored as the object file keeps them; each is
// required, in the order of the form, and checked before any is copied.
TEST_F(MailSettings, TheInterfaceChecksEveryValueBeforeCopyingAny) {
  const std::string stored = object("tkemaild_checkfreq", "10") + object("tkemaild_pop_server", "mail.example.org") +
                             object("tkemaild_pop_user", "desk") + object("tkemaild_pop_password", "n3wSecret") +
                             object("tkemaild_subject_return", "[RETURNED MAIL]");
  ASSERT_EQ(send("mod_emailinterfacegeneral", kNewInterface), returned(0));
  EXPECT_EQ(read("client/config/tk_obj"), stored + kSwitches + kField);
  EXPECT_EQ(page(), "freq=10 server=mail.example.org user=desk ret=[RETURNED MAIL] auto=OFF wf=OFF\n");

  struct Case {
    std::string key, value, message;
  } cases[] = {
      {"tkemaild_checkfreq.VALUE", "", "Frequency can't be blank\n"},
      {"tkemaild_pop_server.VALUE", "", "Error: Pop Server can't be blank\n"},
      {"tkemaild_pop_user.VALUE", "   ", "Error: Pop User can't be blank\n"},
      {"tkemaild_subject_return.VALUE", "", "Error: Return Mail Identifier can't be blank\n"},
      {"tkemaild_pop_server.VALUE", "mail\r\nexample", "Error: tkemaild_pop_server can't hold a line break\n"},
      {"tkemaild_subject_return.VALUE", "x\n", "Error: tkemaild_subject_return can't hold a line break\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key + " '" + c.value + "'");
    write("client/config/tk_obj", kInterface + kSwitches + kField);
    auto before = content();
    EXPECT_EQ(send("mod_emailinterfacegeneral", without(kNewInterface, c.key, c.value)), exited(0));
    EXPECT_EQ(page(), refusal(c.message));
    EXPECT_EQ(content(), before);
  }

  // The password box is never filled in: left empty it keeps the stored
  // password, and only without one is it required (the values before it
  // stay as they were).
  write("client/config/tk_obj", kInterface + kSwitches + kField);
  ASSERT_EQ(send("mod_emailinterfacegeneral", without(kNewInterface, "tkemaild_pop_password.VALUE")), returned(0));
  EXPECT_EQ(read("client/config/tk_obj"),
            object("tkemaild_checkfreq", "10") + object("tkemaild_pop_server", "mail.example.org") +
                object("tkemaild_pop_user", "desk") + object("tkemaild_pop_password", "popSecret") +
                object("tkemaild_subject_return", "[RETURNED MAIL]") + kSwitches + kField);
  for (const std::string& tk : {kSwitches + kField, object("tkemaild_checkfreq", "5") +
                                                        block({{"NAME", "tkemaild_pop_password"}}) + kField}) {
    write("client/config/tk_obj", tk);
    auto before = content();
    EXPECT_EQ(send("mod_emailinterfacegeneral", without(kNewInterface, "tkemaild_pop_password.VALUE")), exited(0));
    EXPECT_EQ(page(), refusal("Error: Pop User Password can't be blank\n"));
    EXPECT_EQ(content(), before);
  }
}

// The switches are stored as the form sends them (the case engine decides
// what a value means); each is required.
TEST_F(MailSettings, TheSwitchesAreStoredAsSent) {
  struct Case {
    std::string word, name, value, stored, message;
  } cases[] = {
      {"mod_autoassigngeneral", "autoassign_control", "ON", "ON", ""},
      {"mod_autoassigngeneral", "autoassign_control", "CARD", "CARD", ""},
      {"mod_autoassigngeneral", "autoassign_control", " OFF ", "OFF", ""},
      {"mod_autoassigngeneral", "autoassign_control", "", "", "Missing autoassign_control name object\n"},
      {"mod_autoassigngeneral", "autoassign_control", "ON\nX", "", "Error: autoassign_control can't hold a line break\n"},
      {"mod_workflowgeneral", "workflow_control", "ON", "ON", ""},
      {"mod_workflowgeneral", "workflow_control", "OFF", "OFF", ""},
      {"mod_workflowgeneral", "workflow_control", " ", "", "Missing workflow_control name object\n"},
      {"mod_workflowgeneral", "workflow_control", "\r", "", "Error: workflow_control can't hold a line break\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.word + " '" + c.value + "'");
    write("client/config/tk_obj", kInterface + kSwitches + kField);
    auto before = content();
    Ended e = send(c.word, {{c.name + ".VALUE", c.value}});
    if (!c.message.empty()) {
      EXPECT_EQ(e, exited(0));
      EXPECT_EQ(page(), refusal(c.message));
      EXPECT_EQ(content(), before);
      continue;
    }
    EXPECT_EQ(e, returned(0));
    std::string expect = kInterface + kSwitches + kField;
    const std::string old = object(c.name, "OFF");
    expect.replace(expect.find(old), old.size(), object(c.name, c.stored));
    EXPECT_EQ(read("client/config/tk_obj"), expect);
  }
}

// The alarm page: the message text from its file, alarm_control "OFF"
// unless the form or tk_obj has one, weekend_no_alarms from tk_obj or
// "OFF", the version of the file, and the plain field list.
TEST_F(MailSettings, TheAlarmPage) {
  const std::string v = alarm_version();
  struct Case {
    std::string what, tk;
    Fields form;
    bool file;
    std::string page;
  } cases[] = {
      {"nothing stored", kField, {}, true, "msg=[Case {case_num} waits.&#10;] ctl=OFF wk=OFF v=" + v + " "},
      {"a form value of alarm_control", kField, {{"alarm_control.VALUE", "ON"}}, true,
       "msg=[Case {case_num} waits.&#10;] ctl=ON wk=OFF v=" + v + " "},
      {"both stored", object("alarm_control", "ON") + object("weekend_no_alarms", "ON") + kField, {}, true,
       "msg=[Case {case_num} waits.&#10;] ctl=ON wk=ON v=" + v + " "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    write("client/config/tk_obj", c.tk);
    auto before = content();
    EXPECT_EQ(send("AlarmsGeneral", c.form, "alarm.html"), returned(0));
    EXPECT_EQ(page(), c.page + kFieldList);
    EXPECT_EQ(content(), before);
  }
  // Without the file its reader's message is printed and the page follows.
  fs::remove(path(kAlarmFile));
  write("client/config/tk_obj", kField);
  EXPECT_EQ(send("AlarmsGeneral", {}, "alarm.html"), returned(0));
  EXPECT_EQ(page(), refusal("up_readfile: can't stat '" + path(kAlarmFile) + "' errno=2\n") +
                        "msg=[] ctl=OFF wk=OFF v=" + std::string(16, '0') + " " + kFieldList);
}

// A save writes the message text as the file's whole content (beside it,
// then renamed: no temporary file stays) and the switches into tk_obj; an
// empty text leaves the file, and its page shows the text kept; the page
// after a save carries the file's version.
TEST_F(MailSettings, TheAlarmSaveReplacesTheMessageWhole) {
  write("client/config/tk_obj", kField);
  auto before = content();
  ASSERT_EQ(send("mod_alarmsgeneral",
                 {{"alarm_message.VALUE", ""}, {"alarm_control.VALUE", "ON"}, {"weekend_no_alarms.VALUE", "OFF"}},
                 "alarm.html"),
            returned(0));
  EXPECT_EQ(read(kAlarmFile), "Case {case_num} waits.\n");
  EXPECT_EQ(read("client/config/tk_obj"), kField + object("alarm_control", "ON") + object("weekend_no_alarms", "OFF"));
  // The page after it shows the text the file kept, not the empty box.
  EXPECT_EQ(page(), "msg=[Case {case_num} waits.&#10;] ctl=ON wk=OFF v=" + alarm_version() + " fields=\n");

  const std::string text = "Late:\r\n  {case_num}\r\n";
  ASSERT_EQ(send("mod_alarmsgeneral", {{"alarm_message.VALUE", text}, {"alarm_message_version.VALUE", alarm_version()}},
                 "alarm.html"),
            returned(0));
  EXPECT_EQ(read(kAlarmFile), text);
  EXPECT_NE(page().find("v=" + file_version(text) + " "), std::string::npos) << page();
  auto after = content();
  for (auto& [name, bytes] : before) {
    if (name.starts_with("tmp/")) continue;
    EXPECT_TRUE(after.contains(name)) << name;
  }
  for (auto& [name, bytes] : after)
    EXPECT_TRUE(before.contains(name) || name.starts_with("tmp/tk_obj.")) << name << " was left behind";
  EXPECT_EQ(read("client/config/tk_obj"), kField + object("alarm_control", "ON") + object("weekend_no_alarms", "OFF"));
}

// A text from a page that another save overtook, or without the version of
// the page, is refused; a switch holding a line break too. Nothing changes.
TEST_F(MailSettings, TheAlarmSaveRefusesWhatWouldLoseAChange) {
  const std::string file = path(kAlarmFile);
  struct Case {
    Fields form;
    Ended ended;
    std::string message;
  } cases[] = {
      {{{"alarm_message.VALUE", "new"}, {"alarm_message_version.VALUE", file_version(std::string("older"))}},
       exited(-1), sformat(kObjFileChanged, file)},
      {{{"alarm_message.VALUE", "new"}}, exited(-1), sformat(kObjFileChanged, file)},
      {{{"alarm_message.VALUE", "new"}, {"alarm_message_version.VALUE", alarm_version()},
        {"alarm_control.VALUE", "ON\n"}},
       exited(0), "Error: alarm_control can't hold a line break\n"},
      {{{"weekend_no_alarms.VALUE", "O\rN"}}, exited(0), "Error: weekend_no_alarms can't hold a line break\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    auto before = content();
    EXPECT_EQ(send("mod_alarmsgeneral", c.form, "alarm.html"), c.ended);
    EXPECT_EQ(page(), refusal(c.message));
    EXPECT_EQ(content(), before);
  }
}

// A message file that cannot be written stops the save after up_writefile's
// message with status 1: tk_obj is not saved and nothing says saved.
TEST_F(MailSettings, AnUnwritableMessageFileIsNeverShownAsSaved) {
  write("client/config/tk_obj", kField);
  for (const char* d : {"", "client", "client/config", "client/kivhtml", "client/kivhtml/admin"})
    fs::permissions(path(d), fs::perms(0755));
  fs::permissions(path("tmp"), fs::perms(0777));
  fs::permissions(path("client/kivhtml/tk"), fs::perms(0555));
  auto before = content();
  const std::string version = alarm_version();
  ChildRun r = kivtest::in_child(
      [&] {
        std::ostringstream ended;
        ended << send("mod_alarmsgeneral", {{"alarm_message.VALUE", "new text"},
                                            {"alarm_message_version.VALUE", version}, {"alarm_control.VALUE", "ON"}},
                      "alarm.html");
        return ended.str();
      },
      true);
  fs::permissions(path("client/kivhtml/tk"), fs::perms(0755));
  EXPECT_EQ(r.result, "exit 1");
  EXPECT_EQ(r.page, refusal("Cannot open file <" + path(kAlarmFile) + "> errno=13 \n"));
  EXPECT_EQ(content(), before);
}

// Sixteen saves of different texts from the same page at once: the first
// to take the lock writes its text, every other is refused, and the file
// holds the one text whole.
TEST_F(MailSettings, SavesFromOnePageAtOnceLeaveOneWholeText) {
  constexpr int kSavers = 16;
  write("client/config/tk_obj", object("alarm_control", "ON") + kField);
  const std::string version = alarm_version();
  std::vector<std::string> texts;
  for (int i = 0; i < kSavers; ++i) texts.push_back(std::string(200000, static_cast<char>('a' + i)) + "\n");

  int gate[2];
  ASSERT_EQ(::pipe(gate), 0);
  std::vector<pid_t> savers;
  for (int i = 0; i < kSavers; ++i) {
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      ::close(gate[1]);
      char c;
      while (::read(gate[0], &c, 1) > 0) {
      }
      StringSink sink;
      set_out(&sink);
      Ended e = send("mod_alarmsgeneral", {{"alarm_message.VALUE", texts[static_cast<size_t>(i)]},
                                           {"alarm_message_version.VALUE", version},
                                           {"alarm_control.VALUE", "ON"}},
                     "alarm.html");
      if (e == returned(0) && sink.text().find("<PRE>") == std::string::npos) ::_exit(10 + i);
      if (e == exited(-1) && sink.text().find("was changed by someone else") != std::string::npos) ::_exit(3);
      ::_exit(1);
    }
    savers.push_back(pid);
  }
  ::close(gate[0]);
  ::close(gate[1]);
  int saved = -1, refused = 0;
  for (pid_t pid : savers) {
    int st = 0;
    ASSERT_EQ(::waitpid(pid, &st, 0), pid);
    ASSERT_TRUE(WIFEXITED(st));
    const int code = WEXITSTATUS(st);
    if (code == 3) {
      ++refused;
    } else {
      ASSERT_GE(code, 10) << "a save neither landed nor was refused";
      EXPECT_EQ(saved, -1) << "two saves landed";
      saved = code - 10;
    }
  }
  ASSERT_GE(saved, 0);
  EXPECT_EQ(refused, kSavers - 1);
  EXPECT_TRUE(read(kAlarmFile) == texts[static_cast<size_t>(saved)]);
}

// With tracing on, each operation traces its steps as they run: a switch
// before and after its check, the alarm save once more for a text and once
// for each switch it copies, the alarm page a stored weekend_no_alarms.
TEST_F(MailSettings, TheOperationsTraceTheirSteps) {
  reqctx().kivdebug = 1;
  // The traces of these operations among all the page shows, in order.
  auto own_traces = [](const std::string& shown) {
    std::vector<std::string> lines;
    std::istringstream in(shown);
    for (std::string l; std::getline(in, l);)
      if (l.starts_with("MODAUTO ") || l.starts_with("MODALARM ")) lines.push_back(l);
    return lines;
  };
  using Lines = std::vector<std::string>;
  struct Case {
    std::string word;
    Fields form;
    std::string tk;
    Lines traces;
  } cases[] = {
      {"mod_autoassigngeneral", {{"autoassign_control.VALUE", "ON"}}, kSwitches,
       {"MODAUTO mod_autoassigngenral", "MODAUTO mod_autoassigngenral"}},
      {"mod_autoassigngeneral", {}, kSwitches, {"MODAUTO mod_autoassigngenral"}},
      {"mod_workflowgeneral", {{"workflow_control.VALUE", "ON"}}, kSwitches,
       {"MODAUTO mod_workflowgenral", "MODAUTO mod_workflowgenral"}},
      {"mod_workflowgeneral", {}, kSwitches, {"MODAUTO mod_workflowgenral"}},
      {"mod_alarmsgeneral", {}, kField, {"MODALARM mod_alarmgngenral"}},
      {"mod_alarmsgeneral",
       {{"alarm_message.VALUE", "text"}, {"alarm_control.VALUE", "ON"}, {"weekend_no_alarms.VALUE", "ON"}}, kField,
       {"MODALARM mod_alarmgngenral", "MODALARM mod_alarmgngenral", "MODALARM mod_control",
        "MODALARM weekend_no_alarms"}},
      {"AlarmsGeneral", {}, kField, {}},
      {"AlarmsGeneral", {}, object("weekend_no_alarms", "ON") + kField, {"MODALARM weekend_no_alarms"}},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.word + " with " + std::to_string(c.form.size()) + " values");
    write("client/config/tk_obj", c.tk);
    if (c.word == "mod_alarmsgeneral") c.form.emplace_back("alarm_message_version.VALUE", alarm_version());
    send(c.word, c.form, "alarm.html");
    EXPECT_EQ(own_traces(page()), c.traces);
  }
}

// Requests an attacker sends to the help desk, each as `up` answers it in a
// copy of the sample installation (SQLite through ODBC): a form that names a
// parent case, an address field that lists hundreds, more attachments than a
// request may store, a label count the printer cannot mean, row/column
// separators and control bytes in values, the litter of a killed request,
// and a field named like an interpreter's start-up variable. One table; each
// case says what must not have happened.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "commands/up.h"
#include "data/mailrecords.h"
#include "data/webhandle_db.h"
#include "platform/state.h"
#include "support/testsupport.h"
#include "tests/data/smtppeer.h"
#include "toolkit/cgitest.h"
#include "toolkit/base/kivcontext.h"
#include "uptest.h"

using namespace kiv;
namespace fs = std::filesystem;

namespace {

// One part of a multipart form; a part with a file name is an upload.
struct Part {
  std::string name, value;
  std::optional<std::string> filename = std::nullopt;
};

// The parts of the sample's add form as a user fills it in, and more.
std::vector<Part> add_form(std::vector<Part> more = {}) {
  std::vector<Part> parts = {{"KIVACTION", "add"},
                             {"submitted_by.VALUE", "ann"},
                             {"category.VALUE", "Network"},
                             {"problem.VALUE", "No mail."}};
  // A later part of the same name replaces the earlier one, as a form's
  // fields do in the request list.
  for (Part& p : more) {
    auto same = std::find_if(parts.begin(), parts.end(), [&](const Part& q) { return q.name == p.name; });
    if (same != parts.end())
      *same = std::move(p);
    else
      parts.push_back(std::move(p));
  }
  return parts;
}

class UpAttack : public uptest::CommandCaseHome {
 protected:
  UpAttack() : CommandCaseHome(kivtest::Road::sqlite) {}

  void SetUp() override {
    CommandCaseHome::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    // The set-up loaded the case objects as a command does, which published
    // the home; the requests start from the environment set here instead.
    new_process();
    for (const std::string& name : cgitest::cgi_variables())
      env_.push_back(std::make_unique<kivtest::ScopedEnv>(name, std::nullopt));
    for (const auto& [name, value] : {std::pair<std::string, std::string>{"NVHOME", home_.str()},
                                      {"SCRIPT_NAME", "/cgi-bin/kepa.exe"}, {"SERVER_NAME", "helpdesk"},
                                      {"REQUEST_METHOD", "POST"},
                                      {"CONTENT_TYPE", "multipart/form-data; boundary=B"}})
      env_.push_back(std::make_unique<kivtest::ScopedEnv>(name, value));
    objs_text_ = kivtest::read_file(path("client/config/tk_obj"));
    states_text_ = kivtest::read_file(path("client/config/kepa_states"));
    fs::create_directories(path("attach"));
  }

  void TearDown() override {
    while (!env_.empty()) env_.pop_back();  // the latest first
    CommandCaseHome::TearDown();
  }

  // The home as installed, with these objects in place of the sample's of
  // the same names (a lookup takes the first object that has a value) and
  // these lines after its state file's.
  void configure(const std::string& objects, const std::string& states) {
    std::string text = objs_text_;
    for (size_t at = objects.find("\tNAME="); at != std::string::npos; at = objects.find("\tNAME=", at + 1)) {
      const std::string line = objects.substr(at, objects.find('\n', at) + 1 - at);
      const size_t in = text.find("OBJECT{\n" + line);
      if (in != std::string::npos) text.erase(in, text.find("};\n", in) + 3 - in);
    }
    home_.write("client/config/tk_obj", text + objects);
    home_.write("client/config/kepa_states", states_text_ + states);
  }

  // The process-wide state as a new process has it, but the test's page,
  // home and SMTP port.
  void new_process() {
    reset_process_state();
    set_platform(Platform::windows);
    set_out(&out_);
    set_err(&err_);
    reqctx().nvhome = home_.str();
    if (peer_) mailstate().smtp_port = peer_->port();
  }

  // One request, as a process of its own would answer it, the form as a
  // multipart body.
  int post(const std::vector<Part>& parts) {
    peer_ = std::make_unique<kivtest::SmtpPeer>();  // its sessions are this request's
    peer_->start();
    new_process();
    std::string body;
    for (const Part& p : parts) {
      body += "--B\r\nContent-Disposition: form-data; name=\"" + p.name + "\"";
      if (p.filename) body += "; filename=\"" + *p.filename + "\"";
      body += "\r\n\r\n" + p.value + "\r\n";
    }
    body += "--B--\r\n";
    kivtest::ScopedEnv length("CONTENT_LENGTH", std::to_string(body.size()));
    cgitest::Body b(body);
    const char* argv[] = {"kepa", nullptr};
    return up_main(1, argv, kKepaStates);
  }

  std::string counter() { return kivtest::read_file(path("client/config/case_num")); }
  bool shown(const std::string& text) const { return page().find(text) != std::string::npos; }

  std::string objs_text_, states_text_;
  std::vector<std::unique_ptr<kivtest::ScopedEnv>> env_;
  std::unique_ptr<kivtest::SmtpPeer> peer_;
};

// Makes a file look two hours old.
void aged(const std::string& p) {
  fs::last_write_time(p, fs::file_time_type::clock::now() - std::chrono::hours(2));
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

}  // namespace

TEST_F(UpAttack, EachAttackIsRefusedOrDefused) {
  const std::string attach_on =
      "OBJECT{\n\tNAME=attach_control\n\tVALUE=ON\n};\nOBJECT{\n\tNAME=attachdir\n\tVALUE=" + path("attach") + "\n};\n";
  const std::string mail_on =
      "OBJECT{\n\tNAME=mail_notification\n\tVALUE=ON\n};\nOBJECT{\n\tNAME=mail_smtp_host\n\tVALUE=127.0.0.1\n};\n"
      "OBJECT{\n\tNAME=mail_sender_login\n\tVALUE=help@desk.test\n};\n"
      "OBJECT{\n\tNAME=mailmsg_subject\n\tTITLE=Case {case_num} from {submitted_by}\n};\n"
      "OBJECT{\n\tNAME=mailmsg_body\n\tTITLE=New case {case_num}\n};\n";
  const std::string label_on =
      "label=code_label label.html\nbc_printer_port.VALUE=/dev/null\nbc_label_format.VALUE=label.fmt\n";
  std::string many_addresses;
  for (int i = 0; i < 237; ++i) many_addresses += (i ? ",a" : "a") + std::to_string(i) + "@x.test";
  std::vector<Part> attachments;
  for (int i = 1; i <= 21; ++i) attachments.push_back({"attach" + std::to_string(i) + ".VALUE", "typed text"});
  const std::string hook_env = path("hook.env");

  struct Attack {
    const char* what;
    std::string objects, states;  // configuration added to the sample's
    std::function<void()> before;
    std::vector<Part> request;
    int status;
    std::vector<std::string> shown;
    int rows;                  // cases stored by the request
    std::function<void()> after;
  } attacks[] = {
      {"1: a parent that is no stored case, with an upload",
       attach_on, "", nullptr,
       add_form({{"parent_case_num.VALUE", "1000"}, {"attach1.VALUE", "DATA", "a.txt"}}),
       0, {"sub_getmrnum: case number is not defined \n"}, 0,
       [&] {
         EXPECT_EQ(counter(), "DEFAULT\t1000\n");
         EXPECT_TRUE(fs::is_empty(path("attach")));
         EXPECT_EQ(kivtest::entries_but(path("tmp"), kOdbcSweepMarker), std::vector<std::string>{});
       }},
      {"1: markup as a parent", "", "", nullptr, add_form({{"parent_case_num.VALUE", "<b>x</b>"}}),
       0, {"sub_getmrnum: case number is not defined \n"}, 0,
       [&] { EXPECT_EQ(counter(), "DEFAULT\t1000\n"); }},
      {"1: a parent of 4 KB", "", "", nullptr, add_form({{"parent_case_num.VALUE", std::string(4096, '9')}}),
       0, {"sub_getmrnum: case number is not defined \n"}, 0,
       [&] { EXPECT_EQ(counter(), "DEFAULT\t1000\n"); }},
      {"1: a stored case is a parent",
       attach_on, "",
       [&] { exec("insert into cases (id_num, case_num, submitted_by) values (1, '1000', 'zoe')"); },
       add_form({{"parent_case_num.VALUE", "1000"}, {"attach1.VALUE", "DATA", "a.txt"}}),
       0, {"<strong id=\"case_num\">1000.1</strong>"}, 1,
       [&] {
         EXPECT_EQ(counter(), "DEFAULT\t1000\n1000\t1000.2\n");
         EXPECT_EQ(kivtest::read_file(path("attach/1000/attach1_a.txt")), "DATA");
       }},
      {"4: one address field lists 237 addresses", mail_on, "", nullptr,
       add_form({{"sub_e_mail.VALUE", many_addresses}}), 0, {"<strong id=\"case_num\">"}, 1,
       [&] {
         const std::vector<std::string> mails = peer_->sessions();
         ASSERT_EQ(mails.size(), 1u);
         EXPECT_EQ(rcpts_of(mails[0]), "a0@x.test");
       }},
      // Refused before the add's first step: no hook runs, no number is
      // drawn.
      {"6: 21 typed attachments",
       attach_on + "OBJECT{\n\tNAME=tk_pre_add\n\tVALUE=ON\n\tTITLE=touch " + path("hooked") + "\n};\n", "", nullptr,
       add_form(attachments), 0, {"Too many attachments in one request\n", "Maximum number of attachments is 20"}, 0,
       [&] {
         EXPECT_TRUE(fs::is_empty(path("attach")));
         EXPECT_EQ(counter(), "DEFAULT\t1000\n");
         EXPECT_FALSE(fs::exists(path("hooked")));
       }},
      {"7: a label count of 2147483647", "", label_on,
       [&] {
         home_.write("client/bin/tagwriter", "#!/bin/sh\ntouch " + path("printed") + "\n");
         ::chmod(path("client/bin/tagwriter").c_str(), 0755);
       },
       {{"KIVACTION", "label"}, {"bc_label.VALUE", "CASE-1"}, {"bc_label_header.VALUE", "Desk"},
        {"bc_label_qnt.VALUE", "2147483647"}},
       1, {"bc_label_qnt is blank"}, 0, [&] { EXPECT_FALSE(fs::exists(path("printed"))); }},
      {"8: separators as the required values", "", "", nullptr,
       add_form({{"submitted_by.VALUE", "^$"}, {"problem.VALUE", "^$"}}), 1,
       {"Invalid characters in 'Your name'\n", "Your problem was not reported."}, 0,
       [&] { EXPECT_EQ(counter(), "DEFAULT\t1000\n"); }},
      {"8: a separator inside a value", "", "", nullptr, add_form({{"problem.VALUE", "a^@b"}}), 1,
       {"Invalid characters in 'Problem'\n"}, 0, nullptr},
      {"9: control bytes in the subject", mail_on, "", nullptr,
       add_form({{"submitted_by.VALUE", "ann\v\f\x1b[31m\x7f" "x"}, {"sub_e_mail.VALUE", "ann@x.test"}}), 0,
       {"<strong id=\"case_num\">"}, 1,
       [&] {
         const std::vector<std::string> mails = peer_->sessions();
         ASSERT_EQ(mails.size(), 1u);
         EXPECT_NE(mails[0].find("\r\nSubject: Case 1000 from ann   [31m x\r\n"), std::string::npos) << mails[0];
       }},
      {"11: the litter of a killed request", "", "",
       [&] {
         aged(home_.write("client/config/case_num.tmpKILLED", "DEFAULT\t7\n"));
         aged(home_.write("tmp/odbcfile.1700000000.4242", ""));
         // Not swept within the hour (the cases before swept it).
         const std::string marker = path("tmp/" + std::string(kOdbcSweepMarker));
         if (fs::exists(marker)) aged(marker);
       },
       add_form(), 0, {"<strong id=\"case_num\">1000</strong>"}, 1,
       [&] {
         EXPECT_FALSE(fs::exists(path("client/config/case_num.tmpKILLED")));
         EXPECT_FALSE(fs::exists(path("tmp/odbcfile.1700000000.4242")));
       }},
      {"12: a field named PYTHONPATH reaches no hook",
       "OBJECT{\n\tNAME=pypath\n\tDBKEY=PYTHONPATH\n};\nOBJECT{\n\tNAME=tk_pre_add\n\tVALUE=ON\n\tTITLE=env >" +
           hook_env + "; exit 1\n};\n",
       "", nullptr, add_form({{"pypath.VALUE", "/tmp/evil"}}), 1, {"submit operation failed\n"}, 0,
       [&] {
         const std::string env = kivtest::read_file(hook_env);
         EXPECT_NE(env.find("\nsubmitted_by=ann\n"), std::string::npos) << env;
         EXPECT_EQ(env.find("/tmp/evil"), std::string::npos) << env;
       }},
  };
  for (const Attack& a : attacks) {
    SCOPED_TRACE(a.what);
    configure(a.objects, a.states);
    home_.write("client/config/case_num", "DEFAULT\t1000\n");
    exec("delete from cases");
    if (a.before) a.before();
    const std::string before = rows("select count(*) from cases");
    clear_output();
    EXPECT_EQ(post(a.request), a.status) << page() << errors();
    for (const std::string& s : a.shown) EXPECT_TRUE(shown(s)) << s << "\n" << page();
    EXPECT_EQ(rows("select count(*) from cases"), sformat("%d^$", std::stoi(before) + a.rows));
    if (a.after) a.after();
    fs::remove_all(path("attach"));
    fs::create_directories(path("attach"));
  }
}

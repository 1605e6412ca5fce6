// Requests an attacker sends to the sample installation, through `kepa` (the
// users' program) on a copy of install/home: the request road that every
// command shares (field limits, the request variable list, uploads, session
// keys). One table, each row a request once answered unsoundly, with what the
// help desk does instead. No page of them shows where the home lies.
#include <gtest/gtest.h>

#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "commands/up.h"
#include "support/testsupport.h"
#include "toolkit/cgitest.h"
#include "toolkit/base/kivcontext.h"
#include "toolkit/security/security.h"

using namespace kiv;

namespace {

struct Request {
  std::string method = "GET";
  std::string query;
  std::string type;  // the body's content type
  std::string body;
};

Request get(const std::string& query) { return {"GET", query, "", ""}; }
Request form_post(const std::string& body) { return {"POST", "", "application/x-www-form-urlencoded", body}; }

std::string part(const std::string& name, const std::string& value) {
  return "--B\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value + "\r\n";
}

std::string upload(const std::string& name, const std::string& filename, const std::string& data) {
  return "--B\r\nContent-Disposition: form-data; name=\"" + name + "\"; filename=\"" + filename + "\"\r\n\r\n" +
         data + "\r\n";
}

Request multipart(const std::string& parts) {
  return {"POST", "", "multipart/form-data; boundary=B", parts + "--B--\r\n"};
}

class SampleRequest : public cgitest::HomeTest {
 protected:
  SampleRequest() : HomeTest(std::string(KIV_SOURCE_DIR) + "/install/home") {}

 public:
  // What the rows of the table use.
  using HomeTest::home;
  using HomeTest::path;
  using KivTest::page;

  // One request to kepa; its exit status. The page is page().
  int send(const Request& r) {
    set("SCRIPT_NAME", "/cgi-bin/kepa.cgi");
    set("SERVER_NAME", "helpdesk");
    set("REQUEST_METHOD", r.method);
    set("QUERY_STRING", r.query);
    set("CONTENT_TYPE", r.type);
    set("CONTENT_LENGTH", std::to_string(r.body.size()));
    cgitest::Body body(r.body);
    clear_output();
    const char* argv[] = {"kepa", nullptr};
    return up_main(1, argv, kKepaStates);
  }
  bool shown(const std::string& text) const { return page().find(text) != std::string::npos; }
  // What the request left in the home's tmp (the sample's place-holder
  // aside).
  std::vector<std::string> scratch() const {
    std::vector<std::string> names = kivtest::entries(path("tmp"));
    std::erase(names, ".keep");
    return names;
  }

  // Logins on, as the README switches them on.
  void logins_on() {
    write("client/config/login_config", "kepa.cgi_REG=self\nkepa.cgi_AUTH=PASSR\nup.cgi_REG=self\nup.cgi_AUTH=NONE\n");
  }
  // The key that the links of the page a login or an account step answered
  // with carry.
  std::string key_of_page() const {
    const std::string mark = "&amp;skey=";
    const size_t at = page().find(mark);
    return at == std::string::npos ? std::string() : page().substr(at + mark.size(), 20);
  }
  std::string sign_in(const std::string& login, const std::string& password) {
    send(form_post("KIVACTION=vmain&login.VALUE=" + login + "&password.VALUE=" + password));
    return key_of_page();
  }
  std::string new_account(const std::string& login, const std::string& password) {
    send(form_post("KIVACTION=newuser&login.VALUE=" + login + "&password.VALUE=" + password +
                   "&confirmpass.VALUE=" + password));
    return key_of_page();
  }
};

// A row: what was once answered unsoundly, how the request is made (setting
// up what it needs, such as the accounts and keys of a session), how it must
// end, the texts its page must show and must not show, and what must hold of
// the home afterwards.
struct Attack {
  std::string what;
  std::function<Request(SampleRequest&)> request;
  int status;
  std::vector<std::string> shows, hides;
  std::function<void(SampleRequest&)> then = nullptr;
};

constexpr long kAttachmentMax = 10485760;  // the sample's ATTACHMENTMAXLEN
const std::string kRefusedKey = "Your account has been logged out of the system.\n";

}  // namespace

TEST_F(SampleRequest, AttacksOnTheRequestRoad) {
  const std::string counter = kivtest::read_file(path("client/config/case_num"));
  const std::string pid = std::to_string(::getpid());
  const Attack attacks[] = {
      // Fields whose names begin with "attach" passed any field limit: one
      // typed attachment of 250 MB took a gigabyte. It is held to the limit
      // of an uploaded file, with the field-size messages, in either form
      // encoding, before anything is stored.
      {"a typed attachment over ATTACHMENTMAXLEN",
       [](SampleRequest&) {
         return form_post("KIVACTION=add&submitted_by.VALUE=ann&problem.VALUE=p&attach1.VALUE=" +
                          std::string(kAttachmentMax + 1, 'x'));
       },
       0,
       {"A field of the form holds more text than the help desk takes.", "That field is longer than this limit:",
        "Maximum field size is 10485760 bytes"},
       {"Your case number"},
       [&](SampleRequest& t) { EXPECT_EQ(kivtest::read_file(t.path("client/config/case_num")), counter); }},
      {"a typed attachment over ATTACHMENTMAXLEN, as a multipart field",
       [](SampleRequest&) {
         return multipart(part("KIVACTION", "add") + part("submitted_by.VALUE", "ann") +
                          part("attachdesc1.VALUE", std::string(kAttachmentMax + 1, 'd')));
       },
       0,
       {"Maximum field size is 10485760 bytes"},
       {"Your case number"},
       [&](SampleRequest& t) { EXPECT_EQ(kivtest::read_file(t.path("client/config/case_num")), counter); }},
      {"a typed attachment at the limit passes the start-up",
       [](SampleRequest&) {
         return form_post("KIVACTION=addform&attach1.VALUE=" + std::string(kAttachmentMax, 'x'));
       },
       0,
       {"<h1>Report a problem</h1>"},
       {"Maximum field size"}},

      // Each field searched the whole list: 120,000 fields took 10 s. The
      // list keeps its order and merge rules: a later value replaces an
      // earlier one, multiple choices join.
      {"a request of 120,000 fields",
       [](SampleRequest&) {
         std::string body = "KIVACTION=addform&submitted_by.VALUE=first";
         for (int i = 0; i < 120000; ++i) body += "&f" + std::to_string(i) + "=v";
         body += "&submitted_by.VALUE=second&mm_problem.VALUE=a&mm_problem.VALUE=b&mm_problem.VALUE=c";
         return form_post(body);
       },
       0,
       {"value=\"second\"", ">a,b,c</textarea>"},
       {"first"}},

      // An upload named KIVACTION made the path of its saved copy the action,
      // which the refusal showed (the home's path and a process id). Such a
      // part gives no entry and leaves no file.
      {"an upload named KIVACTION",
       [](SampleRequest&) { return multipart(upload("KIVACTION", "x.txt", "data")); },
       1,
       {"This address does not say what the help desk should do."},
       {"KIVACTION." + pid, "tmp/"},
       [](SampleRequest& t) { EXPECT_EQ(t.scratch(), std::vector<std::string>{}); }},
      {"an upload named like the action or a setting beside the form's action",
       [](SampleRequest&) {
         return multipart(upload("kivaction", "x.txt", "data") + upload("FIELDMAXLEN", "y", "1") +
                          part("KIVACTION", "start") + upload("logindir.VALUE", "z", "2"));
       },
       0,
       {"<h1>Welcome to the help desk</h1>"},
       {pid},
       [](SampleRequest& t) { EXPECT_EQ(t.scratch(), std::vector<std::string>{}); }},
      {"an action that names a path under the home",
       [](SampleRequest& t) { return get("KIVACTION=" + t.path("tmp/x." + std::to_string(::getpid()))); },
       -1,
       {"No command for action 'NVHOME/tmp/x."},
       {}},

      // A key never expired, and a password change or a sign-out left the
      // login's other keys valid. Pages that carry a key were kept by the
      // browser, so Back after a sign-out showed them.
      {"a key left unused for 8 hours",
       [](SampleRequest& t) {
         t.logins_on();
         sessionclock().now = 1700000000;
         const std::string key = t.new_account("ann", "Tulip-42-garden");
         sessionclock().now = 1700000000 + 8 * 3600 + 60;
         return get("KIVACTION=start&skey=" + key);
       },
       1,
       {kRefusedKey},
       {"Welcome to the help desk"}},
      {"a key of the login from before its password change",
       [](SampleRequest& t) {
         t.logins_on();
         const std::string stolen = t.new_account("ann", "Tulip-42-garden");
         const std::string mine = t.sign_in("ann", "Tulip-42-garden");
         t.send(form_post("KIVACTION=chpass&login.VALUE=ann&oldpassword.VALUE=Tulip-42-garden&"
                          "password.VALUE=Quince-17-orchard&confirmpass.VALUE=Quince-17-orchard&skey=" + mine));
         EXPECT_TRUE(t.shown("<h1>Your password is changed</h1>")) << t.page();
         return get("KIVACTION=start&skey=" + stolen);
       },
       1,
       {kRefusedKey},
       {"Welcome to the help desk"}},
      {"a key of another browser after the login signed out",
       [](SampleRequest& t) {
         t.logins_on();
         const std::string other = t.new_account("ann", "Tulip-42-garden");
         const std::string mine = t.sign_in("ann", "Tulip-42-garden");
         t.send(get("KIVACTION=logout&skey=" + mine));
         EXPECT_TRUE(t.shown("<h1>You are signed out</h1>")) << t.page();
         return get("KIVACTION=start&skey=" + other);
       },
       1,
       {kRefusedKey},
       {"Welcome to the help desk"}},
      // The password change form needs no key, and its page gave its links
      // none: its sign-out said "You are signed out" and left the session
      // open. A valid key rides on its links as on every signed-in page.
      {"the sign-out link of the password change form",
       [](SampleRequest& t) {
         t.logins_on();
         const std::string key = t.new_account("ann", "Tulip-42-garden");
         t.send(get("KIVACTION=vchangepassword&skey=" + key));
         EXPECT_TRUE(t.shown("<a id=\"signout\" href=\"kepa.cgi?KIVACTION=logout&amp;skey=" + key + "&\">"))
             << t.page();
         t.send(get("KIVACTION=logout&skey=" + t.key_of_page()));
         EXPECT_TRUE(t.shown("<h1>You are signed out</h1>")) << t.page();
         return get("KIVACTION=start&skey=" + key);
       },
       1,
       {kRefusedKey},
       {"Welcome to the help desk"}},
      {"a signed-in page the browser would keep",
       [](SampleRequest& t) {
         t.logins_on();
         return get("KIVACTION=start&skey=" + t.new_account("ann", "Tulip-42-garden"));
       },
       0,
       {"Content-type: text/html\nCache-Control: no-store\n\n", "Signed in as <strong>ann</strong>"},
       {}},
  };
  for (const Attack& a : attacks) {
    SCOPED_TRACE(a.what);
    cgitest::fs::remove(path("client/config/login_config"));
    cgitest::fs::remove_all(path("login"));
    cgitest::fs::create_directories(path("login"));
    sessionclock().now.reset();
    const Request r = a.request(*this);
    EXPECT_EQ(send(r), a.status) << page().substr(0, 2000);
    for (const std::string& s : a.shows) EXPECT_TRUE(shown(s)) << s << "\n" << page().substr(0, 2000);
    for (const std::string& s : a.hides) EXPECT_FALSE(shown(s)) << s;
    EXPECT_FALSE(shown(home())) << "the page shows the home";
    if (a.then) a.then(*this);
  }
}

// The CGI environment record and the text escapes.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "support/testsupport.h"
#include "toolkit/request/kivcgiclient.h"
#include "toolkit/text/kivcgimisc.h"
#include "toolkit/base/kivcgitrace.h"
#include "toolkit/request/kivexfile.h"
#include "toolkit/base/kivfmt.h"

using namespace kiv;
using kivtest::ScopedEnv;

namespace {
class Cgi : public kivtest::KivTest {};
}

TEST_F(Cgi, RecordFromTheEnvironment) {
  ScopedEnv a("SERVER_NAME", "helpdesk"), b("REQUEST_METHOD", "post"), c("CONTENT_LENGTH", "42"),
      d("REMOTE_USER", std::nullopt), e("QUERY_STRING", "");
  cgiinfo r;
  EXPECT_EQ(getcgiinfo(r), 1);
  EXPECT_EQ(r.server_name, "helpdesk");
  EXPECT_EQ(r.remote_user, std::nullopt);
  EXPECT_EQ(r.query_string, "");
  EXPECT_EQ(r.content_length, 42);
  EXPECT_FALSE(r.content_length_bad);
  EXPECT_EQ(mcode(r), M_POST);
}

// Each variable carries its own name as its value, so a field read from the
// wrong variable or traced under the wrong label shows in the trace.
TEST_F(Cgi, EveryFieldTracedUnderItsLabelInOrder) {
  const std::pair<const char*, const char*> traced[] = {
      {"server_name=%s\n", "SERVER_NAME"},
      {"remote_host %s\n", "REMOTE_HOST"},
      {"remote_addr=%s\n", "REMOTE_ADDR"},
      {"remote_user=%s\n", "REMOTE_USER"},
      {"remote_ident=%s\n", "REMOTE_IDENT"},
      {"auth_type=%s\n", "AUTH_TYPE"},
      {"request_method=%s\n", "REQUEST_METHOD"},
      {"gateway_interface=%s\n", "GATEWAY_INTERFACE"},
      {"server_protocol=%s\n", "SERVER_PROTOCOL"},
      {"content_length=%s\n", "CONTENT_LENGTH"},
      {"content_type=%s\n", "CONTENT_TYPE"},
      {"server_software=%s\n", "SERVER_SOFTWARE"},
      {"server_port=%s\n", "SERVER_PORT"},
      {"http_accept=%s\n", "HTTP_ACCEPT"},
      {"path_info=%s\n", "PATH_INFO"},
      {"path_translated=%s\n", "PATH_TRANSLATED"},
      {"query_string=%s\n", "QUERY_STRING"},
      {"script_name=%s\n", "SCRIPT_NAME"},
  };
  std::vector<std::unique_ptr<ScopedEnv>> env;
  std::string want = "<PRE>\nWWW Protocol Configuration Begin\n</PRE>\n"
                     "<PRE>\n--------------------------------\n</PRE>\n";
  for (const auto& [label, var] : traced) {
    const std::string value = std::string(var) == "CONTENT_LENGTH" ? "42" : var;
    env.push_back(std::make_unique<ScopedEnv>(var, value));
    want += "<PRE>\n" + kiv::sformat(label, value) + "</PRE>\n";
  }
  want += "<PRE>\nWWW Protocol Configuration End\n</PRE>\n"
          "<PRE>\n------------------------------\n</PRE>\n";
  cgiinfo r;
  ASSERT_EQ(getcgiinfo(r), 1);
  reqctx().kivdebug = 1;
  EXPECT_EQ(printcgiinfo(r), 0);
  EXPECT_EQ(page(), want);
}

TEST_F(Cgi, NoServerNameAndBadLengths) {
  ScopedEnv a("SERVER_NAME", std::nullopt);
  for (const char* bad : {"-5", "12abc", "99999999999", " ", "+3"}) {
    ScopedEnv c("CONTENT_LENGTH", bad);
    cgiinfo r;
    EXPECT_EQ(getcgiinfo(r), 0);
    EXPECT_EQ(r.content_length, 0) << bad;
    EXPECT_TRUE(r.content_length_bad) << bad;
  }
  for (std::optional<std::string> none : {std::optional<std::string>(), std::optional<std::string>("")}) {
    ScopedEnv c("CONTENT_LENGTH", none);
    cgiinfo r;
    getcgiinfo(r);
    EXPECT_EQ(r.content_length, 0);
    EXPECT_FALSE(r.content_length_bad);
  }
}

TEST_F(Cgi, MethodCodes) {
  struct Case {
    std::optional<std::string> method;
    int code;
  } cases[] = {{"GET", 1}, {"get", 1}, {"POST", 2}, {"put", 3}, {"HEAD", 4},
               {"DELETE", 0}, {std::nullopt, 0}, {"GETX", 1}};
  for (auto& c : cases) {
    cgiinfo r;
    r.request_method = c.method;
    EXPECT_EQ(mcode(r), c.code) << c.method.value_or("(none)");
  }
}

TEST_F(Cgi, PrintcgiinfoTracesSetFieldsInOrder) {
  reqctx().kivdebug = 1;
  cgiinfo r;
  r.server_name = "s";
  r.request_method = "GET";
  r.script_name = "/up";
  r.content_length = 3;
  printcgiinfo(r);
  std::string p = page();
  size_t a = p.find("server_name=s\n"), b = p.find("request_method=GET\n"),
         c = p.find("content_length=3\n"), d = p.find("script_name=/up\n"),
         e = p.find("WWW Protocol Configuration End\n");
  ASSERT_NE(a, std::string::npos);
  EXPECT_LT(a, b);
  EXPECT_LT(b, c);
  EXPECT_LT(c, d);
  EXPECT_LT(d, e);
  EXPECT_EQ(p.find("remote_user"), std::string::npos);
  EXPECT_EQ(p.find("<PRE>\nWWW Protocol Configuration Begin\n</PRE>\n"), 0u);
}

TEST_F(Cgi, HeaderLine) {
  print_htmlheader();
  EXPECT_EQ(page(), "Content-type: text/html\n\n");
}

TEST_F(Cgi, Data2browsEscapes) {
  EXPECT_EQ(data2brows("a\"b<c>d&e\tf\ng\rh'i"),
            "a&#34;b&#60;c&#62;d&#38;e&#09;f&#10;g&#10;h&#39;i");
  EXPECT_EQ(data2brows(""), "");
  reqctx().bron = true;
  EXPECT_EQ(data2brows("x\ny"), "x <br> y");
}

TEST_F(Cgi, UrlEncoding) {
  std::string o;
  EXPECT_EQ(d2html(o, "a b"), "a+b");
  EXPECT_EQ(d2html(o, "/"), "%2F");
  EXPECT_EQ(d2html(o, "\t"), "%09");
  EXPECT_EQ(d2html(o, "\xe4-_.~"), "%E4%2D%5F%2E%7E");
  EXPECT_EQ(convdata2html("x y"), "x+y");
  EXPECT_EQ(convdata2html(""), "");
}

TEST_F(Cgi, Brows2dataDecodesOnlyItsOwnReferences) {
  struct Case {
    std::string in, want;
  } cases[] = {
      {"&#60;b&#62; &#34;q&#34; &#38;&#09;&#10;&#39;", "<b> \"q\" &\t\n'"},
      {"R&#D", "R&#D"},          // not a reference: kept
      {"a&#13;b", "a&#13;b"},    // carriage return is not one of the codes
      {"&#9;x", "&#9;x"},        // one digit: not a reference
      {"end&#6", "end&#6"},      // cut short at the end of the value
      {"&#", "&#"},
      {"plain", "plain"},
  };
  for (auto& c : cases) {
    exdata n = formexdatanode("v", c.in);
    brows2data(n);
    EXPECT_EQ(n.value, c.want) << c.in;
    EXPECT_EQ(n.valuelen(), static_cast<int>(c.want.size()) + 1);
  }
  // Everything data2brows writes comes back as it was.
  const std::string tricky = "<a href=\"x\">&amp;</a>\t'q'\n&#60;";
  EXPECT_EQ(brows2data_text(data2brows(tricky)), tricky);
}

TEST_F(Cgi, Brows2dataTracesForeignReferences) {
  reqctx().kivdebug = 1;
  brows2data_text("a&#13;b");
  EXPECT_NE(page().find("Bad special html char '&#13'"), std::string::npos);
}

TEST_F(Cgi, SmallStringFunctions) {
  std::string t = "abc   ";
  EXPECT_EQ(trim(t), "abc");
}

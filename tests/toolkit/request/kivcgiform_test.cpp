// The URL-encoded form readers, the choice of reader and the entry lookup.
#include <gtest/gtest.h>

#include "toolkit/cgitest.h"
#include "toolkit/request/kivcgiclient.h"
#include "toolkit/request/kivcgiform.h"
#include "toolkit/base/kivcontext.h"

using namespace kiv;
using cgitest::Body;
using cgitest::exit_status;
using kivtest::ScopedEnv;

namespace {

class Form : public kivtest::KivTest {};

using Pairs = std::vector<std::pair<std::optional<std::string>, std::optional<std::string>>>;

Pairs pairs(const form_entries& list) {
  Pairs r;
  for (const form_entry& e : list) r.emplace_back(e.name, e.value);
  return r;
}

}  // namespace

TEST_F(Form, QueryStrings) {
  struct Case {
    const char* text;
    Pairs want;
  } cases[] = {
      {"a=1&&b=2", {{"a", "1"}, {"b", "2"}}},
      {"msg=a+b%21", {{"msg", "a b!"}}},
      {"flag&KIVACTION=vmain", {{"flag", std::nullopt}, {"KIVACTION", "vmain"}}},
      {"name=", {{"name", ""}}},
      {"last", {{"last", std::nullopt}}},
      {"  & &x=%3c%3E", {{"x", "<>"}}},
      {"p%=1&q=%4", {{"p%", "1"}, {"q", "%4"}}},  // broken escapes stay as written
      {"r=%zz&s=a=b", {{"r", "%zz"}, {"s", "a=b"}}},
      {"=v&t=1", {{std::nullopt, "v"}, {"t", "1"}}},
      {"", {}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(pairs(get_fes_from_string(std::string_view(c.text))), c.want) << c.text;
  EXPECT_TRUE(get_fes_from_string(std::nullopt).empty());
}

TEST_F(Form, StreamStopsAtTheLengthAndAtAnEarlyEnd) {
  Body body("a=1&b=22&c=3");
  EXPECT_EQ(pairs(get_fes_from_stream(7, body.file())), (Pairs{{"a", "1"}, {"b", "2"}}));
  Body shorter("a=%41&b");
  EXPECT_EQ(pairs(get_fes_from_stream(1000, shorter.file())),
            (Pairs{{"a", "A"}, {"b", std::nullopt}}));
  EXPECT_TRUE(get_fes_from_stream(0, shorter.file()).empty());
}

TEST_F(Form, HexDigitPairs) {
  EXPECT_EQ(dds2c('4', '1'), 'A');
  EXPECT_EQ(dd2c('1', '4'), 'A');
  EXPECT_EQ(dds2c('f', 'F'), 0xFF);
  EXPECT_EQ(dds2c('0', 'a'), '\n');
}

TEST_F(Form, ParmvalIgnoresCase) {
  form_entries list = get_fes_from_string(std::string_view("kivaction=vmain&KIVACTION=x&e"));
  ASSERT_NE(parmval(list, "KIVACTION"), nullptr);
  EXPECT_EQ(*parmval(list, "KIVACTION"), "vmain");
  EXPECT_EQ(parmval(list, "e"), nullptr);
  EXPECT_EQ(parmval(list, "none"), nullptr);
}

TEST_F(Form, ReaderChosenByMethodAndType) {
  ScopedEnv q("QUERY_STRING", "from=query");
  Body body("from=body");
  cgiinfo info;
  info.query_string = "from=query";
  info.request_method = "post";
  info.content_type = "Application/X-WWW-Form-Urlencoded; charset=UTF-8";
  info.content_length = 9;
  EXPECT_EQ(pairs(get_form_entries(info)), (Pairs{{"from", "body"}}));
  info.request_method = "GET";
  EXPECT_EQ(pairs(get_form_entries(info)), (Pairs{{"from", "query"}}));
  // HEAD (and a POST of any other type) goes to the multipart reader.
  ScopedEnv len("CONTENT_LENGTH", std::nullopt);
  info.request_method = "HEAD";
  EXPECT_EQ(exit_status([&] { get_form_entries(info); }), 1);
  EXPECT_EQ(errors(), "No CONTENT_LENGTH\n");
}

TEST_F(Form, BadOrHugeContentLengthIsRefused) {
  Body body("a=1");
  cgiinfo info;
  info.request_method = "POST";
  info.content_type = "application/x-www-form-urlencoded";
  info.content_length_bad = true;
  EXPECT_EQ(exit_status([&] { get_form_entries(info); }), 1);
  EXPECT_EQ(errors(), "Bad CONTENT_LENGTH\n");
  info.content_length_bad = false;
  info.content_length = static_cast<int>(kMaxContentLength + 1);
  EXPECT_EQ(exit_status([&] { get_form_entries(info); }), 1);
}

TEST_F(Form, TraceHidesPasswords) {
  reqctx().kivdebug = 1;
  get_fes_from_string(std::string_view("login=ann&password.VALUE=secret&oldPassword=x"));
  EXPECT_NE(page().find("QUERY STRING='login=ann&#38;password.VALUE=*****&#38;oldPassword=*****'"),
            std::string::npos)
      << page();
  EXPECT_EQ(page().find("secret"), std::string::npos);
}

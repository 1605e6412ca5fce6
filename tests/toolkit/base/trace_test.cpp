// The trace and the error messages with the installation's errors.txt.
#include <gtest/gtest.h>

#include "support/testsupport.h"
#include "toolkit/base/kivcgitrace.h"

using namespace kiv;
using kivtest::ScopedEnv;
using kivtest::TempDir;

namespace {

class Trace : public kivtest::KivTest {};

const char* kDashes = "-------------------------------\n";

}  // namespace

TEST_F(Trace, OffWritesNothing) {
  TempDir d;
  ScopedEnv f("KIVTRACE_FILE", d.str() + "/debug.txt");
  EXPECT_EQ(kivtrace("x=%d", 1), 0);
  EXPECT_EQ(page(), "");
  EXPECT_FALSE(std::filesystem::exists(d.path() / "debug.txt"));
}

TEST_F(Trace, OnWritesFileAndPageEchoWithEscapedArguments) {
  TempDir d;
  std::string file = d.str() + "/debug.txt";
  ScopedEnv f("KIVTRACE_FILE", file);
  reqctx().kivdebug = 1;
  kivtrace("value=%s", "<b>&");
  kivtrace("line with its own end %d\n", 2);
  EXPECT_EQ(kivtest::read_file(file), "value=<b>&\nline with its own end 2\n\n");
  EXPECT_EQ(page(),
            "<PRE>\nvalue=&#60;b&#62;&#38;</PRE>\n"
            "<PRE>\nline with its own end 2\n</PRE>\n");
}

// The trace file is shared by every request: earlier lines stay, and one
// opening serves the whole process even when the variable changes later.
TEST_F(Trace, TraceFileIsAppendedToAndOpenedOnce) {
  TempDir d;
  std::string file = d.write("debug.txt", "earlier request\n");
  std::optional<ScopedEnv> f;
  f.emplace("KIVTRACE_FILE", file);
  reqctx().kivdebug = 1;
  kivtrace("first");
  f.reset();
  ScopedEnv other("KIVTRACE_FILE", d.str() + "/other.txt");
  kivtrace("second");
  EXPECT_EQ(kivtest::read_file(file), "earlier request\nfirst\nsecond\n");
  EXPECT_FALSE(std::filesystem::exists(d.path() / "other.txt"));
}

TEST_F(Trace, WithoutTraceFileOnlyThePage) {
  ScopedEnv f("KIVTRACE_FILE", std::nullopt);
  reqctx().kivdebug = 1;
  kivtrace("hello");
  EXPECT_EQ(page(), "<PRE>\nhello</PRE>\n");
}

TEST_F(Trace, UnopenableTraceFileIsReportedEachTime) {
  ScopedEnv f("KIVTRACE_FILE", "/nonexistent-dir/debug.txt");
  reqctx().kivdebug = 1;
  kivtrace("a");
  kivtrace("b");
  EXPECT_EQ(page(),
            "Cannot open `/nonexistent-dir/debug.txt'\n<PRE>\na</PRE>\n"
            "Cannot open `/nonexistent-dir/debug.txt'\n<PRE>\nb</PRE>\n");
}

TEST_F(Trace, ErrmsgAsWrittenEscapesArgumentsNotFormat) {
  errmsg("<b>Field %s too long</b>\n", "<script>");
  EXPECT_EQ(page(), "<PRE>\n<b>Field &#60;script&#62; too long</b>\n</PRE>\n");
}

TEST_F(Trace, ErrmsgUsesTheInstallationsWording) {
  TempDir home;
  home.write("client/config/errors.txt",
             "no bar here\n"
             "Field value too|Please shorten the text.\n"
             "Silent|\n");
  reqctx().nvhome = home.str();

  errmsg("Field value too long: %s\n", "x");
  EXPECT_EQ(page(), std::string("<PRE>\n") + kDashes + "Please shorten the text.\n" + kDashes +
                        "</PRE>\n");
  clear_output();
  errmsg("Silent failure %d\n", 3);
  EXPECT_EQ(page(), "");
  clear_output();
  errmsg("Unmatched %s\n", "a&b");
  EXPECT_EQ(page(), "<PRE>\nUnmatched a&#38;b\n</PRE>\n");
}

TEST_F(Trace, ErrmsgFirstMatchingLineWins) {
  TempDir home;
  home.write("client/config/errors.txt",
             "too long|First wording.\n"
             "Field|Second wording.\n");
  reqctx().nvhome = home.str();
  errmsg("Field %s too long\n", "x");
  EXPECT_EQ(page(), std::string("<PRE>\n") + kDashes + "First wording.\n" + kDashes + "</PRE>\n");
  clear_output();
  // The pattern is looked for in the format, not in the formatted message.
  errmsg("Value %s\n", "too long");
  EXPECT_EQ(page(), "<PRE>\nValue too long\n</PRE>\n");
}

TEST_F(Trace, ErrmsgEmptyPatternMatchesEverything) {
  TempDir home;
  home.write("client/config/errors.txt", "|Something went wrong.");
  reqctx().nvhome = home.str();
  errmsg("Any message %s", "x");
  EXPECT_EQ(page(), std::string("<PRE>\n") + kDashes + "Something went wrong." + kDashes +
                        "</PRE>\n");
}

TEST_F(Trace, ErrmsgWithoutErrorsFileTracesAndShowsMessage) {
  TempDir home;
  reqctx().nvhome = home.str();
  reqctx().kivdebug = 1;
  errmsg("Oops %d\n", 7);
  std::string want = "<PRE>\ncan't open '" + home.str() +
                     "/client/config/errors.txt'</PRE>\n<PRE>\nOops 7\n</PRE>\n";
  EXPECT_EQ(page(), want);
}

// A refusal that is the first thing after the content-type line begins the
// page with the installation's error head, as it stands, once; the foot ends
// the request. Messages of a page already begun, and pages of a request that
// wrote no content-type line, get neither.
TEST_F(Trace, TheFirstMessageOfARequestIsFramedByTheErrorHeadAndFoot) {
  TempDir home;
  home.write("client/kivhtml/tk/errhead.html", "<head MB{x}ME>\n");
  home.write("client/kivhtml/tk/errfoot.html", "<foot>\n");
  home.write("client/config/errors.txt", "Reworded|In other words.\n");
  reqctx().nvhome = home.str();
  struct Case {
    const char* what;
    const char* before;  // written after the content-type line
    bool header;
    std::string page;
  } cases[] = {
      {"a refusal", "", true,
       "<head MB{x}ME>\n<PRE>\nRefused\n</PRE>\n<PRE>\n" + std::string(kDashes) + "In other words.\n" + kDashes +
           "</PRE>\nNo command for action 'x'\n<foot>\n"},
      {"a page already begun", "<html>", true,
       "<html><PRE>\nRefused\n</PRE>\n<PRE>\n" + std::string(kDashes) + "In other words.\n" + kDashes +
           "</PRE>\nNo command for action 'x'\n"},
      {"no request", "", false,
       "<PRE>\nRefused\n</PRE>\n<PRE>\n" + std::string(kDashes) + "In other words.\n" + kDashes +
           "</PRE>\nNo command for action 'x'\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    reqctx().header_end.reset();
    if (c.header) content_type_written();
    out() << c.before;
    errmsg("Refused\n");
    errmsg("Reworded %d\n", 1);
    pagef("No command for action '%s'\n", "x");
    end_error_page();
    end_error_page();  // once a request
    EXPECT_EQ(page(), c.page);
    clear_output();
  }
  // Without the files the messages stand alone.
  std::filesystem::remove_all(home.path() / "client/kivhtml");
  reqctx().header_end.reset();
  content_type_written();
  errmsg("Alone\n");
  end_error_page();
  EXPECT_EQ(page(), "<PRE>\nAlone\n</PRE>\n");
}

// The page of a web request never shows where the home lies: the home
// stands as NVHOME where it names the home or begins a path, never inside a
// longer name. The console sees the paths.
TEST_F(Trace, PagesOfWebRequestsNameTheHomeNVHOME) {
  reqctx().nvhome = "/srv/desk";
  const std::pair<std::string, std::string> cases[] = {
      {"/srv/desk", "NVHOME"},
      {"/srv/desk/tmp/KIVACTION.42", "NVHOME/tmp/KIVACTION.42"},
      {"file /srv/desk/client/x and /srv/desk", "file NVHOME/client/x and NVHOME"},
      {"/srv/desktop/a /srv/desk2 x/srv/desk", "/srv/desktop/a /srv/desk2 x/srv/desk"},
      {"</srv/desk>", "&#60;NVHOME&#62;"},
  };
  for (const auto& [text, shown] : cases) {
    reqctx().web_page = false;
    EXPECT_EQ(page_escape(text), html_escape(text)) << text;
    reqctx().web_page = true;
    EXPECT_EQ(page_escape(text), shown) << text;
  }
  errmsg("Cannot open file:%s errno=%d\n", "/srv/desk/client/config/kepa_states", 2);
  pagef("No command for action '%s'\n", "/srv/desk/tmp/KIVACTION.7");
  EXPECT_EQ(page(), "<PRE>\nCannot open file:NVHOME/client/config/kepa_states errno=2\n</PRE>\n"
                    "No command for action 'NVHOME/tmp/KIVACTION.7'\n");
}

// The sample installation (install/home) as the programs read it: the case
// screen's settings and fields against the table of the schema, the counter
// file, every action of the two state files reaching a built command with a
// template that exists (and the administration only through admin_states,
// which binds every built administration word), every template printed over
// the case objects without a marker left, a table stand-in, a swallowing link
// or a head element that the engine drops, with the colour scheme in its bar,
// and every administration form that changes a file posting the version of
// the files its page was printed from.
// The pages that show the user of the request (REMOTE_USER, which the web
// server or the login step sets and whose name a person chose) show it as
// text: every character that HTML gives a meaning, "&" among them, is
// escaped, in element text and in attribute values alike.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <vector>

#include "admin/upadmin_table.h"
#include "commands/up.h"
#include "engine/upcommon.h"
#include "support/testsupport.h"
#include "toolkit/request/kivexfile.h"
#include "toolkit/pages/kivhtml.h"
#include "toolkit/objects/kivobj.h"
#include "toolkit/objects/kivobjfile.h"
#include "toolkit/base/kivsettings.h"
#include "toolkit/text/rowcol.h"

using namespace kiv;
namespace fs = std::filesystem;

namespace {

const fs::path kSample = fs::path(KIV_SOURCE_DIR) / "install" / "home";
const fs::path kTemplates = kSample / "client" / "kivhtml" / "tk";

std::string value_of(const objlist* list, const std::string& key) {
  return list ? objtext(*list, key) : std::string();
}

// The column names of the schema's case table: the first word of each line
// of its column list.
std::set<std::string> schema_columns() {
  const std::string sql = kivtest::read_file((kSample / "db" / "schema.sql").string());
  const size_t open = sql.find("create table cases (");
  const size_t close = sql.find(");", open);
  std::set<std::string> columns;
  size_t line = sql.find('\n', open);
  while (line != std::string::npos && line < close) {
    const size_t start = sql.find_first_not_of(' ', line + 1);
    const size_t end = sql.find_first_of(" \n", start);
    if (start < close && end != std::string::npos) columns.insert(sql.substr(start, end - start));
    line = sql.find('\n', line + 1);
  }
  return columns;
}

size_t count_of(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// The first code of a marker left in a page ("MB{", "}FE", ...), or none.
std::optional<std::string> marker_left(const std::string& page) {
  static const char* const kCodes[] = {"MB{", "FB{", "EB{", "AB{", "VB{", "HB{", "DB{", "RB{", "LIBB{", "TB{",
                                       "TNB{", "CB{", "}ME", "}FE", "}EE", "}AE", "}VE", "}HE", "}DE", "}RE",
                                       "}LIBE", "}TE", "}TNE", "}CE"};
  for (const char* code : kCodes)
    if (page.find(code) != std::string::npos) return code;
  return std::nullopt;
}

class SampleHome : public kivtest::KivTest {
 protected:
  void SetUp() override {
    KivTest::SetUp();
    fs::copy(kSample, home_.path(), fs::copy_options::recursive);
  }
  std::string config(const std::string& name) const { return (home_.path() / "client" / "config" / name).string(); }

  kivtest::TempDir home_;
  kivtest::ScopedEnv nvhome_{"NVHOME", home_.str()};
  kivtest::ScopedEnv path_{"PATH", "/usr/bin:/bin"};
  kivtest::ScopedEnv menutrig_{"MENUTRIG", std::nullopt};
  kivtest::ScopedEnv skey_{"skey", std::nullopt};
};

class SamplePages : public kivtest::KivTest {};

}  // namespace

TEST_F(SampleHome, TheCaseScreenMatchesTheTableAndSwitchesItsExtrasOff) {
  objholder objs = get_prog_param();
  loadobj(objs);
  ASSERT_TRUE(objs) << page();
  const Settings& s = settings();
  EXPECT_EQ(s.mssqlflag, 1);
  EXPECT_EQ(s.threetablemodel, 0);
  EXPECT_FALSE(s.attachmentsdir.has_value());
  for (const char* o : {"dbserver_hostname", "network_timeout", "db_name", "db_table_name"})
    EXPECT_FALSE(value_of(objs.get(), std::string(o) + ".VALUE").empty()) << o;
  EXPECT_EQ(value_of(objs.get(), "db_table_name.VALUE"), "cases");
  EXPECT_GT(std::atoi(value_of(objs.get(), "network_timeout.VALUE").c_str()), 0);

  // Every field is a column of the table under its own name; menus are rows
  // whose selected item is one of their items.
  const std::set<std::string> columns = schema_columns();
  std::set<std::string> fields, required;
  for (const kivobj& o : *objs) {
    const std::string dbkey = o.attr(attr::DBKEY);
    if (dbkey.empty()) continue;
    fields.insert(o.name());
    if (o.attr(attr::ENFORCE) == "1") required.insert(o.name());
    EXPECT_EQ(dbkey, o.name());
    EXPECT_TRUE(columns.contains(dbkey)) << dbkey << " is not a column of the schema";
    EXPECT_FALSE(o.attr(attr::TITLE).empty()) << o.name();
    if (o.attr(attr::TYPE) == "MENU") {
      const std::string& menu = o.value();
      ASSERT_TRUE(menu.ends_with("^$")) << o.name();
      const int n = getcolcount(menu);
      ASSERT_GE(n, 3) << o.name();
      const std::string selected = getcol(menu, 1).value_or("");
      bool listed = false;
      for (int i = 2; i <= n; ++i) listed = listed || getcol(menu, i).value_or("") == selected;
      EXPECT_TRUE(listed) << o.name() << ": the selected item '" << selected << "' is not an item";
    }
  }
  EXPECT_EQ(fields, (std::set<std::string>{"id_num", "case_num", "submitted_by", "sub_e_mail", "category",
                                           "priority", "status", "problem", "resolution", "assigned_to",
                                           "sa_e_mail", "date_open", "date_closed"}));
  // The required fields are the fields' own ENFORCE, which the field pages
  // edit: an enforce_fields list would take the place of every ENFORCE.
  EXPECT_EQ(required, (std::set<std::string>{"submitted_by", "problem"}));
  EXPECT_EQ(value_of(objs.get(), "enforce_fields.VALUE"), "");
  EXPECT_EQ(value_of(objs.get(), "problem_timestamp.VALUE"), "1");
  EXPECT_EQ(value_of(objs.get(), "resolution_timestamp.VALUE"), "1");
  // A change adds its note after the stored text, so every stamp stays.
  EXPECT_EQ(value_of(objs.get(), "problem_log.VALUE"), "ON");
  EXPECT_EQ(value_of(objs.get(), "resolution_log.VALUE"), "ON");
  // An assignment and a release set statuses of the status menu.
  const std::string statuses = value_of(objs.get(), "status.VALUE");
  for (const char* o : {"assigned_state", "open_state"}) {
    const std::string state = value_of(objs.get(), std::string(o) + ".VALUE");
    EXPECT_FALSE(state.empty()) << o;
    EXPECT_NE(statuses.find("^@" + state + "^"), std::string::npos) << o;
  }
  EXPECT_NE(statuses.find("^@In progress^@"), std::string::npos);
  // The report menu: each title names a report page of the sample, whose
  // name chooses its report; the fields the reports count are fields.
  const std::string titles = value_of(objs.get(), "reports.TITLE"), files = value_of(objs.get(), "reports.VALUE");
  ASSERT_EQ(getcolcount(titles), 3);
  ASSERT_EQ(getcolcount(files), 3);
  const char* kinds[] = {"elapse", "percent", "trend"};
  for (int i = 1; i <= 3; ++i) {
    const std::string file = getcol(files, i).value_or("");
    EXPECT_TRUE(fs::exists(home_.path() / file)) << file;
    EXPECT_NE(file.find(kinds[i - 1]), std::string::npos) << file;
  }
  EXPECT_EQ(value_of(objs.get(), "reports_menu.VALUE"), getcol(titles, 1).value_or("?"));
  EXPECT_EQ(value_of(objs.get(), "percent_report_fields.VALUE"), "status^@priority^@assigned_to^$");
  EXPECT_EQ(value_of(objs.get(), "trend_report_fields.VALUE"), "status^@priority^$");
  for (const char* sw : {"mail_notification", "autoassign_control", "workflow_control", "attach_control",
                         "tk_pre_add", "tk_post_add", "tk_pre_modify", "tk_post_modify"})
    EXPECT_NE(value_of(objs.get(), std::string(sw) + ".VALUE"), "ON") << sw;
  EXPECT_EQ(kivtest::read_file(config("case_num")), "DEFAULT\t1000\n");
  for (const char* f : {"ce_obj", "admin_obj"}) EXPECT_TRUE(loadkivobj(config(f))) << f;
}

// Each action reaches a command that is built, with its template; only
// admin_states binds the administration, and only rows it can answer; it
// binds other commands too (the export), whose templates lie under tk. An
// action line may hold more words than the command and its template. The
// Linux front's prog_states binds command programs (their build is checked
// with the Linux programs) and names the label format file, which the
// sample holds too.
TEST_F(SampleHome, EveryActionReachesABuiltCommandAndItsTemplate) {
  struct StateFile {
    std::string name, folder;
    bool admin, linux_road;
    int actions;  // at least
  } files[] = {{"kepa_states", "tk", false, false, 3},
               {"admin_states", "tk", true, false, 3},
               {"prog_states", "tk", false, true, 2}};
  for (const StateFile& f : files) {
    std::optional<exlist> list = file2ex(config(f.name));
    ASSERT_TRUE(list) << f.name;
    int actions = 0;
    for (const exdata& node : list->nodes) {
      SCOPED_TRACE(f.name + ": " + node.name + "=" + node.value);
      if (node.name == "bc_label_format.VALUE") {
        EXPECT_TRUE(fs::exists(config(node.value)));
      }
      const std::vector<std::string> words = split_command(node.value);
      if (is_state_setting(node.name) || node.name.ends_with(".VALUE") || words.empty()) continue;
      ++actions;
      const bool admin = words[0] == "up_admin";
      if (!f.linux_road) {
        EXPECT_NE(find_handler(words[0]), nullptr);
        // The administration, and the inventory (it names users and their
        // addresses), only behind the administrator's password.
        if (!f.admin) {
          EXPECT_FALSE(admin || words[0] == "up_sms");
        }
      }
      // The default profile commands take their flag as a third word; only
      // the administration's state file gives the flags that name another
      // person's profile (-uf, -sf, -ss).
      const bool flagged = words[0] == "up_df" || words[0] == "up_getdf" || words[0] == "up_sedf";
      if (flagged) {
        ASSERT_EQ(words.size(), 3u);
      } else {
        ASSERT_GE(words.size(), 2u);
      }
      if (flagged && !f.admin) {
        EXPECT_TRUE(words[2] != "-uf" && words[2] != "-sf" && words[2] != "-ss");
      }
      // The print command's page comes from the report menu (each report
      // page is checked with the case screen), not from its second word.
      if (words[0] != "up_print") {
        EXPECT_TRUE(fs::exists(home_.path() / "client" / "kivhtml" / (admin ? "admin" : f.folder) / words[1]));
      }
      const AdminAction* row = find_admin_action(node.name);
      EXPECT_TRUE(!row || admin_action_built(*row)) << "a save that is not built yet";
    }
    EXPECT_GE(actions, f.actions) << f.name;
  }
  const std::optional<exlist> linux_states = file2ex(config("prog_states"));
  ASSERT_TRUE(linux_states);
  EXPECT_EQ(getstateval(&*linux_states, "bc_label_format.VALUE"), "label.fmt");
}

namespace {

// The text of a template outside its tables (TB{ ... }TE), whose bodies are
// written once per row, or not at all without a table value.
std::string outside_tables(std::string text) {
  for (size_t open = text.find("TB{"); open != std::string::npos; open = text.find("TB{", open)) {
    size_t close = text.find("}TE", open);
    text.erase(open, close == std::string::npos ? std::string::npos : close + 3 - open);
  }
  return text;
}

// The tables of a template: the object each one shows and its body.
struct TemplateTable {
  std::string object, body;
};

std::vector<TemplateTable> template_tables(const std::string& text) {
  std::vector<TemplateTable> tables;
  for (size_t open = text.find("TB{"); open != std::string::npos; open = text.find("TB{", open + 3)) {
    const size_t close = text.find("}TE", open);
    const std::string body = text.substr(open, close == std::string::npos ? std::string::npos : close - open);
    const size_t name = body.find("TNB{");
    const size_t end = body.find("}TNE");
    if (name != std::string::npos && end != std::string::npos)
      tables.push_back({body.substr(name + 4, end - name - 4), body});
  }
  return tables;
}

// A small result for a table: the columns its body names, then two rows.
constexpr int kFixtureRows = 2;
std::string fixture_result(const std::string& body) {
  std::vector<std::string> columns;
  for (const char* code : {"CB{", "LCB{", "ACB{"}) {
    for (size_t at = body.find(code); at != std::string::npos; at = body.find(code, at + 1)) {
      if (std::string(code) == "CB{" && at > 0 && (body[at - 1] == 'L' || body[at - 1] == 'A')) continue;
      const size_t from = at + std::string(code).size();
      std::string column = body.substr(from, body.find('}', from) - from);
      if (!column.empty() && (column[0] == '?' || column[0] == '!')) column.erase(0, 1);
      if (column == "rec_serial_num" || column == "total_recs_num" || column == "rec_data") continue;
      if (std::find(columns.begin(), columns.end(), column) == columns.end()) columns.push_back(column);
    }
  }
  std::string header, rows;
  for (const std::string& c : columns) header += (header.empty() ? "" : "^@") + c;
  for (int r = 1; r <= kFixtureRows; ++r) {
    std::string row;
    for (size_t i = 0; i < columns.size(); ++i) row += (row.empty() ? "" : "^@") + std::string("v") + std::to_string(r);
    rows += row + "^$";
  }
  return header + "^$" + rows;
}

}  // namespace

// Every word of the action table is built and has its page in admin_states.
TEST_F(SampleHome, AdminStatesBindsEveryBuiltAdministrationWord) {
  std::optional<exlist> states = file2ex(config("admin_states"));
  ASSERT_TRUE(states);
  int built = 0;
  for (const AdminAction& row : admin_actions()) {
    if (!admin_action_built(row)) continue;
    ++built;
    std::optional<std::string> line = getstateval(&*states, row.word);
    ASSERT_TRUE(line) << "'" << row.word << "' is built but admin_states does not bind it";
    const std::vector<std::string> words = split_command(*line);
    ASSERT_EQ(words.size(), 2u) << row.word;
    EXPECT_EQ(words[0], "up_admin");
    EXPECT_TRUE(fs::exists(home_.path() / "client" / "kivhtml" / "admin" / words[1])) << words[1];
  }
  // Every word of the table.
  EXPECT_EQ(built, 72);
}

// A form that changes an object file posts, and carries the version of the
// files its page was printed from; every such word of admin_states has one.
TEST_F(SampleHome, EveryWritingFormPostsAndCarriesTheVersion) {
  std::optional<exlist> states = file2ex(config("admin_states"));
  ASSERT_TRUE(states);
  std::set<std::string> posted;
  for (const auto& e : fs::recursive_directory_iterator(home_.path() / "client" / "kivhtml" / "admin")) {
    if (!e.is_regular_file()) continue;
    const std::string text = kivtest::read_file(e.path().string());
    for (size_t at = text.find("<form"); at != std::string::npos; at = text.find("<form", at + 1)) {
      const size_t end = text.find("</form>", at);
      ASSERT_NE(end, std::string::npos) << e.path();
      const std::string form = text.substr(at, end - at);
      const std::string mark = "name=\"KIVACTION\" value=\"";
      const size_t v = form.find(mark);
      ASSERT_NE(v, std::string::npos) << e.path() << ": a form without its action";
      const std::string word = form.substr(v + mark.size(), form.find('"', v + mark.size()) - v - mark.size());
      const AdminAction* row = find_admin_action(word);
      if (!row) {
        // A form of another command that the administration's state file
        // binds (the defaults of other people).
        const std::optional<std::string> line = getstateval(&*states, word);
        ASSERT_TRUE(line) << e.path() << ": " << word;
        EXPECT_NE(split_command(*line).front(), "up_admin") << word;
        continue;
      }
      if (row->saves == AdminSaves::none) continue;
      SCOPED_TRACE(e.path().string() + ": " + word);
      EXPECT_NE(form.substr(0, form.find('>')).find("method=\"post\""), std::string::npos);
      EXPECT_NE(form.find("HB{admin_version.VALUE}HE"), std::string::npos);
      posted.insert(word);
    }
  }
  for (const exdata& node : states->nodes) {
    const AdminAction* row = find_admin_action(node.name);
    if (row && row->saves != AdminSaves::none) {
      EXPECT_TRUE(posted.contains(node.name)) << node.name;
    }
  }
}

TEST_F(SampleHome, EveryTemplatePrintsWithoutTheEnginesLeftovers) {
  kivtest::ScopedEnv key("skey", "12209385011111111111");
  objholder objs = get_prog_param();
  loadobj(objs);
  ASSERT_TRUE(objs);
  int pages = 0;
  for (const char* folder : {"tk", "admin"}) {
    for (const auto& e : fs::recursive_directory_iterator(home_.path() / "client" / "kivhtml" / folder)) {
      // The include folder, the frame of refusal pages, written as it
      // stands, and the alarm message text are no templates; the export
      // page's head and foot are one page together (below).
      const std::string name = e.path().filename().string();
      if (!e.is_regular_file() || e.path().parent_path().filename() == "lib" || name.starts_with("err") ||
          name == "exporthead.html" || name == "exportfoot.html" || e.path().extension() != ".html")
        continue;
      SCOPED_TRACE(e.path().string());
      const std::string text = kivtest::read_file(e.path().string());
      // Each table shows a small result of the columns it names; what a
      // find sets beside its result stands too.
      size_t links = count_of(outside_tables(text), "KIVACTION=");
      for (const TemplateTable& t : template_tables(text)) {
        adduniqobj(*objs, t.object + ".VALUE", fixture_result(t.body), Origin::record);
        links += kFixtureRows * count_of(t.body, "KIVACTION=");
      }
      adduniqobj(*objs, "findresultnum.VALUE", std::to_string(kFixtureRows));
      clear_output();
      ASSERT_EQ(printhtml(objs.get(), e.path().string()), 0);
      const std::string out = page();
      ++pages;
      EXPECT_EQ(marker_left(out), std::nullopt);
      EXPECT_EQ(out.find("No object value for"), std::string::npos);
      EXPECT_EQ(text.find("<head>"), std::string::npos) << "the engine drops a head written in lower case";
      EXPECT_NE(out.find("<HEAD>"), std::string::npos);
      // Each link's action ends at its "&", so each got the key.
      EXPECT_EQ(count_of(out, "&amp;skey=12209385011111111111&"), links);
      // The tables' rows are printed, each cell a value of the fixture.
      for (const TemplateTable& t : template_tables(text)) {
        if (t.body.find("CB{") != std::string::npos) {
          EXPECT_NE(out.find("v" + std::to_string(kFixtureRows)), std::string::npos) << t.object;
        }
      }
      EXPECT_EQ(out.find("No data for"), std::string::npos);
      EXPECT_TRUE(out.ends_with("</html>\n")) << out;
      // The bar takes the colour of the scheme.
      EXPECT_NE(out.find("<header class=\"bar\"><svg class=\"bar-colour\" aria-hidden=\"true\"><rect "
                         "width=\"100%\" height=\"100%\" fill=\"#1f4e79\"/></svg>"),
                std::string::npos);
    }
  }
  EXPECT_EQ(pages, 115);
}

// Every page of the signed-in road says who is signed in and how to sign
// out (the line hides itself while nobody is), and is asked for again when
// the browser would show it from its memory (session.inc, at the address
// the line gives); the pages before the sign-in, the Linux station's and
// the administration's computer inventory (behind the web server's password)
// have no such line.
TEST_F(SamplePages, TheSignedInRoadShowsTheUserAndTheSignOut) {
  // The export pages (a case, the percentage report) are written into
  // files read without the help desk.
  const std::set<std::string> before_signin = {"login.html",     "newaccount.html",    "logout.html",
                                               "intake.html",    "label.html",         "errhead.html",
                                               "errfoot.html",   "inventory.html",     "inventory_form.html",
                                               "export.html",    "exporthead.html",    "exportfoot.html", "percent_report.html"};
  int pages = 0;
  for (const auto& e : fs::directory_iterator(kTemplates)) {
    const std::string name = e.path().filename().string();
    if (!e.is_regular_file() || before_signin.contains(name) || !name.ends_with(".html")) continue;
    SCOPED_TRACE(name);
    const std::string text = kivtest::read_file(e.path().string());
    EXPECT_NE(text.find("LIBB{session.inc}LIBE\n<p class=\"session\" data-user=\"EB{REMOTE_USER}EE\" "
                        "data-here=\"kepa.cgi?KIVACTION="),
              std::string::npos);
    EXPECT_NE(text.find("<a id=\"signout\" href=\"kepa.cgi?KIVACTION=logout&\">"), std::string::npos);
    ++pages;
  }
  EXPECT_EQ(pages, 30);
  EXPECT_NE(kivtest::read_file((kTemplates / "lib" / "session.inc").string()).find("e.persisted"), std::string::npos);
}

// The frame of a refusal page: errhead.html and errfoot.html make one page
// with its charset, the stylesheet, the site bar, a way back to the form and
// a real link onward (no script needed). No marker is read in them, so they
// hold none.
TEST_F(SamplePages, TheRefusalFrameIsAWholeStyledPage) {
  const std::string head = kivtest::read_file((kTemplates / "errhead.html").string());
  const std::string foot = kivtest::read_file((kTemplates / "errfoot.html").string());
  const std::string page = head + "<PRE>\nA refusal\n</PRE>\n" + foot;
  for (const char* part : {"<!DOCTYPE html>", "<meta charset=\"utf-8\">", "<link rel=\"stylesheet\" href=\"/kiv.css\">",
                           "<header class=\"bar\">", "<title>", "href=\"javascript:history.back()\"",
                           "href=\"/cgi-bin/kepa.cgi?KIVACTION=start\"", "href=\"/\"", "</html>\n"})
    EXPECT_NE(page.find(part), std::string::npos) << part;
  EXPECT_EQ(marker_left(page), std::nullopt);
  EXPECT_FALSE(head.ends_with("</html>\n"));
}

// The export's page: exporthead.html and exportfoot.html, printed over the
// objects around the export's lines, make one styled page of the
// administration, with the colour of the scheme in its bar and a way back.
TEST_F(SampleHome, TheExportPageIsAWholeStyledPage) {
  kivtest::ScopedEnv key("skey", "12209385011111111111");
  objholder objs = get_prog_param();
  loadobj(objs);
  ASSERT_TRUE(objs);
  clear_output();
  ASSERT_EQ(printhtml(objs.get(), (home_.path() / "client/kivhtml/tk/exporthead.html").string()), 0);
  out() << "<PRE>\nTotal Cases=1\n</PRE>\n";
  ASSERT_EQ(printhtml(objs.get(), (home_.path() / "client/kivhtml/tk/exportfoot.html").string()), 0);
  const std::string out = page();
  for (const char* part : {"<!DOCTYPE html>", "<HEAD>", "<meta charset=\"utf-8\">",
                           "<link rel=\"stylesheet\" href=\"/kiv.css\">", "fill=\"#1f4e79\"", "<title>",
                           "<div class=\"card report\" id=\"report\">\n<PRE>\nTotal Cases=1\n</PRE>\n</div>",
                           "KIVACTION=admin&amp;skey=12209385011111111111&"})
    EXPECT_NE(out.find(part), std::string::npos) << part;
  EXPECT_EQ(marker_left(out), std::nullopt);
  EXPECT_TRUE(out.ends_with("</html>\n")) << out;
}

TEST_F(SamplePages, TheUserOfTheRequestIsPrintedAsText) {
  const std::string user = "ann&co\"<b>'";
  const std::string escaped = "ann&#38;co&#34;&#60;b&#62;&#39;";
  kivtest::ScopedEnv remote_user("REMOTE_USER", user);
  objlist objs;
  for (const char* name : {"start.html", "changepassword.html", "accountmade.html", "passwordchanged.html"}) {
    SCOPED_TRACE(name);
    const std::string path = (kTemplates / name).string();
    const size_t shown = count_of(kivtest::read_file(path), "EB{REMOTE_USER}EE");
    ASSERT_GT(shown, 0u);
    clear_output();
    ASSERT_EQ(printhtml(&objs, path), 0);
    EXPECT_EQ(count_of(page(), escaped), shown) << page();
    EXPECT_EQ(page().find("ann&co"), std::string::npos);
  }
}

// The page template engine: a golden page over every marker, the markers'
// edge cases one by one, tables, the session key in links and forms, text
// attachments and the whole-file reader.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/flavour.h"
#include "platform/output.h"
#include "support/services.h"
#include "support/testsupport.h"
#include "toolkit/base/kivcontext.h"
#include "toolkit/objects/objprotect.h"
#include "toolkit/request/kivexfile.h"
#include "toolkit/pages/kivhtml.h"
#include "toolkit/objects/kivobjfile.h"
#include "toolkit/base/kivsettings.h"

using namespace kiv;
using kivtest::ScopedEnv;
using kivtest::TempDir;

namespace {

const std::string kFixture = std::string(KIV_FIXTURES) + "/kivhtml";
constexpr const char* kKey = "41207938501234567890";

class Template : public kivtest::KivTest {
 protected:
  // The page of a template text over the list.
  std::string render(const std::string& text, const objlist* list) {
    std::string path = dir_.write("page.html", text);
    clear_output();
    EXPECT_EQ(printhtml(list, path), 0);
    return page();
  }
  // The page of a template text over objects given as "key=value" settings.
  std::string render(const std::string& text, std::initializer_list<std::pair<const char*, const char*>> objects = {}) {
    objlist list;
    for (const auto& [key, value] : objects) adduniqobj(list, key, value);
    return render(text, &list);
  }

  TempDir dir_;
  ScopedEnv skey_{"skey", kKey};
};

}  // namespace

// Every marker, inside and outside a table, in one page. The expected page is
// checked in beside the template.
TEST_F(Template, GoldenPage) {
  ScopedEnv home("NVHOME", kFixture);
  start_home({});  // as a program starts
  ScopedEnv user("KIV_GOLDEN_USER", "operator <ops> & \"co\"");
  ScopedEnv unset("KIV_GOLDEN_UNSET", std::nullopt);
  ScopedEnv template_path("TEMPLATE_PATH", std::nullopt);
  settings().libdir = kFixture + "/client/kivhtml/tk/lib";
  settings().attachmentsdir = kFixture + "/attach";
  std::unique_ptr<objlist> list = loadkivobj(kFixture + "/client/config/tk_obj");
  ASSERT_TRUE(list);
  adduniqobj(*list, "problem.VALUE", "Printer <HP> & \"tray\"\nsecond line", Origin::request);  // typed in a form

  ASSERT_EQ(printhtml(list.get(), kFixture + "/client/kivhtml/tk/golden.html"), 0);
  // The messages name the fixture folder, wherever the sources are.
  std::string shown = page();
  for (size_t p; (p = shown.find(kFixture)) != std::string::npos;) shown.replace(p, kFixture.size(), "@FIXTURE@");
  EXPECT_EQ(shown, kivtest::read_file(kFixture + "/golden.expected"));
  EXPECT_STREQ(std::getenv("TEMPLATE_PATH"), "/client/kivhtml/tk/golden.html");
  EXPECT_FALSE(reqctx().bron);
}

namespace {

struct MarkerCase {
  const char* what;
  const char* text;
  const char* page;
};

// Objects every marker case runs over.
const std::initializer_list<std::pair<const char*, const char*>> kObjects = {
    {"title.VALUE", "Case list"},
    {"fmt.VALUE", "100%s %d %n"},
    {"prio.VALUE", "High^@Low^@High^@Medium^$"},
    {"notarow.VALUE", "High^@Low"},
    {"blank.VALUE", " a,b^@a^@c^$"},
    {"sex.VALUE", "M"},
    {"color_scheme.VALUE", "Header-ff0000^@frame-00ff00^$"},
    {"rows.VALUE", "id^@name^$1^@Ann^$2^@^^^$3^@Cy^$"},
    {"serials.VALUE", "id^@rec_serial_num^$1^@first^$2^@^^^$"},
    {"nokeys.VALUE", "id^@name"},
    {"keyonly.VALUE", "id^@name^$"},
};

const MarkerCase kMarkerCases[] = {
    {"a key without an attribute word finds nothing", "[MB{title}ME][MB{title.VALUE}ME]", "[][Case list]"},
    {"data is never a format", "MB{fmt.VALUE}ME FB{fmt.VALUE}FE", "100%s %d %n 100%s %d %n"},
    {"a marker that never closes drops the rest", "a MB{title.VALUE} b </form>", "a "},
    {"a link that never reaches an ampersand drops the rest", "<a href=\"up?KIVACTION=find\">x</a>",
     "<a href=\"up?"},
    {"drop-down items once each after the selected one", "<option selected>DB{prio.VALUE}DE",
     "<option selected>High\n<OPTION>Low\n<OPTION>Medium\n"},
    {"a drop-down value that is not a row writes nothing", "[DB{notarow.VALUE}DE][DB{none.VALUE}DE]", "[][None]"},
    {"a multiple-choice selection beginning with a blank selects nothing", "MDB{blank.VALUE}MDE",
     "<select name=\"mm_blank.VALUE\" multiple size=\"5\">\n<option>a</option>\n<option>c</option>\n</select>\n"},
    {"a multiple-choice menu without a name", "MDB{}MDE",
     "No multi drop menu name<select name=\"mm_.VALUE\" multiple size=\"5\">\n<option>None</option>\n</select>\n"},
    {"an attachment input without a name", "AB{}AE", "No attachment name<input type=\"file\" size=\"20\" name=\".VALUE\">"},
    {"radio buttons compare with case", "RB{sex#M}RE RB{sex#m}RE",
     "<input name=\"sex.VALUE\" type=\"radio\" CHECKED VALUE=\"M\"> "
     "<input name=\"sex.VALUE\" type=\"radio\" VALUE=\"m\">"},
    {"colours: scheme key without case, a literal colour, an empty key",
     "<td bgcolor=\"#header\"><td bgcolor=\"#c0c0c0\"><a href=\"#\">",
     "<td bgcolor=\"#ff0000\"><td bgcolor=\"#c0c0c0\"><a href=\"#\">"},
    {"form tags in either case, not mixed", "</form></FORM></Form>",
     "\n<input type=\"hidden\" name=\"skey\" value=\"41207938501234567890\"> \n</form>\n"
     "\n<input type=\"hidden\" name=\"skey\" value=\"41207938501234567890\"> \n</form>\n</Form>"},
    {"the head element goes only in lower case", "<head><title>t</title></head><HEAD>h</HEAD>", "<HEAD>h</HEAD>"},
    {"bron and broff in any case write nothing", "[EB{BRON}EE][EB{Broff}EE]", "[][]"},
    {"a table over three records numbers them and counts them",
     "TB{TNB{rows}TNE(CB{rec_serial_num}CE/CB{total_recs_num}CE:CB{name}CE)}TE", "(1/3:Ann)(2/3:*)(3/3:Cy)"},
    {"a record column of that name wins over the serial number",
     "TB{TNB{serials}TNE[CB{rec_serial_num}CE]}TE", "[first][*]"},
    {"a table without columns writes its body once", "TB{TNB{rows}TNE<p>body</p>}TE", "<p>body</p>"},
    {"a table without a name", "TB{<tr>CB{id}CE</tr>}TE", "No name for this table"},
    {"a table without a value writes nothing", "[TB{TNB{absent}TNECB{id}CE}TE]", "[]"},
    {"a table value without a key row", "TB{TNB{nokeys}TNECB{id}CE}TE", "No Keys for this table"},
    {"a table of a key row alone writes nothing", "[TB{TNB{keyonly}TNECB{id}CE}TE]", "[]"},
    {"a table that never closes drops the rest", "a TB{TNB{rows}TNECB{id}CE", "a "},
    {"the closing code inside a marker's content is content",
     "TB{TNB{rows}TNE<MB{title.}TE}ME>CB{id}CE}TE", "<No object value for title.}TE>1<No object value for title.}TE>2"
                                                    "<No object value for title.}TE>3"},
    {"the author's placeholders and the column markers are filled in order, the places left keep %s",
     "TB{TNB{rows}TNE[%s]CB{id}CE-CB{name}CE;}TE", "[1]Ann-%s;[2]*-%s;[3]Cy-%s;"},
    {"a table without columns keeps its placeholders", "TB{TNB{rows}TNE%s %s}TE", "%s %s"},
    {"a placeholder that a marker splits is text", "TB{TNB{rows}TNE%FB{absent.VALUE}FEs CB{id}CE}TE", "%s 1%s 2%s 3"},
    {"data holding a placeholder inside a table is text", "TB{TNB{rows}TNEMB{fmt.VALUE}ME CB{name}CE;}TE",
     "100%s %d %n Ann;100%s %d %n *;100%s %d %n Cy;"},
};

}  // namespace

TEST_F(Template, Markers) {
  for (const MarkerCase& c : kMarkerCases) EXPECT_EQ(render(c.text, kObjects), c.page) << c.what;
}

namespace {

// Where the values of a page came from, each set the way the system sets it.
enum class Source { object_file, program, request, record };

struct SourceCase {
  Source source;
  const char* name;
  bool marked;  // a request's or a record's text
};
const SourceCase kSources[] = {
    {Source::object_file, "object file", false},
    {Source::program, "program", false},
    {Source::request, "request", true},
    {Source::record, "record", true},
};

// The values of the marker-by-source cases: markup everywhere.
const std::pair<const char*, const char*> kSourced[] = {
    {"x.VALUE", "<i>a&b</i>"},
    {"x.LEN", "4\"x"},
    {"m.VALUE", "<b>^@a^@<c>^$"},
    {"color_scheme.VALUE", "head-\"red^$"},
    {"t.VALUE", "id^@name^$1^@<i>^$"},
};

std::unique_ptr<objlist> objects_from(Source source) {
  auto list = std::make_unique<objlist>();
  switch (source) {
    case Source::object_file: {
      objlist written;
      for (auto [key, value] : kSourced) adduniqobj(written, key, value);
      std::string text;
      EXPECT_TRUE(writekivobj(written, text));
      return readkivobj(text);
    }
    case Source::program:
      for (auto [key, value] : kSourced) adduniqobj(*list, key, value);
      break;
    case Source::request: {  // the administration's copy, which takes every attribute
      exlist req;
      for (auto [key, value] : kSourced) req.nodes.push_back(formexdatanode(key, value));
      ex2obj(req, *list, ExCopy::full);
      break;
    }
    case Source::record:  // as the record readers set a record's values
      for (auto [key, value] : kSourced) adduniqobj(*list, key, value, Origin::record);
      break;
  }
  return list;
}

struct SourcedMarker {
  const char* what;
  const char* text;
  const char* config_page;  // over values of an object file or the program
  const char* marked_page;  // over values of a request or a record
};

#define ESCAPED_X "&#60;i&#62;a&#38;b&#60;/i&#62;"
const SourcedMarker kSourcedMarkers[] = {
    {"MB prints configuration as it is and escapes the rest", "MB{x.VALUE}ME", "<i>a&b</i>", ESCAPED_X},
    {"FB escapes every value", "FB{x.VALUE}FE", ESCAPED_X, ESCAPED_X},
    {"LFB escapes and encodes every value", "LFB{x.VALUE}LFE",
     "%26%2360%3Bi%26%2362%3Ba%26%2338%3Bb%26%2360%3B%2Fi%26%2362%3B",
     "%26%2360%3Bi%26%2362%3Ba%26%2338%3Bb%26%2360%3B%2Fi%26%2362%3B"},
    {"HB escapes every value", "HB{x.VALUE}HE", "<INPUT TYPE=\"HIDDEN\" NAME=\"x.VALUE\" VALUE=\"" ESCAPED_X "\">",
     "<INPUT TYPE=\"HIDDEN\" NAME=\"x.VALUE\" VALUE=\"" ESCAPED_X "\">"},
    {"AB prints its size as MB does", "AB{x.VALUE}AE", "<input type=\"file\" size=\"4\"x\" name=\"x.VALUE\">",
     "<input type=\"file\" size=\"4&#34;x\" name=\"x.VALUE\">"},
    {"MDB prints its size as MB does and escapes its items", "MDB{x.VALUE}MDE",
     "<select name=\"mm_x.VALUE\" multiple size=\"4\"x\">\n<option selected>" ESCAPED_X " </option>\n</select>\n",
     "<select name=\"mm_x.VALUE\" multiple size=\"4&#34;x\">\n<option selected>" ESCAPED_X " </option>\n</select>\n"},
    {"DB escapes every item", "DB{m.VALUE}DE", "&#60;b&#62;\n<OPTION>a\n<OPTION>&#60;c&#62;\n",
     "&#60;b&#62;\n<OPTION>a\n<OPTION>&#60;c&#62;\n"},
    {"ODB escapes the selected item", "ODB{m.VALUE}ODE", "&#60;b&#62;", "&#60;b&#62;"},
    {"a colour of the scheme is printed as MB does", "<td bgcolor=\"#head\">", "<td bgcolor=\"#\"red\">",
     "<td bgcolor=\"#&#34;red\">"},
    {"a table escapes its cells; its FB and MB print as MB does",
     "TB{TNB{t}TNE[CB{name}CE|FB{x.VALUE}FE|MB{x.VALUE}ME|FB{t.VALUE}FE]}TE",
     "[&#60;i&#62;|<i>a&b</i>|<i>a&b</i>|id^@name^$1^@<i>^$]",
     "[&#60;i&#62;|" ESCAPED_X "|" ESCAPED_X "|id^@name^$1^@&#60;i&#62;^$]"},
    {"a table's drop-down escapes every item", "TB{TNB{t}TNE[DB{m.VALUE}DE]CB{id}CE}TE",
     "[<OPTION SELECTED>\n&#60;b&#62;<OPTION>\na<OPTION>\n&#60;c&#62;]1",
     "[<OPTION SELECTED>\n&#60;b&#62;<OPTION>\na<OPTION>\n&#60;c&#62;]1"},
};
#undef ESCAPED_X

}  // namespace

// Each marker over values of each source: what configuration or the program
// wrote may hold markup and is printed as it is where a marker prints raw;
// what a request or a record supplied is escaped wherever it shows.
TEST_F(Template, MarkersByValueSource) {
  for (const SourceCase& src : kSources) {
    std::unique_ptr<objlist> list = objects_from(src.source);
    ASSERT_TRUE(list);
    EXPECT_EQ(getattrfromlist(*list, "x.VALUE")->marked(), src.marked) << src.name;
    for (const SourcedMarker& c : kSourcedMarkers)
      EXPECT_EQ(render(c.text, list.get()), src.marked ? c.marked_page : c.config_page)
          << c.what << " (" << src.name << ")";
  }
}

// The environment holds request text (the action, the menu trigger, the
// login) beside what the program sets from the clock and the configuration:
// only the latter is printed as it is, inside a table too.
TEST_F(Template, EnvironmentMarkers) {
  for (const char* name : {"TODAY", "TIME", "TEMPLATE_PATH"}) {
    ScopedEnv v(name, "<i>");
    EXPECT_EQ(render(std::string("EB{") + name + "}EE"), "<i>") << name;
  }
  for (const char* name : {"MENUTRIG", "KIVACTION", "REMOTE_USER", "HTTP_USER_AGENT"}) {
    ScopedEnv v(name, "<i>");
    EXPECT_EQ(render(std::string("EB{") + name + "}EE TB{EB{" + name + "}EE}TE"), "&#60;i&#62; &#60;i&#62;") << name;
  }
}

TEST_F(Template, SessionKeyInLinksAndForms) {
  const std::string text = "up?KIVACTION=find&x=1 <form></form>";
  EXPECT_EQ(render(text), std::string("up?KIVACTION=find&amp;skey=") + kKey +
                              "&x=1 <form>\n<input type=\"hidden\" name=\"skey\" value=\"" + kKey + "\"> \n</form>\n");
  for (std::optional<std::string> none : {std::optional<std::string>(), std::optional<std::string>("")}) {
    ScopedEnv unset("skey", none);
    EXPECT_EQ(render(text), "up?KIVACTION=find&amp;skey=NOKEY&x=1 <form>\n<input type=\"hidden\" name=\"skey\" "
                            "value=\"NOKEY\"> \n</form>\n");
  }
  // The key is escaped for where it stands.
  ScopedEnv odd("skey", "1\"><b>&2");
  EXPECT_EQ(render("KIVACTION=f& </form>"),
            "KIVACTION=f&amp;skey=1%22%3E%3Cb%3E%262& \n<input type=\"hidden\" name=\"skey\" "
            "value=\"1&#34;&#62;&#60;b&#62;&#38;2\"> \n</form>\n");
}

// The colour markers of a page look their scheme up each time: a context
// that runs again after the scheme changed, or went, shows the new colours.
TEST_F(Template, ColourMarkersFollowTheScheme) {
  objlist list;
  adduniqobj(list, "color_scheme.VALUE", "row-eeeeee^@plain^@Head-111111^@head-222222^@link-^$");
  const std::string text = "=\"#row\" =\"#HEAD\" =\"#row\" =\"#plain\" =\"#link\" =\"#none\"";
  StringSink page;
  kivhtml ctx;
  ctx.text = text;
  ctx.lists.push_back(&list);
  ctx.out = &page;
  html_fprintf(ctx);
  EXPECT_EQ(page.text(), "=\"#eeeeee\" =\"#111111\" =\"#eeeeee\" =\"#plain\" =\"#\" =\"#none\"");
  adduniqobj(list, "color_scheme.VALUE", "row-<b>^@head-333333^$", Origin::record);
  page.clear();
  html_fprintf(ctx);
  EXPECT_EQ(page.text(), "=\"#&#60;b&#62;\" =\"#333333\" =\"#&#60;b&#62;\" =\"#plain\" =\"#link\" =\"#none\"");
  adduniqobj(list, "color_scheme.VALUE", "");
  page.clear();
  html_fprintf(ctx);
  EXPECT_EQ(page.text(), "=\"#row\" =\"#HEAD\" =\"#row\" =\"#plain\" =\"#link\" =\"#none\"");
}

TEST_F(Template, ObjectBlocksArePlainText) {
  objlist list;
  EXPECT_EQ(render("OBJECT{\n\tNAME=injected\n\tVALUE=x\n};\nMB{injected.VALUE}ME", &list),
                   "OBJECT{\n\tNAME=injected\n\tVALUE=x\n};\n");
  EXPECT_EQ(list.size(), 1u);  // the head alone
}

TEST_F(Template, ListsAreLookedUpInOrder) {
  objlist first, second;
  adduniqobj(first, "a.VALUE", "from first");
  adduniqobj(second, "a.VALUE", "from second");
  adduniqobj(second, "b.VALUE", "only second");
  std::string path = dir_.write("chain.html", "MB{a.VALUE}ME/MB{b.VALUE}ME");
  const objlist* chain[] = {&first, &second};
  EXPECT_EQ(printhtml(chain, path), 0);
  EXPECT_EQ(page(), "from first/only second");
}

TEST_F(Template, MissingTemplateAndMissingList) {
  EXPECT_EQ(printhtml(nullptr, dir_.str() + "/no<such>.html"), 1);
  EXPECT_EQ(page(), "Cannot open html template file '" + dir_.str() + "/no&#60;such&#62;.html'. errno=2\n");
  EXPECT_EQ(render("[MB{a.VALUE}ME]", nullptr), "[bad object head  NULL\n]");
}

TEST_F(Template, IncludeFiles) {
  settings().libdir = dir_.str() + "/lib";
  dir_.write("lib/empty.inc", "");
  dir_.write("lib/nul.inc", std::string("before\0after", 12));
  EXPECT_EQ(render("[LIBB{empty.inc}LIBE][LIBB{nul.inc}LIBE]"), "[no file][before]");
  // Without the start-up's folder the home's include folder is used.
  settings().libdir.clear();
  reqctx().nvhome = dir_.str();
  dir_.write("client/kivhtml/tk/lib/a.inc", "A");
  EXPECT_EQ(render("LIBB{a.inc}LIBE"), "A");
}

TEST_F(Template, TextAttachments) {
  settings().attachmentsdir = dir_.str() + "/attach";
  dir_.write("attach/7/attach1_a.TXT", "<script>x</script>");
  dir_.write("attach/7/attach2_b.html", "<b>bold</b>");
  dir_.write("attach/7/attach3_c.doc", "binary");
  dir_.write("secret.txt", "secret");
  struct Case {
    const char* value;
    const char* text;
  } cases[] = {
      {"7/attach1_a.TXT", "&#60;script&#62;x&#60;/script&#62;"},
      {"7/attach2_b.html", "&#60;b&#62;bold&#60;/b&#62;"},  // an upload's markup is shown, not run
      {"7/attach3_c.doc", ""},
      {"../secret.txt", ""},
      {"7/../../secret.txt", ""},
      {"/etc/hostname.txt", ""},
      {"7\\..\\..\\secret.txt", ""},
      {"", ""},
  };
  for (const Case& c : cases) {
    std::string out;
    htmltextattachment(out, c.value);
    EXPECT_EQ(out, c.text) << c.value;
  }
  EXPECT_EQ(page(), "");  // refusals are quiet
  settings().attachmentsdir.reset();
  std::string out;
  htmltextattachment(out, "7/attach1_a.TXT");
  EXPECT_EQ(out, "");
}

TEST_F(Template, ReadFileMessagesAndReadOnlyOpen) {
  std::string missing = dir_.str() + "/none";
  EXPECT_FALSE(htmlreadfile(missing));
  EXPECT_EQ(page(), "<PRE>\nup_readfile: can't stat '" + missing + "' errno=2\n</PRE>\n");
  EXPECT_EQ(htmlreadfile(dir_.write("empty", "")), "");

  // A running program cannot be opened for writing, even by root: the
  // reader gets its text all the same (up to the first NUL of its ELF head).
  int fd = ::open("/proc/self/exe", O_RDWR);
  if (fd >= 0) ::close(fd);
  KIV_NEED_SERVICE(fd >= 0 ? "this system lets a running program be opened for writing" : "");
  std::optional<std::string> text = htmlreadfile("/proc/self/exe");
  ASSERT_TRUE(text);
  EXPECT_TRUE(text->starts_with("\x7f" "ELF")) << *text;
}

TEST_F(Template, MenuHelpers) {
  const std::string menu = "High^@Low^@^^^@High^@^^^$";
  EXPECT_EQ(uniquemenuitem(menu, 4, "High"), 1);
  EXPECT_EQ(uniquemenuitem(menu, 1, "High"), 0);  // nothing before column 1
  EXPECT_EQ(uniquemenuitem(menu, 5, ""), 0);      // empty columns never count
  EXPECT_EQ(uniquemenuitem(menu, 3, "Medium"), 0);
  EXPECT_EQ(uniquemultimenuitem("a,bc,d^@x^$", 2, "bc"), 1);
  EXPECT_EQ(uniquemultimenuitem("a,bc,d^@x^$", 2, "b"), 0);
  EXPECT_EQ(uniquemultimenuitem("a,bc,d^@x^$", 2, "x"), 0);
  EXPECT_EQ(formrecdata("id^@name^$", "1^@Ann^$"), "id^@name^$1^@Ann^$");
}

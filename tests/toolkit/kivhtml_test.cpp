// The page template engine: a golden page over every marker, the markers'
// edge cases one by one, tables, the session key in links and forms, text
// attachments and the whole-file reader.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/flavour.h"
#include "support/testsupport.h"
#include "toolkit/kivcontext.h"
#include "toolkit/kivhtml.h"
#include "toolkit/kivobjfile.h"
#include "toolkit/kivsettings.h"

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
    for (const auto& [key, value] : objects) adduniqobj(&list, key, value);
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
  ScopedEnv user("KIV_GOLDEN_USER", "operator <ops> & \"co\"");
  ScopedEnv unset("KIV_GOLDEN_UNSET", std::nullopt);
  ScopedEnv template_path("TEMPLATE_PATH", std::nullopt);
  settings().libdir = kFixture + "/client/kivhtml/tk/lib";
  settings().attachmentsdir = kFixture + "/attach";
  std::unique_ptr<objlist> list = loadkivobj(kFixture + "/client/config/tk_obj");
  ASSERT_TRUE(list);
  adduniqobj(list.get(), "problem.VALUE", "Printer <HP> & \"tray\"\nsecond line");

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
    {"a typed placeholder in a table body is text", "TB{TNB{rows}TNE%s|CB{id}CE|%s }TE", "%s|1|%s %s|2|%s %s|3|%s "},
    {"data holding a placeholder inside a table is text", "TB{TNB{rows}TNEMB{fmt.VALUE}ME CB{name}CE;}TE",
     "100%s %d %n Ann;100%s %d %n *;100%s %d %n Cy;"},
};

}  // namespace

TEST_F(Template, Markers) {
  for (const MarkerCase& c : kMarkerCases) EXPECT_EQ(render(c.text, kObjects), c.page) << c.what;
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

TEST_F(Template, ObjectBlocksArePlainText) {
  objlist list;
  EXPECT_EQ(render("OBJECT{\n\tNAME=injected\n\tVALUE=x\n};\nMB{injected.VALUE}ME", &list),
                   "OBJECT{\n\tNAME=injected\n\tVALUE=x\n};\n");
  EXPECT_EQ(list.size(), 1u);  // the head alone
}

TEST_F(Template, ListsAreLookedUpInOrder) {
  objlist first, second;
  adduniqobj(&first, "a.VALUE", "from first");
  adduniqobj(&second, "a.VALUE", "from second");
  adduniqobj(&second, "b.VALUE", "only second");
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
      {"7/attach2_b.html", "<b>bold</b>"},
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
  if (fd >= 0) {
    ::close(fd);
    GTEST_SKIP() << "this system lets a running program be opened for writing";
  }
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

// The text conversions the administration's pages share, each a table of
// cases: comma lists and lines to row/column text and back (texts holding
// the row markers stay in their column), the row of field titles, and mail
// bodies written into an object file and read back whole.
#include <gtest/gtest.h>

#include "admin/upadmin_rules.h"
#include "support/testsupport.h"
#include "toolkit/objects/kivobjfile.h"
#include "toolkit/text/rowcol.h"

using namespace kiv;

namespace {

class Conversions : public kivtest::KivTest {};

}  // namespace

TEST_F(Conversions, CommaListsAndRows) {
  struct Case {
    std::string list, row;
  } cases[] = {
      {"ann,bob", "ann^@bob^$"},
      {"ann,,bob,", "ann^@bob^$"},
      {" ann , bob", " ann ^@ bob^$"},  // pieces are not trimmed
      {"Hardware,$,Network", "Hardware^$"},
      {"it@example.org", "it@example.org^$"},
      {"", "^$"},
      {",,", ",,^$"},
      // A piece holding a row marker stays one column.
      {"x^@y,a^$b,c^^d", "x@y^@a$b^@c^^d^$"},
      {"^^", "^^$"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(commalist2row(c.list), c.row) << c.list;
    EXPECT_EQ(getrowcount(c.row), 1) << c.list;
  }
  struct Back {
    std::string row;
    std::optional<std::string> list;
  } backs[] = {
      {"ann^@bob^$", "ann,bob"},
      {"ann^@^^^@bob^$", "ann,bob"},
      {"^^^@^^^$", ""},
      {"ann^@bob", std::nullopt},
      {"", std::nullopt},
  };
  for (const Back& b : backs) EXPECT_EQ(row2commalist(b.row), b.list) << b.row;
}

// Lines to menu items and back; the examples of the field pages, line ends
// as browsers send them, and lines holding row markers.
TEST_F(Conversions, LinesAndMenuRows) {
  struct Case {
    std::string lines;
    std::optional<std::string> rec;
  } cases[] = {
      {"***Low\nMedium\n***High", "Low^@Medium^$High^$"},
      {"a\nb", "^^^@a^@b^$"},
      {"a", "^^^@a^$"},
      {"a\r\nb\r\n", "^^^@a^@b^$"},
      {"a\rb", "^^^@a^@b^$"},
      {"\n\n  a  \n\nb\n\n", "^^^@a^@b^$"},
      {"a\n$\nb", "^^^@a^$"},
      {"one  two\nthree", "^^^@one two^@three^$"},
      {"Low\n***High\nUrgent", "^^^@Low^$High^@Urgent^$"},
      {"x^@y\na^$b\nc^^", "^^^@x@y^@a$b^@c^^^$"},
      {"it@example.org\na^b", "^^^@it@example.org^@a^b^$"},
      {"", std::nullopt},
      {" \n\t", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(lines2kivrec(c.lines), c.rec) << c.lines;

  struct Row {
    std::string text;
    std::optional<std::string> lines;
  } rows[] = {
      {"Low^@Medium^$High^$", "***Low\nMedium\n***High"},
      {"^^^@a^@b^$", "a\nb"},
      {"plain", "plain"},
      {"", std::nullopt},
  };
  for (const Row& r : rows) EXPECT_EQ(rows2lines(r.text), r.lines) << r.text;

  struct Items {
    std::string row, lines;
  } items[] = {
      {"a@b^@x^y^$", "a@b\nx^y\n"},
      {"it@example.org^@^^^@$x^$", "it@example.org\n$x\n"},
      {"Other^@Hardware^@Other^$", "Other\nHardware\nOther\n"},
      {"not a row", "not a row"},
  };
  for (const Items& i : items) EXPECT_EQ(row2lines(i.row), i.lines) << i.row;
}

TEST_F(Conversions, FieldTitles) {
  objlist list;
  adduniqobj(list, "a.DBKEY", "a");
  adduniqobj(list, "a.TITLE", "Alpha");
  adduniqobj(list, "setting.TITLE", "Not a field");
  adduniqobj(list, "b.DBKEY", "b");
  adduniqobj(list, "c.DBKEY", "c");
  adduniqobj(list, "c.TITLE", "Gamma^@Delta");
  EXPECT_EQ(fieldtitlesrow(list), "Alpha^@Gamma@Delta^$");
  objlist none;
  EXPECT_EQ(fieldtitlesrow(none), "");
}

// A body stored as the mail editors store it, written as an object file by
// the administration's writer, read back by the reader and turned into
// plain text again, loses no line and sets no other attribute.
TEST_F(Conversions, MailBodiesReadBackWhole) {
  struct Case {
    std::string body, back, stored;
  } cases[] = {
      {"Hello\nWorld\n", "Hello\nWorld\n", "Hello{n}\\\nWorld{n}"},
      {"Hello\nWorld", "Hello\nWorld", "Hello{n}\\\nWorld"},
      {"One", "One", "One"},
      {"a\n\n\nb\n", "a\n\n\nb\n", "a{n}\\\n{n}\\\n{n}\\\nb{n}"},
      {"a\r\nb\r\n", "a\nb\n", "a{n}\\\nb{n}"},
      {"a\rb", "a\nb", "a{n}\\\nb"},
      {"Dear {submitted_by},\nsee\nTITLE=x", "Dear {submitted_by},\nsee\nTITLE=x",
       "Dear {submitted_by},{n}\\\nsee{n}\\\nTITLE=x"},
      {"path C:\\\nnext C:\\", "path C:\\\nnext C:\\", "path C:\\{n}\\\nnext C:\\"},
      {"};\nOBJECT{\nNAME=evil", "};\nOBJECT{\nNAME=evil", "};{n}\\\nOBJECT{{n}\\\nNAME=evil"},
      // The reader folds runs of blanks into one and trims the ends.
      {"  Two  blanks\n  indented", "Two blanks\n indented", "  Two  blanks{n}\\\n  indented"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body);
    std::optional<std::string> stored = text2msgbody(c.body);
    ASSERT_TRUE(stored);
    EXPECT_EQ(*stored, c.stored);
    objlist list;
    adduniqobj(list, "message_x.TITLE", *stored);
    adduniqobj(list, "message_x.CONTROL", "Subject");
    std::string file;
    ASSERT_TRUE(writekivobj(list, file));
    std::unique_ptr<objlist> read = readkivobj(file);
    ASSERT_EQ(read->size(), 2u) << file;
    const kivobj& o = (*read)[1];
    EXPECT_EQ(o.attr(attr::CONTROL), "Subject") << file;
    EXPECT_FALSE(o.has(attr::NAME) && o.name() != "message_x") << file;
    EXPECT_EQ(msgbody2text(o.attr(attr::TITLE)), c.back) << file;
    for (int n : {attr::VALUE, attr::DBKEY, attr::TYPE, attr::HELP}) EXPECT_FALSE(o.has(n)) << file;
  }
  EXPECT_EQ(text2msgbody(""), std::nullopt);
  EXPECT_EQ(msgbody2text(""), std::nullopt);
  EXPECT_EQ(msgbody2text("a{n}b{n}{n"), "a\nb\n{n");
}

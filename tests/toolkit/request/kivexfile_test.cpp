// The request variable list: add rules, lookups, the state file, NAME=VALUE files.
#include <gtest/gtest.h>

#include "support/testsupport.h"
#include "toolkit/base/kivcgitrace.h"
#include "toolkit/request/kivexfile.h"
#include "toolkit/base/kivio.h"

using namespace kiv;
using kivtest::TempDir;

namespace {

class ExData : public kivtest::KivTest {
 protected:
  exlist read_state(const std::string& text) {
    std::string path = dir_.write("states", text);
    FilePtr f = open_file(path, "r");
    return addmacro(f.get());
  }
  TempDir dir_;
};

std::string dump(const exlist& l) {
  std::string s;
  for (const exdata& n : l.nodes) s += n.name + "=" + n.value + ";";
  return s;
}

}  // namespace

TEST_F(ExData, StateFileLines) {
  exlist l = read_state(
      "# comment\n"
      "\n"
      " INDENTED=ignored\n"
      "\tTABBED=ignored\n"
      "up_start = up_startup   tk_start.html  \n"
      "NOEQUALS\n"
      "=nameless\n"
      "DUP=first\n"
      "DUP=second\n"
      "DUP=\n"
      "LAST=no newline");
  EXPECT_EQ(dump(l), "up_start=up_startup tk_start.html;DUP=second;");
  EXPECT_EQ(getnodeval(&l, "DUP"), "second");
  EXPECT_EQ(getnodeval(&l, "LAST"), std::nullopt);
  EXPECT_EQ(getnodeval(&l, "INDENTED"), std::nullopt);
  EXPECT_EQ(getnodeval(&l, "dup"), std::nullopt);  // names compare with case
}

TEST_F(ExData, OverlongStateLineIsSkippedAndItsRestReadAlone) {
  std::string longline = "A=" + std::string(10237, 'x') + "REST=tail\n";
  exlist l = read_state(longline + "B=b\n");
  EXPECT_EQ(getnodeval(&l, "A"), std::nullopt);
  EXPECT_EQ(getnodeval(&l, "REST"), "tail");
  EXPECT_EQ(getnodeval(&l, "B"), "b");
  // A line of 10,239 bytes with its line feed is whole; one byte more and
  // its line feed is the next piece.
  for (size_t length : {10239u, 10240u}) {
    exlist edge = read_state("A=" + std::string(length - 3, 'v') + "\nB=b\n");
    EXPECT_EQ(getnodeval(&edge, "A").has_value(), length == 10239u) << length;
    EXPECT_EQ(getnodeval(&edge, "B"), "b") << length;
  }
}

TEST_F(ExData, FirstStateNodeIsTakenAsItStands) {
  exlist l = read_state("mm_first=&#60;x\nmm_other=&#60;y\n");
  ASSERT_EQ(l.nodes.size(), 2u);
  EXPECT_EQ(l.nodes[0].name, "mm_first");
  EXPECT_EQ(l.nodes[0].value, "&#60;x");
  EXPECT_EQ(l.nodes[1].name, "other");
  EXPECT_EQ(l.nodes[1].value, "<y");
}

TEST_F(ExData, KivdebugLineTurnsTracingOn) {
  read_state("A=1\nKIVDEBUG=2\n");
  EXPECT_EQ(reqctx().kivdebug, 0);
  read_state("A=1\nKIVDEBUG=1 on\n");
  EXPECT_EQ(reqctx().kivdebug, 1);
}

TEST_F(ExData, AddRuleReplacesJoinsAndDecodes) {
  exlist l = read_state("FIRST=1\ncolor=blue\n");
  addexdatanode(&l, formexdatanode("color", "red"));
  addexdatanode(&l, formexdatanode("color", ""));  // empty: keeps red
  addexdatanode(&l, formexdatanode("mm_pick", "a"));
  addexdatanode(&l, formexdatanode("mm_pick", "b"));
  addexdatanode(&l, formexdatanode("mm_pick", ""));
  addexdatanode(&l, formexdatanode("mm_pick", "c"));
  addexdatanode(&l, formexdatanode("mm_color", "green"));
  addexdatanode(&l, formexdatanode("text", "&#60;p&#62;"));
  EXPECT_EQ(dump(l), "FIRST=1;color=red,green;pick=a,b,c;text=<p>;");
  EXPECT_EQ(l.nodes[3].valuelen(), 4);
  EXPECT_EQ(addexdatanode(nullptr, formexdatanode("x", "y")), 0);
}

TEST_F(ExData, MultipleChoiceOntoAStateValueAndOntoAnEmptyNode) {
  exlist l = read_state("A=1\nfruit=apple\n");
  addexdatanode(&l, formexdatanode("empty", ""));
  addexdatanode(&l, formexdatanode("mm_fruit", "pear"));
  addexdatanode(&l, formexdatanode("mm_empty", "x"));
  EXPECT_EQ(getnodeval(&l, "fruit"), "apple,pear");
  EXPECT_EQ(getnodeval(&l, "empty"), "x");
}

TEST_F(ExData, StateValuesAreNotReplacedByTheForm) {
  exlist l = read_state("FIRST=x\nup_add=up_add tk_add.html\nUSER=100\n");
  addexdatanode(&l, formexdatanode("up_add", "/bin/sh -c evil"));
  addexdatanode(&l, formexdatanode("USER", "0"));
  addexdatanode(&l, formexdatanode("GROUP", "staff.VALUE"));
  addexdatanode(&l, formexdatanode("mm_USER", "7"));
  EXPECT_EQ(getnodeval(&l, "up_add"), "/bin/sh -c evil");
  EXPECT_EQ(getstateval(&l, "up_add"), "up_add tk_add.html");
  EXPECT_EQ(getstateval(&l, "USER"), "100");
  EXPECT_EQ(getstateval(&l, "GROUP"), std::nullopt);
  EXPECT_EQ(getstateval(&l, "FIRST"), "x");
  EXPECT_EQ(getstateval(nullptr, "FIRST"), std::nullopt);
}

// A request of 120,000 fields (its names unique but for repeats and
// multiple choices) gives the list the add rules give, in request order;
// the lookups find each name's first node, also after nodes were appended
// or the nodes replaced behind the list's index.
TEST_F(ExData, ALongRequestKeepsTheOrderAndTheMergeRules) {
  exlist l = read_state("FIELDMAXLEN=65536\n");
  const int unique = 100000;
  for (int i = 0; i < unique; ++i) add_list_node(l, formexdatanode("f" + std::to_string(i) + ".VALUE", "v"));
  for (int i = 0; i < 10000; ++i) {
    add_list_node(l, formexdatanode("f" + std::to_string(i * 7) + ".VALUE", "r" + std::to_string(i)));
    add_list_node(l, formexdatanode("mm_pick", std::to_string(i % 3)));
  }
  ASSERT_EQ(l.nodes.size(), static_cast<size_t>(unique + 2));
  EXPECT_EQ(l.nodes[1].name, "f0.VALUE");
  EXPECT_EQ(l.nodes[unique].name, "f99999.VALUE");
  EXPECT_EQ(l.nodes[unique + 1].name, "pick");
  EXPECT_EQ(getnodeval(&l, "f0.VALUE"), "r0");
  EXPECT_EQ(getnodeval(&l, "f69993.VALUE"), "r9999");
  EXPECT_EQ(getnodeval(&l, "f69994.VALUE"), "v");
  const std::string pick = *getnodeval(&l, "pick");
  EXPECT_EQ(pick.size(), 10000u * 2 - 1);
  EXPECT_TRUE(pick.starts_with("0,1,2,0,")) << pick.substr(0, 20);
  EXPECT_EQ(getstateval(&l, "FIELDMAXLEN"), "65536");

  // Nodes appended by hand are found; so are the nodes that replaced the
  // list's, fewer or as many.
  l.nodes.push_back(formexdatanode("late", "1"));
  EXPECT_EQ(getnodeval(&l, "late"), "1");
  l.nodes = {formexdatanode("a", "1"), formexdatanode("b", "2")};
  EXPECT_EQ(getnodeval(&l, "b"), "2");
  EXPECT_EQ(getnodeval(&l, "late"), std::nullopt);
  l.nodes = {formexdatanode("b", "3"), formexdatanode("c", "4")};
  EXPECT_EQ(getnodeval(&l, "b"), "3");
  addexdatanode(&l, formexdatanode("c", "5"));
  EXPECT_EQ(dump(l), "b=3;c=5;");
}

TEST_F(ExData, AddOrReplaceRule) {
  exlist l = read_state("A=1\nB=2\n");
  adduniqexdatanode(&l, formexdatanode("B", "&#62;"));
  adduniqexdatanode(&l, formexdatanode("A", ""));
  adduniqexdatanode(&l, formexdatanode("C", "3"));
  EXPECT_EQ(dump(l), "A=;B=>;C=3;");
  EXPECT_EQ(l.nodes[0].valuelen(), 0);
}

TEST_F(ExData, PrintexdataTracesEachShape) {
  reqctx().kivdebug = 1;
  EXPECT_EQ(printexdata(nullptr), -1);
  exlist l;
  l.nodes = {formexdatanode("a", "1"), formexdatanode("b", ""), formexdatanode("", "v")};
  EXPECT_EQ(printexdata(&l), 0);
  EXPECT_EQ(page(),
            "<PRE>\nvariable name=a variable value=1\n</PRE>\n"
            "<PRE>\nvariable name='b'\n</PRE>\n"
            "<PRE>\nvariable value='v'\n</PRE>\n");
}

TEST_F(ExData, FilesRoundTrip) {
  exlist l;
  l.nodes = {formexdatanode("a", "1"), formexdatanode("b", ""), formexdatanode("c", "x=y")};
  std::string path = dir_.str() + "/vars";
  EXPECT_EQ(ex2file(&l, path), 0);
  EXPECT_EQ(kivtest::read_file(path), "a=1\nb=\nc=x=y\n");
  EXPECT_EQ(page(), "");
  std::optional<exlist> back = file2ex(path);
  ASSERT_TRUE(back);
  EXPECT_EQ(getnodeval(&*back, "c"), "x=y");
}

TEST_F(ExData, APartialSaveIsAFailure) {
  // A node that cannot be written is named, and the file keeps what it held:
  // a file without the node would pass for the list.
  std::string path = dir_.write("vars", "old=1\n");
  exlist l;
  l.nodes = {formexdatanode("a", "1"), formexdatanode("", "lost"), formexdatanode("c", "2\nUSER=0")};
  EXPECT_EQ(ex2file(&l, path), -1);
  EXPECT_EQ(page(), "Bad node: Cant convert val=lost\nBad node: Cant convert val=2\nUSER=0\n");
  EXPECT_EQ(kivtest::read_file(path), "old=1\n");
}

TEST_F(ExData, FileErrors) {
  EXPECT_EQ(file2ex("/nonexistent/vars"), std::nullopt);
  EXPECT_EQ(page(), "Cannot open file '/nonexistent/vars' for reading. errno=2\n");
  clear_output();
  // A file that opens but cannot be read is said so, not taken as empty.
  EXPECT_EQ(file2ex(dir_.str()), std::nullopt);
  EXPECT_EQ(page(), "Cannot open file '" + dir_.str() + "' for reading. errno=21\n");
  clear_output();
  EXPECT_EQ(ex2file(nullptr, dir_.str() + "/x"), -1);
  EXPECT_EQ(page(), "Cant save empty data to file\n");
  clear_output();
  exlist l;
  l.nodes = {formexdatanode("a", "1")};
  EXPECT_EQ(ex2file(&l, "/nonexistent/x"), -1);
  EXPECT_EQ(page(), "Cannot open file '/nonexistent/x' for writing. errno=2\n");
}

TEST_F(ExData, LineEndsCannotInjectVariables) {
  std::string line;
  EXPECT_EQ(exnode2line(formexdatanode("a", "1\nUSER=0"), line), 1);
  EXPECT_EQ(exnode2line(formexdatanode("n", ""), line), 0);
  EXPECT_EQ(line, "n=\n");
}

TEST_F(ExData, NulCutsStateLinesBeforeTrimming) {
  exlist l = read_state(std::string("A=1\nKEY=abc \0xyz\nNAME \0j=v\n", 27) + std::string("\0=x\n", 4));
  EXPECT_EQ(getnodeval(&l, "KEY"), "abc");
  EXPECT_EQ(getnodeval(&l, "NAME"), "v");
  EXPECT_EQ(l.nodes.size(), 3u);  // the nameless line is skipped
}

TEST_F(ExData, EmptyFileGivesNoListAndFailedWriteIsReported) {
  EXPECT_EQ(file2ex(dir_.write("empty", "# only a comment\n")), std::nullopt);
  exlist l;
  l.nodes = {formexdatanode("a", "1")};
  std::filesystem::create_directories(dir_.path() / "adir");
  EXPECT_EQ(ex2file(&l, dir_.str() + "/adir"), -1);
  EXPECT_NE(page().find("for writing"), std::string::npos);
}

TEST_F(ExData, CrlfStateFile) {
  exlist l = read_state("A=1\r\nB=two words\r\n");
  EXPECT_EQ(getnodeval(&l, "A"), "1");
  EXPECT_EQ(getnodeval(&l, "B"), "two words");
}

TEST_F(ExData, PrintexdataNeverTracesPasswords) {
  reqctx().kivdebug = 1;
  exlist l;
  l.nodes = {formexdatanode("password", "s3cret"), formexdatanode("password.VALUE", "s3cret")};
  printexdata(&l);
  EXPECT_EQ(page().find("s3cret"), std::string::npos);
}

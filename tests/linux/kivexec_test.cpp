// The request variable stream through a real pipe in this process: the
// golden bytes of the format, a round trip whose sources survive and whose
// texts are not decoded twice, streams cut anywhere, and hostile heads that
// must not make the reader allocate what they announce.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <thread>

#include "linux/kivexec.h"
#include "linuxtest.h"
#include "support/testsupport.h"
#include "toolkit/base/kivcontext.h"
#include "toolkit/objects/objprotect.h"
#include "toolkit/request/kivexfile.h"
#include "toolkit/objects/kivobj.h"
#include "toolkit/objects/kivobjfile.h"

using namespace kiv;
using namespace kiv::kivexec;
using linuxtest::Pipe;

namespace {

std::string word(uint32_t v) {
  std::string s;
  for (int i = 0; i < 4; ++i) s += static_cast<char>((v >> (8 * i)) & 0xff);
  return s;
}

std::string head(uint32_t source, int32_t namelen, int32_t valuelen) {
  return word(source) + word(0) + word(static_cast<uint32_t>(namelen)) + word(static_cast<uint32_t>(valuelen)) +
         word(0);
}

// The bytes writeexdata sends for a list, through a pipe.
std::string sent(const exlist* list) {
  Pipe p;
  execstate().kivwritefd = p.w;
  std::string bytes;
  std::thread reader([&] { bytes = p.drain(); });
  EXPECT_EQ(writeexdata(list), 0);
  p.w = -1;  // closed by writeexdata
  reader.join();
  EXPECT_EQ(execstate().kivwritefd, -1);
  return bytes;
}

// The list a reader rebuilds from these bytes.
exlist received(const std::string& bytes) {
  Pipe p;
  std::thread writer([&] {
    commandwritebuf(p.w, bytes);
    p.close_write();
  });
  exlist list;
  readexdata_from(p.r, list);
  writer.join();
  return list;
}

exdata state(const std::string& name, const std::string& value) {
  return formexdatanode(name, value, ExSource::statefile);
}

class Stream : public kivtest::KivTest {};

TEST_F(Stream, GoldenBytes) {
  exlist list;
  list.nodes.push_back(state("KIVDEBUG", "1"));
  list.nodes.push_back(formexdatanode("flag", ""));
  addexdatanode(&list, formexdatanode("x", "y"));
  const std::string golden = head(1, 9, 2) + std::string("KIVDEBUG\0" "1\0", 11) +  // the KIVDEBUG node
                             head(0, 5, 0) + std::string("flag\0", 5) +             // no value: no bytes
                             head(0, 2, 2) + std::string("x\0y\0", 4);
  EXPECT_EQ(sent(&list), golden);

  // An empty list (or none) sends nothing; the reader gives none at once.
  exlist empty;
  EXPECT_EQ(sent(&empty), "");
  EXPECT_EQ(sent(nullptr), "");
  EXPECT_TRUE(received("").empty());
  EXPECT_EQ(exdatarecord("", "", 0), head(0, 0, 0));
}

TEST_F(Stream, RoundTripKeepsSourcesAndDecodesNothingTwice) {
  exlist list = {};
  list.nodes.push_back(state("GROUP", "usergroup"));
  addexdatanode(&list, state("bc_printer_port.VALUE", "/dev/ttyS0"));
  addexdatanode(&list, state("subject.VALUE", "from state"));
  addexdatanode(&list, state("nv_remote_user", "fromstate"));
  // The form: a protected name and a field over state-file values, a value
  // the intake decoded once ("&#38;#60;" became "&#60;"), a plain field.
  addexdatanode(&list, formexdatanode("bc_printer_port.VALUE", "/etc/passwd"));
  addexdatanode(&list, formexdatanode("subject.VALUE", "from form"));
  addexdatanode(&list, formexdatanode("note.VALUE", "&#38;#60;b&#38;#62;"));
  // The start-up's own.
  addexdatanode(&list, formexdatanode("nv_remote_user", "alice", ExSource::startup));
  addexdatanode(&list, formexdatanode("usergroup.VALUE", "admins,staff", ExSource::startup));
  ASSERT_EQ(getnodeval(&list, "note.VALUE"), "&#60;b&#62;");

  const exlist got = received(sent(&list));
  // A form value over a state-file value comes as the node the front held:
  // the form's value beside the state file's.
  struct Want {
    std::string name, value;
    ExSource source;
    std::optional<std::string> state;
  } want[] = {
      {"GROUP", "usergroup", ExSource::statefile, "usergroup"},
      {"bc_printer_port.VALUE", "/etc/passwd", ExSource::statefile, "/dev/ttyS0"},
      {"subject.VALUE", "from form", ExSource::statefile, "from state"},
      {"nv_remote_user", "alice", ExSource::startup, std::nullopt},
      {"note.VALUE", "&#60;b&#62;", ExSource::form, std::nullopt},
      {"usergroup.VALUE", "admins,staff", ExSource::startup, std::nullopt},
  };
  ASSERT_EQ(got.nodes.size(), std::size(want));
  for (size_t i = 0; i < std::size(want); ++i) {
    EXPECT_EQ(got.nodes[i].name, want[i].name) << i;
    EXPECT_EQ(got.nodes[i].value, want[i].value) << i;
    EXPECT_EQ(got.nodes[i].source, want[i].source) << i;
    EXPECT_EQ(getstateval(&got, want[i].name), want[i].state) << i;
  }
  // In the command the state file's configuration is configuration again,
  // and the objects take what `up` would give them.
  objlist objs;
  ex2obj(got, objs);
  EXPECT_EQ(getvalfromlist(objs, "bc_printer_port.VALUE"), "/dev/ttyS0");
  EXPECT_EQ(getvalfromlist(objs, "subject.VALUE"), "from form");
  EXPECT_EQ(getvalfromlist(objs, "note.VALUE"), "&#60;b&#62;");
}

// The command decides with its own objects what a form may set, as `up`
// does with the same list: an object a pointer object of the configuration
// names (a stored query, an inventory connection, a match object) keeps the
// state file's value over the form's, though the front cannot tell it from
// a field.
TEST_F(Stream, CommandCopiesOntoItsObjectsWhatUpWould) {
  const std::string config =
      "OBJECT{\n\tNAME=sql_control\n\tVALUE=myquery\n};\n"
      "OBJECT{\n\tNAME=smscontrol\n\tVALUE=inventory\n};\n"
      "OBJECT{\n\tNAME=auto_match\n\tVALUE=matcher\n};\n"
      "OBJECT{\n\tNAME=myquery\n\tVALUE=from tk_obj\n};\n";
  struct Case {
    std::string name;
    std::string state, form;  // the form's value replaces the state file's in the list
  } cases[] = {
      {"myquery.VALUE", "select 1", "select * from staff"},
      {"inventory.VALUE", "DSN=inv", "DSN=elsewhere"},
      {"matcher.VALUE", "rule", "other rule"},
      {"bc_printer_port.VALUE", "/dev/ttyS0", "/etc/passwd"},
      {"subject.VALUE", "from state", "from form"},
      {"plain.VALUE", "", "from form"},
  };
  exlist list;
  list.nodes.push_back(state("GROUP", "usergroup"));
  for (const Case& c : cases) addexdatanode(&list, state(c.name, c.state));
  for (const Case& c : cases) addexdatanode(&list, formexdatanode(c.name, c.form));
  const exlist got = received(sent(&list));

  std::unique_ptr<objlist> front = readkivobj(config), command = readkivobj(config);
  ASSERT_TRUE(front && command);
  ex2obj(list, *front);
  ex2obj(got, *command);
  for (const Case& c : cases) {
    const std::optional<attrview> f = getattrfromlist(*front, c.name), g = getattrfromlist(*command, c.name);
    ASSERT_TRUE(f && g) << c.name;
    EXPECT_EQ(g->text, f->text) << c.name;
    EXPECT_EQ(g->origin, f->origin) << c.name;
    EXPECT_EQ(getnodeval(&got, c.name), getnodeval(&list, c.name)) << c.name;
    EXPECT_EQ(getstateval(&got, c.name), getstateval(&list, c.name)) << c.name;
  }
  EXPECT_EQ(getvalfromlist(*command, "myquery.VALUE"), "select 1");
}

TEST_F(Stream, CutStreamsKeepTheWholeNodesBefore) {
  const std::string a = exdatarecord("first", "1", 1);
  const std::string b = exdatarecord("second", "22", 0);
  const std::string c = exdatarecord("third", "333", 2);
  const std::string all = a + b + c;
  struct Cut {
    const char* where;
    size_t length;
    size_t nodes;
  } cuts[] = {
      {"inside the first head", 7, 0},
      {"after the first node", a.size(), 1},
      {"inside the second head", a.size() + 19, 1},
      {"inside the second name", a.size() + kHeadSize + 3, 1},
      {"before the second value's NUL", a.size() + b.size() - 1, 1},
      {"inside the third value", a.size() + b.size() + kHeadSize + 6 + 2, 2},
      {"whole", all.size(), 3},
  };
  for (const Cut& cut : cuts) {
    const exlist got = received(all.substr(0, cut.length));
    ASSERT_EQ(got.nodes.size(), cut.nodes) << cut.where;
    if (cut.nodes > 0) {
      EXPECT_EQ(got.nodes[0].name, "first") << cut.where;
    }
    if (cut.nodes > 1) {
      EXPECT_EQ(got.nodes[1].value, "22") << cut.where;
    }
  }
}

long max_rss_kb() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

TEST_F(Stream, HostileHeadsEndTheListWithoutAllocatingWhatTheyAnnounce) {
  const std::string before = exdatarecord("kept", "yes", 0);
  const long rss = max_rss_kb();
  struct Hostile {
    const char* what;
    std::string bytes;
    size_t nodes;
  } cases[] = {
      {"a name of 2^31-1 bytes with three behind", head(0, INT32_MAX, 0) + "abc", 1},
      {"a value at the cap with three behind", head(0, 2, static_cast<int32_t>(kMaxStreamText)) + std::string("x\0abc", 5), 1},
      {"a value above the cap", head(0, 0, static_cast<int32_t>(kMaxStreamText + 1)) + "abc", 1},
  };
  for (const Hostile& h : cases) {
    const exlist got = received(before + h.bytes);
    ASSERT_EQ(got.nodes.size(), h.nodes) << h.what;
    EXPECT_EQ(got.nodes[0].value, "yes") << h.what;
  }
  EXPECT_LT(max_rss_kb() - rss, 32 * 1024) << "the reader allocated what a head announced";

  // Negative lengths mean no bytes: the next head follows at once. A word 0
  // that names no source (a writer's pointer) reads as a request value.
  const exlist got = received(head(0xdeadbeef, -5, -1) + exdatarecord("after", "v", 7) +
                              head(0x08049f2c, 3, 0) + std::string("ab\0", 3));
  ASSERT_EQ(got.nodes.size(), 3u);
  EXPECT_EQ(got.nodes[0].namelen(), 0);
  EXPECT_EQ(got.nodes[0].valuelen(), 0);
  EXPECT_EQ(got.nodes[1].name, "after");
  for (const exdata& n : got.nodes) EXPECT_EQ(n.source, ExSource::form);
  EXPECT_EQ(got.nodes[2].name, "ab");
}

// The command program's reader: descriptor 0, read once, and the toolkit's
// readexdata() answers the same list.
TEST_F(Stream, ReadexdataReadsDescriptorZeroOnce) {
  Pipe p;
  const std::string bytes = exdatarecord("KIVACTION", "label", 0) + exdatarecord("USER", "65534", 1);
  commandwritebuf(p.w, bytes);
  p.close_write();
  const int saved = ::dup(0);
  ASSERT_GE(saved, 0);
  ASSERT_EQ(::dup2(p.r, 0), 0);
  exlist* list = kivexec::readexdata();
  exlist* again = kivexec::readexdata();
  ::dup2(saved, 0);
  ::close(saved);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(again, list);
  EXPECT_EQ(kiv::readexdata(), list);
  EXPECT_EQ(reqctx().request_vars, list);
  ASSERT_EQ(list->nodes.size(), 2u);
  EXPECT_EQ(getstateval(list, "USER"), "65534");
  EXPECT_EQ(getnodeval(list, "KIVACTION"), "label");
}

}  // namespace

// Object files: the grammar's edge cases (each also with carriage-return
// line ends), the loader's failures, the scanner's outer-state hook, and the
// canonical writer's round trip of tricky values.
#include <gtest/gtest.h>

#include "platform/exit.h"
#include "platform/output.h"
#include "support/testsupport.h"
#include "toolkit/base/kivcontext.h"
#include "toolkit/objects/kivobj.h"
#include "toolkit/objects/kivobjfile.h"
#include "toolkit/objects/kivscan.h"

using namespace kiv;
using kivtest::TempDir;

namespace {

// The objects after the head as "{WORD=value;...}" in list order.
std::string dump(const objlist& l) {
  std::string s;
  for (size_t i = 1; i < l.size(); ++i) {
    s += '{';
    for (int n = 1; n <= kAttrCount; ++n)
      if (l[i].has(n)) s += std::string(attrword(n)) + "=" + l[i].attr(n) + ";";
    s += '}';
  }
  return s;
}

std::string crlf(std::string_view text) {
  std::string r;
  for (char c : text) {
    if (c == '\n') r += '\r';
    r += c;
  }
  return r;
}

struct GrammarCase {
  const char* what;
  const char* text;
  const char* objects;
  const char* crlf_objects;  // when carriage returns change the reading
};

const GrammarCase kGrammar[] = {
    {"values are trimmed and inner blanks folded", "OBJECT{\n\tNAME=a\n\tVALUE=  x   y  \n};\n",
     "{NAME=a;VALUE=x y;}", nullptr},
    {"a backslash joins the next line", "OBJECT{\n\tTITLE=first \\\nsecond\n};\n", "{TITLE=first second;}",
     "{TITLE=first \\;}"},
    {"the joined line keeps its leading blanks, then folded", "OBJECT{\n\tTITLE=first\\\n   second\n};\n",
     "{TITLE=first second;}", "{TITLE=first\\;}"},
    {"an empty line after a joined one ends the value",
     "OBJECT{\n\tTITLE=first\\\n\n\tVALUE=v\n};\n", "{VALUE=v;TITLE=first;}", "{VALUE=v;TITLE=first\\;}"},
    {"markers inside a value are text", "OBJECT{\n\tVALUE=a # b }; c OBJECT{ d NAME=e\n};\n",
     "{VALUE=a # b }; c OBJECT{ d NAME=e;}", nullptr},
    {"a comment line sets nothing", "OBJECT{\n#\tNAME=x\n\tVALUE=v\n};\n", "{VALUE=v;}", nullptr},
    {"a comment ending in a backslash hides the next line",
     "OBJECT{\n# note \\\n\tNAME=x\n\tVALUE=v\n};\n", "{VALUE=v;}", "{NAME=x;VALUE=v;}"},
    {"a comment may follow text on its line", "OBJECT{\n\tjunk # NAME=x\n\tNAME=y\n};\n", "{NAME=y;}",
     nullptr},
    {"keywords outside blocks set nothing", "NAME=x\nVALUE=y\nOBJECT{\n\tNAME=a\n};\nTITLE=z\n",
     "{NAME=a;}", nullptr},
    {"an empty value clears an earlier one", "OBJECT{\n\tNAME=a\n\tVALUE=v\n\tVALUE=\n};\n", "{NAME=a;}",
     nullptr},
    {"the later of two keywords wins", "OBJECT{\n\tNAME=a\n\tNAME=b\n};\n", "{NAME=b;}", nullptr},
    {"lower case and blanks before = are no keywords",
     "OBJECT{\n\tname=x\n\tNAME =y\n\tTitle=z\n\tNAME=a\n};\n", "{NAME=a;}", nullptr},
    {"text before a keyword is ignored", "OBJECT{ NAME=a\nfoo VALUE=v\n};\n", "{NAME=a;VALUE=v;}", nullptr},
    {"an unclosed last block is dropped", "OBJECT{\n\tNAME=a\n};\nOBJECT{\n\tNAME=b\n", "{NAME=a;}",
     nullptr},
    {"a value without its line feed is not set", "OBJECT{\n\tNAME=a\n};\nOBJECT{\n\tNAME=b", "{NAME=a;}",
     nullptr},
    {"OBJECT{ inside a block starts nothing", "OBJECT{\n\tNAME=a\nOBJECT{\n\tVALUE=v\n};\n",
     "{NAME=a;VALUE=v;}", nullptr},
    {"the block may close on a value's line", "OBJECT{ NAME=a\n}; OBJECT{ NAME=b\n};", "{NAME=a;}{NAME=b;}",
     nullptr},
    {"namesakes stay in file order", "OBJECT{\nNAME=a\n};\nOBJECT{\nNAME=a\nVALUE=2\n};\n",
     "{NAME=a;}{NAME=a;VALUE=2;}", nullptr},
    {"every attribute keyword",
     "OBJECT{\nNAME=n\nVALUE=v\nDBKEY=d\nCONTROL=c\nTYPE=t\nVTYPE=vt\nENFORCE=e\nTITLE=ti\nLEN=l\nHELP=h\n};\n",
     "{NAME=n;VALUE=v;DBKEY=d;CONTROL=c;TYPE=t;VTYPE=vt;ENFORCE=e;TITLE=ti;LEN=l;HELP=h;}", nullptr},
    {"an empty block is an object", "OBJECT{\n};\n", "{}", nullptr},
    {"stored mail text keeps its line marks", "OBJECT{\nTITLE=Hello{n}\\\nWorld{n}\\\n\n};\n",
     "{TITLE=Hello{n}World{n};}", "{TITLE=Hello{n}\\;}"},
};

}  // namespace

class ObjectFiles : public kivtest::KivTest {};

TEST_F(ObjectFiles, GrammarEdgeCasesAndTheirCarriageReturnTwins) {
  for (const GrammarCase& c : kGrammar) {
    auto l = readkivobj(c.text);
    ASSERT_TRUE(l);
    EXPECT_EQ((*l)[0].name(), "XXXheadlistXXXX");
    EXPECT_EQ(dump(*l), c.objects) << c.what;
    auto r = readkivobj(crlf(c.text));
    EXPECT_EQ(dump(*r), c.crlf_objects ? c.crlf_objects : c.objects) << c.what << " (CRLF)";
  }
}

TEST_F(ObjectFiles, NulByteEndsTheReading) {
  const char raw[] = "OBJECT{\nNAME=a\n};\nOBJECT{\nNAME=b\0\n};\n";
  std::string text(raw, sizeof raw - 1);
  EXPECT_EQ(dump(*readkivobj(text)), "{NAME=a;}");
}

TEST_F(ObjectFiles, LongAndJoinedValuesAreKeptWhole) {
  std::string big(30000, 'x');
  std::string text = "OBJECT{\nNAME=a\nVALUE=" + big + "\nTITLE=" + big + "\\\n" + big + "\n};\n";
  auto l = readkivobj(text);
  EXPECT_EQ(getvalfromlist(*l, "a.VALUE"), big);
  EXPECT_EQ(getvalfromlist(*l, "a.TITLE"), big + big);
}

TEST_F(ObjectFiles, NoLineJoinStateCarriesOverBetweenReadings) {
  // The first reading ends right after a backslash inside a value (and the
  // second inside a comment); the next reading starts afresh.
  readkivobj("OBJECT{\nNAME=a\nVALUE=x\\");
  auto l = readkivobj("OBJECT{\nVALUE=\nNAME=b\n};\n");
  EXPECT_EQ(dump(*l), "{NAME=b;}");
  readkivobj("OBJECT{\n# note\\");
  l = readkivobj("OBJECT{\nNAME=c\n};\n");
  EXPECT_EQ(dump(*l), "{NAME=c;}");
}

TEST_F(ObjectFiles, ProcessScannerReadsEachNewInputFromItsBeginning) {
  // Callers of the process scanner set its input and run it, reading after
  // reading; one that ended inside a block must not leave its state behind.
  objlist first, second, third;
  Scanner& s = scanner();
  s.yyin = "OBJECT{\nNAME=first\n};\nOBJECT{\nVALUE=open\\";
  s.lex_aohead = &first;
  EXPECT_EQ(yylex(), 0);
  s.yyin = "OBJECT{\nNAME=second\n};\n";
  s.lex_aohead = &second;
  EXPECT_EQ(yylex(), 0);
  // A marker action that ends the process mid-reading.
  static const MarkerRules ends = {
      [](std::string_view rest) -> size_t { return rest.starts_with("END") ? 3 : 0; },
      [](Scanner&, std::string_view) { throw Exit{0}; },
  };
  s.yyin = "text before the marker END OBJECT{\nNAME=lost\n};\n";
  s.markers = &ends;
  EXPECT_THROW(yylex(), Exit);
  s.markers = nullptr;
  s.yyin = "NAME=z\n};\nOBJECT{\nNAME=third\n};\n";
  s.lex_aohead = &third;
  yylex();
  s.lex_aohead = nullptr;
  EXPECT_EQ(dump(first), "{NAME=first;}");
  EXPECT_EQ(dump(second), "{NAME=second;}");
  EXPECT_EQ(dump(third), "{NAME=third;}");
}

TEST_F(ObjectFiles, LoadFromFileAndMissingFile) {
  TempDir dir;
  std::string path = dir.write("tk_obj", "# the case objects\nOBJECT{\n\tNAME=a\n\tVALUE=1\n};\n");
  auto l = loadkivobj(path);
  ASSERT_TRUE(l);
  EXPECT_EQ(getvalfromlist(*l, "a.VALUE"), "1");
  EXPECT_EQ(page(), "");
  std::string missing = dir.str() + "/no<such>";
  EXPECT_EQ(loadkivobj(missing), nullptr);
  EXPECT_EQ(page(), "Cannot open object file '" + dir.str() + "/no&#60;such&#62;'. errno=2\n");
  clear_output();
  EXPECT_EQ(loadkivobj(dir.str()), nullptr);  // a folder cannot be read as a file
  EXPECT_NE(page().find("Cannot open object file"), std::string::npos);
}

TEST_F(ObjectFiles, OuterStateMarkersOfTheTemplateEngine) {
  // The template engine hooks its markers into the outer state and turns
  // object blocks off; plain text between markers is copied in runs.
  StringSink sink;
  Scanner s;
  s.yyin = "a MB{x}ME b OBJECT{ NAME=z\n}; c";
  s.yyout = &sink;
  s.object_blocks = false;
  static const MarkerRules rules = {
      [](std::string_view rest) -> size_t {
        if (!rest.starts_with("MB{")) return 0;
        size_t end = rest.find("}ME");
        return end == std::string_view::npos ? rest.size() : end + 3;
      },
      [](Scanner& sc, std::string_view marker) {
        sc.yyout->write("[" + std::string(marker.substr(3, marker.size() - 6)) + "]");
      },
  };
  s.markers = &rules;
  EXPECT_EQ(yylex(s), 0);
  EXPECT_EQ(sink.text(), "a [x] b OBJECT{ NAME=z\n}; c");
}

// ---- the writer ------------------------------------------------------------

TEST_F(ObjectFiles, CanonicalForm) {
  objlist l;
  auto o = getnewobj();
  modattrib(*o, attr::NAME, "a");
  modattrib(*o, attr::HELP, "h");
  modattrib(*o, attr::ENFORCE, "0");
  modattrib(*o, attr::VALUE, "v");
  addobj(l, std::move(o));
  o = getnewobj();
  modattrib(*o, attr::ENFORCE, "1");
  addobj(l, std::move(o));
  addobj(l, getnewobj());
  std::string text;
  ASSERT_TRUE(writekivobj(l, text));
  EXPECT_EQ(text,
            "OBJECT{\n\tNAME=a\n\tVALUE=v\n\tHELP=h\n};\n"
            "OBJECT{\n\tENFORCE=1\n};\n"
            "OBJECT{\n};\n");
}

// Where a value came from lives in memory only: a list of marked values is
// written as the same text as one of configuration, and reads back unmarked.
TEST_F(ObjectFiles, MarksNeverReachTheFile) {
  objlist config, marked;
  for (auto [key, value] : {std::pair{"a.VALUE", "<b>x</b>"}, {"a.TITLE", "t"}, {"b.HELP", "h"}}) {
    adduniqobj(config, key, value);
    adduniqobj(marked, key, value, key[0] == 'a' ? Origin::request : Origin::record);
  }
  std::string plain, text;
  ASSERT_TRUE(writekivobj(config, plain));
  ASSERT_TRUE(writekivobj(marked, text));
  EXPECT_EQ(text, plain);
  EXPECT_EQ(text, "OBJECT{\n\tNAME=a\n\tVALUE=<b>x</b>\n\tTITLE=t\n};\nOBJECT{\n\tNAME=b\n\tHELP=h\n};\n");
  std::unique_ptr<objlist> back = readkivobj(text);
  for (const kivobj& o : *back)
    for (int n = 1; n <= kAttrCount; ++n) EXPECT_FALSE(o.marked(n)) << o.name() << " " << n;
}

// No object but the head bears the head's name, so a save writes every
// object it holds: the name is refused where it would be given (the object
// keeps its other attributes, and so does the file), and an object file's
// block of that name is read without it.
TEST_F(ObjectFiles, TheHeadsNameIsTheHeadsAlone) {
  const std::string head(kHeadName);
  TempDir dir;
  kivtest::ScopedEnv trace("KIVTRACE_FILE", dir.str() + "/debug.txt");
  reqctx().kivdebug = 1;
  objlist l;
  kivobj* a = addobj(l, getnewobj());
  EXPECT_EQ(modattrib(*a, attr::NAME, head), -1);
  EXPECT_EQ(modattrib(*a, attr::VALUE, "v"), 0);
  EXPECT_EQ(addobj(l, std::make_unique<kivobj>(l[0])), nullptr);  // a copy of the head
  EXPECT_EQ(modattrib(l[0], attr::NAME, "other"), -1);            // nor is the head renamed
  EXPECT_EQ(adduniqobj(l, head + ".VALUE", "x"), -1);
  EXPECT_EQ(adduniqobj(l, "b.VALUE", "w"), 0);
  EXPECT_EQ(adduniqobj(l, "b.NAME", head), -1);
  EXPECT_EQ(castobj(l, "b.NAME", head), -1);
  EXPECT_EQ(castobj(l, head + ".TITLE", "x"), -1);
  EXPECT_EQ(adduniqobj(l, "c.NAME", head), 0);  // a new object takes the key's name, not the text
  // Every refusal is traced.
  const std::string shown = page();
  size_t traced = 0;
  for (size_t p = shown.find("may not be named"); p != std::string::npos; p = shown.find("may not be named", p + 1))
    ++traced;
  EXPECT_EQ(traced, 7u) << shown;
  EXPECT_EQ(getvalfromlist(l, head + ".VALUE"), std::nullopt);
  std::string text;
  ASSERT_TRUE(writekivobj(l, text));
  EXPECT_EQ(text, "OBJECT{\n\tVALUE=v\n};\nOBJECT{\n\tNAME=b\n\tVALUE=w\n};\nOBJECT{\n\tNAME=c\n};\n");
  EXPECT_EQ(dump(*readkivobj("OBJECT{\n\tNAME=" + head + "\n\tVALUE=v\n};\n")), "{VALUE=v;}");
}

TEST_F(ObjectFiles, TrickyValuesRoundTrip) {
  struct Case {
    std::string value;
    std::string reads_as;  // empty: the value itself
  } cases[] = {
      {"plain", "plain"},
      {"ends in a backslash\\", "ends in a backslash\\"},
      {"\\", "\\"},
      {"two\\\\", "two\\\\"},
      {"# }; OBJECT{ NAME=x VALUE=y", "# }; OBJECT{ NAME=x VALUE=y"},
      {"tab\tinside, cr\rinside", "tab\tinside, cr\rinside"},
      {"Hello{n}\\\nWorld{n}\\\n", "Hello{n}World{n}"},  // stored mail text
      {"Hello{n}\\\nWorld{n}\n\n", "Hello{n}World{n}"},
      {"trailing lines\n\n  \n", "trailing lines"},
      {"  blanks   folded  ", "blanks folded"},
      {"joined\\\n\\", "joined\\"},
      {std::string(20000, 'z'), ""},
  };
  for (const Case& c : cases) {
    const std::string& v = c.value;
    std::string expect = c.reads_as.empty() ? v : c.reads_as;
    objlist l;
    adduniqobj(l, "a.VALUE", v);
    adduniqobj(l, "a.TITLE", "after");
    adduniqobj(l, "b.VALUE", "next");
    std::string text;
    ASSERT_TRUE(writekivobj(l, text)) << v;
    auto back = readkivobj(text);
    EXPECT_EQ(getvalfromlist(*back, "a.VALUE"), expect) << text;
    EXPECT_EQ(getvalfromlist(*back, "a.TITLE"), "after") << text;
    EXPECT_EQ(getvalfromlist(*back, "b.VALUE"), "next") << text;
    EXPECT_EQ(back->size(), 3u) << text;
    // What reads back writes out the same again.
    std::string again;
    ASSERT_TRUE(writekivobj(*back, again));
    auto twice = readkivobj(again);
    EXPECT_EQ(dump(*twice), dump(*back));
  }
}

TEST_F(ObjectFiles, ValuesThatWouldInjectAreRefused) {
  const std::string bad[] = {
      "x\n};\nOBJECT{\n\tNAME=tk_pre_add\n\tVALUE=ON",
      "first line\nNAME=evil",
      "joined\\\n\nthen a line of its own",
      "cr\r\nlf",
      std::string("nul\0byte", 8),
  };
  for (const std::string& v : bad) {
    objlist l;
    adduniqobj(l, "ok.VALUE", "fine");
    adduniqobj(l, "victim.TITLE", v);
    std::string text = "stale", why;
    EXPECT_FALSE(writekivobj(l, text, &why)) << v;
    EXPECT_EQ(text, "");
    EXPECT_NE(why.find("'victim'"), std::string::npos) << why;
    EXPECT_NE(why.find("TITLE"), std::string::npos) << why;
    EXPECT_EQ(objfile_value(v), std::nullopt);
  }
  EXPECT_EQ(objfile_value("a\\"), "a\\ ");
  EXPECT_EQ(objfile_value("a\n \n"), "a");
}

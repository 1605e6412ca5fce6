// Writing object files back: the canonical form and its round trip, backups
// of saves in the same second, the first save of a new file, the refusal of
// a save over a file that changed since it was loaded, and the failures
// (unwritable folder, no backup folder, a refused rename, a failed write, a
// value no object file can hold), each of which leaves the live file as it was.
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <set>

#include "admintest.h"
#include "support/services.h"
#include "toolkit/base/kivfmt.h"
#include "toolkit/objects/kivobjfile.h"

using namespace kiv;
using namespace admintest;

namespace {

using Attrs = std::vector<std::pair<int, std::string>>;

void add(objlist& list, const Attrs& attrs) {
  auto o = getnewobj();
  for (const auto& [n, text] : attrs) modattrib(*o, n, text);
  addobj(list, std::move(o));
}

std::unique_ptr<objlist> one_object(const std::string& name, const std::string& value) {
  auto l = std::make_unique<objlist>();
  add(*l, {{attr::NAME, name}, {attr::VALUE, value}});
  return l;
}

class Save : public AdminTest {
 protected:
  // The files of the config folder other than lock files.
  std::set<std::string> config_files() const {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(home_.path() / "client/config")) {
      std::string n = e.path().filename();
      if (!n.ends_with(".lock")) names.insert(n);
    }
    return names;
  }
  const std::set<std::string> kConfig = {"admin_obj", "ce_obj", "tk_obj"};
};

}  // namespace

TEST_F(Save, CanonicalFormAndRoundTrip) {
  objlist list;
  add(list, {{attr::NAME, "a"}, {attr::VALUE, "x  y"}, {attr::ENFORCE, "0"}, {attr::TITLE, "t"}});
  add(list, {{attr::HELP, "h"}, {attr::ENFORCE, "1"}, {attr::NAME, "b"}});
  add(list, {});
  add(list, {{attr::NAME, std::string(kHeadName)}, {attr::VALUE, "kept"}});  // the head's name is refused
  add(list, {{attr::NAME, "mail"}, {attr::VALUE, "Line one{n}\\\nLine two"}, {attr::TITLE, "C:\\dir\\"}});
  Attrs full;
  for (int n = kAttrCount; n >= 1; --n) full.emplace_back(n, std::string(attrword(n)) + "v");
  add(list, full);

  ASSERT_EQ(saveobjfile(&list, "tk_obj"), 0);
  const std::string text = read("client/config/tk_obj");
  EXPECT_EQ(text,
            "OBJECT{\n\tNAME=a\n\tVALUE=x  y\n\tTITLE=t\n};\n"
            "OBJECT{\n\tNAME=b\n\tENFORCE=1\n\tHELP=h\n};\n"
            "OBJECT{\n};\n"
            "OBJECT{\n\tVALUE=kept\n};\n"
            "OBJECT{\n\tNAME=mail\n\tVALUE=Line one{n}\\\nLine two\n\tTITLE=C:\\dir\\ \n};\n"
            "OBJECT{\n\tNAME=NAMEv\n\tVALUE=VALUEv\n\tDBKEY=DBKEYv\n\tCONTROL=CONTROLv\n\tTYPE=TYPEv\n"
            "\tVTYPE=VTYPEv\n\tENFORCE=ENFORCEv\n\tTITLE=TITLEv\n\tLEN=LENv\n\tHELP=HELPv\n};\n");

  // Read back: every object in order, blanks folded, the continued mail
  // text joined, the trailing backslash kept.
  std::unique_ptr<objlist> back = readkivobj(text);
  ASSERT_EQ(back->size(), 7u);
  EXPECT_EQ((*back)[1].value(), "x y");
  EXPECT_FALSE((*back)[1].has(attr::ENFORCE));
  EXPECT_EQ((*back)[2].attr(attr::ENFORCE), "1");
  for (int n = 1; n <= kAttrCount; ++n) EXPECT_FALSE((*back)[3].has(n));
  EXPECT_EQ((*back)[4].value(), "kept");
  EXPECT_EQ((*back)[5].value(), "Line one{n}Line two");
  EXPECT_EQ((*back)[5].attr(attr::TITLE), "C:\\dir\\");
  for (int n = 1; n <= kAttrCount; ++n) EXPECT_EQ((*back)[6].attr(n), std::string(attrword(n)) + "v");
}

// Saves in the same second each keep a backup of their own, and a second
// save of the same request checks against what the first one wrote.
TEST_F(Save, EverySaveKeepsItsOwnBackup) {
  const std::string original = read("client/config/tk_obj");
  ASSERT_NE(loadtkobj(), nullptr);
  std::vector<std::string> saved;
  for (const char* v : {"one", "two", "three"}) {
    auto l = one_object("x", v);
    ASSERT_EQ(saveobjfile(l.get(), "tk_obj"), 0) << page();
    saved.push_back(read("client/config/tk_obj"));
  }
  EXPECT_EQ(saved.back(), "OBJECT{\n\tNAME=x\n\tVALUE=three\n};\n");
  std::vector<std::string> b = backups();
  ASSERT_EQ(b.size(), 3u);
  std::multiset<std::string> contents;
  for (const std::string& n : b) {
    EXPECT_TRUE(numbered(n, "tk_obj.", "", true)) << n;
    contents.insert(read("tmp/" + n));
  }
  EXPECT_EQ(contents, (std::multiset<std::string>{original, saved[0], saved[1]}));
  EXPECT_EQ(config_files(), kConfig);
  EXPECT_EQ(page(), "");
}

TEST_F(Save, FirstSaveOfANewFileCreatesIt) {
  auto l = one_object("x", "new");
  ASSERT_EQ(saveobjfile(l.get(), "new_obj"), 0);
  EXPECT_EQ(read("client/config/new_obj"), "OBJECT{\n\tNAME=x\n\tVALUE=new\n};\n");
  EXPECT_TRUE(backups().empty());

  // So does a file that was missing when it was loaded and still is.
  fs::remove(path("client/config/ce_obj"));
  EXPECT_EQ(loadceobj(), nullptr);
  ASSERT_EQ(saveobjfile(l.get(), "ce_obj"), 0);
  EXPECT_EQ(read("client/config/ce_obj"), "OBJECT{\n\tNAME=x\n\tVALUE=new\n};\n");
}

// A file someone else changed, removed or created after it was loaded is not
// overwritten: the save is refused with a message to reload.
TEST_F(Save, RefusedWhenTheFileChangedSinceItWasLoaded) {
  struct Case {
    const char* what;
    const char* file;
    void (*change)(const std::string& live);
  } cases[] = {
      {"appended", "tk_obj",
       [](const std::string& live) {
         std::string t = kivtest::read_file(live) + "OBJECT{\n\tNAME=other\n};\n";
         FILE* f = std::fopen(live.c_str(), "w");
         std::fputs(t.c_str(), f);
         std::fclose(f);
       }},
      {"removed", "tk_obj", [](const std::string& live) { fs::remove(live); }},
      {"created", "ce_obj",
       [](const std::string& live) {
         FILE* f = std::fopen(live.c_str(), "w");
         std::fputs("OBJECT{\n\tNAME=other\n};\n", f);
         std::fclose(f);
       }},
  };
  fs::remove(path("client/config/ce_obj"));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    reset_admin();
    std::string live = path(std::string("client/config/") + c.file);
    loadtkobj();
    loadceobj();
    c.change(live);
    auto after_change = tree();
    std::erase_if(after_change, [](const auto& kv) { return kv.first.ends_with(".lock"); });
    clear_output();
    auto l = one_object("x", "mine");
    EXPECT_EQ(exit_status([&] { saveobjfile(l.get(), c.file); }), -1);
    EXPECT_EQ(page(), "<PRE>\n" + sformat(kObjFileChanged, live) + "</PRE>\n");
    auto now = tree();
    std::erase_if(now, [](const auto& kv) { return kv.first.ends_with(".lock"); });
    EXPECT_EQ(now, after_change);
  }
}

TEST_F(Save, UnwritableFolderLeavesTheFileAlone) {
  for (const char* d : {"", "client", "client/config", "client/kivhtml", "client/kivhtml/admin"})
    fs::permissions(path(d), fs::perms(0755));
  fs::permissions(path("tmp"), fs::perms(0777));
  if (::geteuid() != 0) fs::permissions(path("client/config"), fs::perms(0555));
  auto before = tree();
  ChildRun r = in_child(
      [] {
        auto l = one_object("x", "mine");
        saveobjfile(l.get(), "tk_obj");
      },
      true);
  fs::permissions(path("client/config"), fs::perms(0755));
  EXPECT_EQ(r.status, -1);
  EXPECT_TRUE(numbered(r.page, "<PRE>\nCannot open file '" + path("client/config/tk_obj") + ".tmp.",
                       "' for writing. errno=13\n</PRE>\n"))
      << r.page;
  EXPECT_EQ(tree(), before);
}

TEST_F(Save, NoBackupFolderNoSave) {
  fs::remove(path("tmp"));
  auto before = tree();
  auto l = one_object("x", "mine");
  EXPECT_EQ(exit_status([&] { saveobjfile(l.get(), "tk_obj"); }), 1);
  EXPECT_TRUE(numbered(page(), "<PRE>\nCannot open file '" + path("tmp/tk_obj") + ".",
                       "' for writing. errno=2\n</PRE>\n"))
      << page();
  auto now = tree();
  std::erase_if(now, [](const auto& kv) { return kv.first.ends_with(".lock"); });
  EXPECT_EQ(now, before);
}

// In a sticky folder another user's file cannot be renamed over: the live
// file stays whole and no temporary file or backup is left behind.
TEST_F(Save, RefusedRenameLeavesTheFileAlone) {
  KIV_NEED_SERVICE(::geteuid() != 0 ? "needs root to make a file another user cannot replace" : "");
  for (const char* d : {"", "client"}) fs::permissions(path(d), fs::perms(0755));
  ::chmod(path("client/config").c_str(), 01777);
  fs::permissions(path("tmp"), fs::perms(0777));
  auto before = tree();
  ChildRun r = in_child(
      [] {
        auto l = one_object("x", "mine");
        saveobjfile(l.get(), "tk_obj");
      },
      true);
  EXPECT_EQ(r.status, 1);
  const std::string live = path("client/config/tk_obj");
  EXPECT_TRUE(numbered(r.page, "<PRE>\nCan't rename " + live + ".tmp.", " to " + live + " errno=1\n</PRE>\n"))
      << r.page;
  auto now = tree();
  std::erase_if(now, [](const auto& kv) { return kv.first.ends_with(".lock"); });
  EXPECT_EQ(now, before);
}

TEST_F(Save, FailedWriteLeavesTheFileAlone) {
  auto before = tree();
  ChildRun r = in_child(
      [] {
        std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit lim = {16, 16};
        ::setrlimit(RLIMIT_FSIZE, &lim);
        auto l = one_object("x", std::string(200, 'v'));
        saveobjfile(l.get(), "tk_obj");
      },
      false);
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(numbered(r.page, "<PRE>\nCannot write file <" + path("client/config/tk_obj") + ".tmp.",
                       "> errno=27 \n</PRE>\n"))
      << r.page;
  auto now = tree();
  std::erase_if(now, [](const auto& kv) { return kv.first.ends_with(".lock"); });
  EXPECT_EQ(now, before);
}

TEST_F(Save, AValueNoObjectFileCanHoldIsNotSaved) {
  auto before = tree();
  auto l = one_object("x", "one\n\tNAME=injected");
  EXPECT_EQ(exit_status([&] { saveobjfile(l.get(), "tk_obj"); }), 1);
  EXPECT_EQ(page(), "<PRE>\nCannot save object file '" + path("client/config/tk_obj") +
                        "': object &#39;x&#39;: its VALUE holds a line break or NUL byte that an object file "
                        "cannot keep\n</PRE>\n");
  EXPECT_EQ(tree(), before);
  EXPECT_EQ(exit_status([] { saveobjfile(nullptr, "tk_obj"); }), 1);
  EXPECT_EQ(tree(), before);
}

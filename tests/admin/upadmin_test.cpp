// The administration frame: which words it answers, the page chain, the
// chart-settings page over ce_obj alone, the missing action word and object
// files, and the order operation, saves, step, page of a row whose
// operation is plugged in; the lock held from load to save.
#include <fcntl.h>
#include <sys/file.h>

#include <cctype>
#include <set>

#include "admintest.h"
#include "toolkit/base/kivcgitrace.h"
#include "toolkit/request/kivexfile.h"

using namespace kiv;
using namespace admintest;

namespace {

constexpr const char* kChain = "tk=fromtk ce=fromce form=fromadmin all=tkred\n";

class Frame : public AdminTest {
 protected:
  // The tree without the lock files a writing row leaves (empty, never read).
  std::map<std::string, std::string> content() const {
    auto t = tree();
    std::erase_if(t, [](const auto& kv) { return kv.first.ends_with(".lock"); });
    return t;
  }
};

std::string upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}
std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

TEST_F(Frame, FormValuesLandInAdminObjBehindTheCaseAndChartObjects) {
  exlist request;
  addexdatanode(&request, formexdatanode("formonly.VALUE", "typed"));
  addexdatanode(&request, formexdatanode("color.VALUE", "formgreen"));
  auto before = tree();
  EXPECT_EQ(run("Nonsense", &request), returned(0));
  EXPECT_EQ(page(), "tk=fromtk ce=fromce form=typed all=tkred\n");
  EXPECT_EQ(tree(), before);
}

// Every row of the table is built. Only the exact word matches: another
// case, or a blank before or after, is answered with the ordinary page and
// writes nothing (as a row whose operation is not built would be).
TEST_F(Frame, WordsMatchExactlyAndUnbuiltRowsAnswerAsUnknown) {
  auto table = admin_actions();
  ASSERT_EQ(table.size(), 72u);
  std::set<std::string_view> distinct;
  for (const AdminAction& a : table) {
    distinct.insert(a.word);
    EXPECT_TRUE(admin_action_built(a)) << a.word;
  }
  EXPECT_EQ(distinct.size(), table.size());

  auto before = tree();
  for (const AdminAction& a : table) {
    std::vector<std::string> variants = {std::string(a.word) + " ", " " + std::string(a.word)};
    for (std::string v : {upper(std::string(a.word)), lower(std::string(a.word))})
      if (v != a.word) variants.push_back(v);
    if (!admin_action_built(a)) variants.emplace_back(a.word);
    for (const std::string& w : variants) {
      clear_output();
      EXPECT_EQ(run(w), returned(0)) << "'" << w << "'";
      EXPECT_EQ(page(), kChain) << "'" << w << "'";
    }
  }
  EXPECT_EQ(tree(), before);
}

TEST_F(Frame, NoActionWordEndsWithItsMessage) {
  auto before = tree();
  for (std::optional<std::string> w : {std::optional<std::string>(), std::optional<std::string>("")}) {
    clear_output();
    EXPECT_EQ(run(w), exited(0));
    EXPECT_EQ(page(), "<PRE>\nNo KIVACTION is defined\n</PRE>\n");
  }
  EXPECT_EQ(tree(), before);
}

TEST_F(Frame, ChartsSettingsShowsCeObjAlone) {
  exlist request;
  addexdatanode(&request, formexdatanode("formonly.VALUE", "typed"));
  addexdatanode(&request, formexdatanode("ceonly.VALUE", "typed"));
  auto before = tree();
  EXPECT_EQ(run("ChartsSettings", &request), returned(0));
  EXPECT_EQ(page(), "tk= ce=fromce form= all=cered\n");
  EXPECT_EQ(tree(), before);
}

TEST_F(Frame, MissingObjectFiles) {
  // Without the form list or the case objects the request stops after the
  // loader's message; without the chart objects the chain goes on without them.
  for (const char* file : {"tk_obj", "admin_obj"}) {
    SCOPED_TRACE(file);
    std::string rel = std::string("client/config/") + file;
    std::string keep = read(rel);
    fs::remove(path(rel));
    clear_output();
    EXPECT_EQ(run("Nonsense"), exited(-1));
    EXPECT_EQ(page(), "Cannot open object file '" + path(rel) + "'. errno=2\n");
    write(rel, keep);
  }
  fs::remove(path("client/config/ce_obj"));
  clear_output();
  EXPECT_EQ(run("Nonsense"), returned(0));
  EXPECT_EQ(page(), "Cannot open object file '" + path("client/config/ce_obj") +
                        "'. errno=2\ntk=fromtk ce= form=fromadmin all=tkred\n");
}

TEST_F(Frame, TemplateMissingOrOutsideTheAdministrationFolder) {
  EXPECT_EQ(run("ChartsSettings", nullptr, "nothere.html"), returned(1));
  EXPECT_EQ(page(), "Cannot open html template file '" + path("client/kivhtml/admin/nothere.html") +
                        "'. errno=2\n");
  clear_output();
  EXPECT_EQ(run("ChartsSettings", nullptr, "../../config/tk_obj"), returned(1));
  EXPECT_EQ(page(), "Cannot open html template file '" + path("client/kivhtml/admin/../../config/tk_obj") +
                        "'. errno=13\n");
}

namespace {

// The operation of the next tests: the submitted tkonly value into tk_obj.
void set_tkonly(std::string_view) {
  std::optional<std::string> v = getvalfromlist(*admin().admin_obj, "tkonly.VALUE");
  adduniqobj(*admin().tk_obj, "tkonly.VALUE", v.value_or("unset"));
  out() << "op;";
}
// A step that shows what tk_obj holds on disk when it runs.
void show_saved() {
  std::string text = kivtest::read_file(reqctx().nvhome + "/client/config/tk_obj");
  out() << (text.find("VALUE=submitted") != std::string::npos ? "step(saved);" : "step(unsaved);");
}

}  // namespace

TEST_F(Frame, OperationThenSavesThenStepThenPage) {
  Plug op("mod_flat_field", set_tkonly);
  PlugStep step(AdminThen::field_list, show_saved);
  std::string old = read("client/config/tk_obj");
  exlist request;
  addexdatanode(&request, formexdatanode("tkonly.VALUE", "submitted"));
  EXPECT_EQ(run("mod_flat_field", &request), returned(0));
  EXPECT_EQ(page(), "op;step(saved);tk=submitted ce=fromce form=fromadmin all=tkred\n");
  EXPECT_EQ(read("client/config/tk_obj"),
            "OBJECT{\n\tNAME=tkonly\n\tVALUE=submitted\n};\nOBJECT{\n\tNAME=color\n\tVALUE=tkred\n};\n");
  std::vector<std::string> b = backups();
  ASSERT_EQ(b.size(), 1u);
  EXPECT_TRUE(b[0].starts_with("tk_obj.")) << b[0];
  EXPECT_EQ(read("tmp/" + b[0]), old);

  // "List Fields" needs only the step, now plugged in: it runs without a save.
  clear_output();
  EXPECT_EQ(run("List Fields"), returned(0));
  EXPECT_EQ(page(), "step(saved);tk=submitted ce=fromce form=fromadmin all=tkred\n");
  EXPECT_EQ(backups().size(), 1u);
}

namespace {

void color_both(std::string_view) {
  adduniqobj(*admin().tk_obj, "color.VALUE", "tkgreen");
  adduniqobj(*admin().ce_obj, "color.VALUE", "cegreen");
}
// As color_both, after someone changed tk_obj behind the frame's back.
void color_both_after_outside_change(std::string_view word) {
  std::string live = reqctx().nvhome + "/client/config/tk_obj";
  FILE* f = std::fopen(live.c_str(), "a");
  std::fputs("OBJECT{\n\tNAME=outside\n};\n", f);
  std::fclose(f);
  color_both(word);
}
void refuse_for_missing_value(std::string_view) {
  adduniqobj(*admin().tk_obj, "color.VALUE", "half-done");
  errmsg("Please enter a value\n");
  throw Exit{0};
}

}  // namespace

TEST_F(Frame, ChangeColorSavesTkObjThenCeObjEachWithABackup) {
  Plug op("Change Color", color_both);
  EXPECT_EQ(run("Change Color"), returned(0));
  EXPECT_EQ(page(), "tk=fromtk ce=fromce form=fromadmin all=tkgreen\n");
  EXPECT_NE(read("client/config/tk_obj").find("VALUE=tkgreen"), std::string::npos);
  EXPECT_NE(read("client/config/ce_obj").find("VALUE=cegreen"), std::string::npos);
  std::vector<std::string> b = backups();
  ASSERT_EQ(b.size(), 2u);
  EXPECT_TRUE(b[0].starts_with("ce_obj.")) << b[0];
  EXPECT_TRUE(b[1].starts_with("tk_obj.")) << b[1];
}

TEST_F(Frame, AFailedFirstSaveStopsTheRequestBeforeTheSecond) {
  Plug op("Change Color", color_both_after_outside_change);
  std::string ce = read("client/config/ce_obj");
  EXPECT_EQ(run("Change Color"), exited(-1));
  EXPECT_EQ(page(), "<PRE>\n" + sformat(kObjFileChanged, path("client/config/tk_obj")) + "</PRE>\n");
  EXPECT_NE(read("client/config/tk_obj").find("NAME=outside"), std::string::npos);
  EXPECT_EQ(read("client/config/tk_obj").find("tkgreen"), std::string::npos);
  EXPECT_EQ(read("client/config/ce_obj"), ce);
  EXPECT_TRUE(backups().empty());
}

TEST_F(Frame, AnOperationThatStopsWritesNothing) {
  Plug op("mod_openstatus", refuse_for_missing_value);
  auto before = content();
  EXPECT_EQ(run("mod_openstatus"), exited(0));
  EXPECT_EQ(page(), "<PRE>\nPlease enter a value\n</PRE>\n");
  EXPECT_EQ(content(), before);
}

namespace {
void choose_field_page(std::string_view) { admin().modfield_template = "field.html"; }
}  // namespace

TEST_F(Frame, ModfieldPrintsTheTemplateItChose) {
  Plug op("modfield", choose_field_page);
  write("client/kivhtml/admin/field.html", "field of MB{tkonly.VALUE}ME\n");
  EXPECT_EQ(run("modfield"), returned(0));
  EXPECT_EQ(page(), "field of fromtk\n");
}

// The object file a row writes is locked before it is loaded: a second
// request waits, then loads the file as the holder left it. A writer whose
// page the holder's save overtook is refused; one whose page is still
// current saves. Show actions never wait.
TEST_F(Frame, WritersWaitForTheLockAndLoadTheFileAsTheHolderLeftIt) {
  Plug op("mod_paths", set_tkonly);
  std::string lockpath = path("client/config/tk_obj.lock");
  for (bool holder_saves : {false, true}) {
    SCOPED_TRACE(holder_saves ? "the holder saves meanwhile" : "the holder saves nothing");
    int fd = ::open(lockpath.c_str(), O_RDWR | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    const std::string before = read("client/config/tk_obj");

    pid_t writer = ::fork();
    ASSERT_GE(writer, 0);
    if (writer == 0) {
      StringSink sink;
      set_out(&sink);
      exlist request = form_of({{"tkonly.VALUE", "submitted"}});
      Ended e = run("mod_paths", &request);
      bool refused = e == exited(-1) && sink.text().find("changed by someone else") != std::string::npos;
      ::_exit(e == returned(0) ? 0 : refused ? 3 : 1);
    }
    EXPECT_EQ(run("ChartsSettings"), returned(0));  // not held up by the lock
    ::usleep(300 * 1000);
    int status = 0;
    EXPECT_EQ(::waitpid(writer, &status, WNOHANG), 0) << "the writer did not wait for the lock";

    // The holder saves meanwhile, as another administrator's request would.
    if (holder_saves) write("client/config/tk_obj", before + object("other", "change"));
    ::flock(fd, LOCK_UN);
    ::close(fd);
    ASSERT_EQ(::waitpid(writer, &status, 0), writer);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    std::string saved = read("client/config/tk_obj");
    if (holder_saves) {
      EXPECT_EQ(WEXITSTATUS(status), 3) << "the overtaken page was not refused";
      EXPECT_EQ(saved, before + object("other", "change"));
    } else {
      EXPECT_EQ(WEXITSTATUS(status), 0);
      EXPECT_NE(saved.find("VALUE=submitted"), std::string::npos) << saved;
    }
  }
}

namespace {

// The chart-settings save: the submitted ceonly value into ce_obj.
void set_ceonly(std::string_view) {
  std::optional<std::string> v = getvalfromlist(*admin().admin_obj, "ceonly.VALUE");
  adduniqobj(*admin().ce_obj, "ceonly.VALUE", v.value_or("unset"));
}

// True when another open of the lock file cannot take the lock now (flock
// locks belong to the open file, so this holds within one process too).
bool lock_taken(const std::string& name) {
  std::string p = reqctx().nvhome + "/client/config/" + name + ".lock";
  int fd = ::open(p.c_str(), O_RDWR | O_CREAT, 0644);
  if (fd < 0) return false;
  bool taken = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
  ::close(fd);
  return taken;
}

// A delete that writes tk_obj itself: the file without its "color" object.
void delete_color(std::string_view) {
  out() << (lock_taken("tk_obj") ? "locked;" : "unlocked;");
  objlist kept;
  for (const kivobj& o : *admin().tk_obj)
    if (o.name() != "color" && o.name() != kHeadName) addobj(kept, std::make_unique<kivobj>(o));
  saveobjfile(&kept, "tk_obj");
}
void show_color_gone() {
  std::string text = kivtest::read_file(reqctx().nvhome + "/client/config/tk_obj");
  out() << (text.find("NAME=color") == std::string::npos ? "step(deleted);" : "step(still there);");
}

}  // namespace

TEST_F(Frame, ChartSettingsSaveWritesCeObjAndShowsItAlone) {
  Plug op("mod_chartssettings", set_ceonly);
  std::string tk = read("client/config/tk_obj");
  exlist request;
  addexdatanode(&request, formexdatanode("ceonly.VALUE", "submitted"));
  EXPECT_EQ(run("mod_chartssettings", &request), returned(0));
  EXPECT_EQ(page(), "tk= ce=submitted form= all=cered\n");
  EXPECT_EQ(read("client/config/ce_obj"),
            "OBJECT{\n\tNAME=ceonly\n\tVALUE=submitted\n};\nOBJECT{\n\tNAME=color\n\tVALUE=cered\n};\n");
  EXPECT_EQ(read("client/config/tk_obj"), tk);
  std::vector<std::string> b = backups();
  ASSERT_EQ(b.size(), 1u);
  EXPECT_TRUE(b[0].starts_with("ce_obj.")) << b[0];
}

// A row whose operation writes tk_obj itself runs it under the lock taken
// before loading, and the frame does not save a second time.
TEST_F(Frame, AnOperationThatWritesTkObjItselfIsSavedOnceUnderTheLock) {
  Plug op("Delete Object", delete_color);
  PlugStep step(AdminThen::object_list, show_color_gone);
  EXPECT_EQ(run("Delete Object"), returned(0));
  EXPECT_TRUE(page().starts_with("locked;step(deleted);tk=fromtk ")) << page();
  EXPECT_EQ(read("client/config/tk_obj"), "OBJECT{\n\tNAME=tkonly\n\tVALUE=fromtk\n};\n");
  EXPECT_EQ(backups().size(), 1u);
  EXPECT_FALSE(lock_taken("tk_obj"));
}

// Nothing is read for a request that reached the program without the web
// server's login check, whatever its word.
TEST_F(Frame, OnlyAnAdministratorTheWebServerCheckedIsServed) {
  Plug op("mod_paths", set_tkonly);
  struct Case {
    std::optional<std::string> auth, user;
  } cases[] = {
      {std::nullopt, "admin"}, {"Basic", std::nullopt}, {"", "admin"}, {"Basic", ""}, {std::nullopt, std::nullopt}};
  auto before = content();
  for (const Case& c : cases) {
    kivtest::ScopedEnv auth("AUTH_TYPE", c.auth), user("REMOTE_USER", c.user);
    for (const char* word : {"ChartsSettings", "mod_paths", "Nonsense"}) {
      clear_output();
      EXPECT_EQ(run(word), exited(-1)) << word;
      EXPECT_EQ(page(), "<PRE>\nThe administration needs a login checked by the web server\n</PRE>\n") << word;
    }
  }
  EXPECT_EQ(content(), before);
}

// A change comes by POST; when the browser names the page that sent it
// (Origin, else Referer), that page is this site's. Show words take a GET.
TEST_F(Frame, ChangesComeByPostFromTheSitesOwnPages) {
  Plug op("mod_paths", set_tkonly);
  struct Case {
    const char* what;
    std::string method;
    std::optional<std::string> origin, referer;
    bool saved;
  } cases[] = {
      {"a GET", "GET", std::nullopt, std::nullopt, false},
      {"a HEAD", "HEAD", std::nullopt, std::nullopt, false},
      {"a foreign origin", "POST", "http://evil.example", std::nullopt, false},
      {"an origin of another port", "POST", "http://helpdesk.example:8081", std::nullopt, false},
      {"an opaque origin", "POST", "null", std::nullopt, false},
      {"a foreign referer", "POST", std::nullopt, "http://evil.example/helpdesk.example:8080/", false},
      {"the site's origin, a foreign referer", "POST", "http://HelpDesk.example:8080", "http://evil.example/", true},
      {"the site's referer", "POST", std::nullopt, "https://helpdesk.example:8080/cgi-bin/up.cgi?KIVACTION=x", true},
      {"neither sent", "POST", std::nullopt, std::nullopt, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    kivtest::ScopedEnv method("REQUEST_METHOD", c.method), origin("HTTP_ORIGIN", c.origin),
        referer("HTTP_REFERER", c.referer);
    const std::string tk = read("client/config/tk_obj");
    exlist request = form_of({{"tkonly.VALUE", std::string("by ") + c.what}});
    clear_output();
    if (c.saved) {
      EXPECT_EQ(run("mod_paths", &request), returned(0));
      EXPECT_NE(read("client/config/tk_obj").find(c.what), std::string::npos);
    } else {
      EXPECT_EQ(run("mod_paths", &request), exited(-1));
      EXPECT_EQ(page(), "<PRE>\nThe administration takes changes only from its own pages\n</PRE>\n");
      EXPECT_EQ(read("client/config/tk_obj"), tk);
    }
    clear_output();
    EXPECT_EQ(run("ChartsSettings"), returned(0)) << "a show word";
  }
}

// Every page carries the version of the files it was printed from; a change
// needs the version of the files as they are now, so a page that another
// save overtook cannot overwrite that save.
TEST_F(Frame, AChangeNeedsTheVersionOfTheFilesAsTheyAreNow) {
  Plug op("mod_paths", set_tkonly);
  Plug ce_op("mod_chartssettings", set_ceonly);
  write("client/kivhtml/admin/version.html", "v=MB{admin_version.VALUE}ME\n");
  EXPECT_EQ(run("ChartsSettings", nullptr, "version.html"), returned(0));
  EXPECT_EQ(page(), "v=" + version() + "\n");
  clear_output();
  EXPECT_EQ(run("Nonsense", nullptr, "version.html"), returned(0));
  const std::string shown = version();
  EXPECT_EQ(page(), "v=" + shown + "\n");
  EXPECT_EQ(shown.size(), 32u);

  send_version_ = false;
  const std::string tk_path = path("client/config/tk_obj"), ce_path = path("client/config/ce_obj");
  struct Case {
    const char* what;
    std::optional<std::string> sent;
    const char* word;
    std::string named;
  } cases[] = {
      {"no version", std::nullopt, "mod_paths", tk_path},
      {"no version, a chart save", std::nullopt, "mod_chartssettings", ce_path},
      {"an empty one", "", "mod_paths", tk_path},
      {"a made-up one", "12345", "mod_chartssettings", ce_path},
      {"tk_obj changed", "0" + shown.substr(1), "mod_chartssettings", tk_path},
      {"ce_obj changed", shown.substr(0, 31) + (shown[31] == '0' ? "1" : "0"), "mod_paths", ce_path},
  };
  auto before = content();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    exlist request = form_of({{"tkonly.VALUE", "x"}, {"ceonly.VALUE", "x"}});
    if (c.sent) addexdatanode(&request, formexdatanode("admin_version.VALUE", *c.sent));
    clear_output();
    EXPECT_EQ(run(c.word, &request), exited(-1));
    EXPECT_EQ(page(), "<PRE>\n" + sformat(kObjFileChanged, c.named) + "</PRE>\n");
    EXPECT_EQ(content(), before);
  }

  // The current version saves, and the answer page carries the new one.
  exlist request = form_of({{"tkonly.VALUE", "saved"}, {"admin_version.VALUE", shown}});
  clear_output();
  EXPECT_EQ(run("mod_paths", &request, "version.html"), returned(0));
  EXPECT_EQ(page(), "op;v=" + version() + "\n");
  EXPECT_NE(version(), shown);
  // The page of before is now overtaken.
  clear_output();
  EXPECT_EQ(run("mod_paths", &request, "version.html"), exited(-1));
  EXPECT_EQ(page(), "<PRE>\n" + sformat(kObjFileChanged, tk_path) + "</PRE>\n");
}

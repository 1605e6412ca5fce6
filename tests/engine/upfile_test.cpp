// Shared file operations: scratch data files made unique and exclusive, the
// check of a scratch file path from a request, whole-file reading by flavour,
// whole-file writing with its failures, and the export copy of a template.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>

#include "engine/upfile.h"
#include "platform/flavour.h"
#include "support/testsupport.h"
#include "toolkit/base/kivfmt.h"
#include "toolkit/base/kivcontext.h"
#include "toolkit/base/kivsettings.h"

using namespace kiv;
using kivtest::TempDir;
namespace fs = std::filesystem;

namespace {

class Files : public kivtest::KivTest {
 protected:
  void SetUp() override {
    KivTest::SetUp();
    reqctx().nvhome = home_.str();
    fs::create_directories(home_.path() / "tmp");
  }
  std::string tmp(const std::string& name) const { return home_.str() + "/tmp/" + name; }

  TempDir home_;
};

mode_t mode_of(const std::string& path) {
  struct stat st {};
  ::lstat(path.c_str(), &st);
  return st.st_mode & 0777;
}

}  // namespace

TEST_F(Files, ScratchNamesAreUniqueAndCreatedExclusively) {
  const std::time_t now = 1700000000;
  const std::string first = tmp(sformat("tmp_datafile.%d.%d", 1700000000, static_cast<int>(getpid())));
  // The first name is taken by a link planted there: it is left alone.
  fs::create_symlink(home_.path() / "target", first);

  std::string a = gen_tmpdatafile(now);
  std::string b = gen_tmpdatafile(now);
  EXPECT_EQ(a, first + ".1");
  EXPECT_EQ(b, first + ".2");
  EXPECT_EQ(last_tmpdatafile(), b);
  for (const std::string& made : {a, b}) {
    struct stat st {};
    ASSERT_EQ(::lstat(made.c_str(), &st), 0) << made;
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(st.st_size, 0);
  }
  EXPECT_FALSE(fs::exists(home_.path() / "target"));
  EXPECT_TRUE(gen_tmpdatafile().starts_with(tmp("tmp_datafile.")));
}

TEST_F(Files, ScratchNameWithoutTmpFolderIsStillGiven) {
  fs::remove(home_.path() / "tmp");
  std::string name = gen_tmpdatafile(1700000000);
  EXPECT_EQ(name, tmp(sformat("tmp_datafile.1700000000.%d", static_cast<int>(getpid()))));
  EXPECT_EQ(up_writefile(name, "x"), -1);  // the caller's write reports it
}

TEST_F(Files, HidedatafileNamesOnlyScratchFiles) {
  struct Case {
    std::string value;
    bool accepted;
  } cases[] = {
      {tmp("tmp_datafile.1700000000.42"), true},
      {tmp("tmp_datafile.1700000000.42.3"), true},
      {tmp("out.42"), true},
      {home_.str() + "/./tmp/tmp_datafile.1.2", true},
      {home_.str() + "//tmp//tmp_datafile.1.2", true},
      {home_.str() + "/client/../tmp/tmp_datafile.1.2", false},  // no ".." at all
      {tmp("../tmp_datafile.1.2"), false},
      {tmp("sub/../../tmp_datafile.1.2"), false},
      {tmp("tk_obj.1700000000"), false},  // an object file backup
      {tmp("odbcfile.1.2"), false},
      {tmp("tmp_datafile.1/../../client/config/tk_obj"), false},
      {tmp("sub/tmp_datafile.1.2"), false},
      {home_.str() + "/tmp_datafile.1.2", false},
      {"/etc/tmp_datafile.1.2", false},
      {tmp("tmp_datafile.1\\..\\x"), false},
      {tmp("tmp_datafile.1\n2"), false},
      {tmp(""), false},
      {"", false},
      // A path relative to the home, as the pages hand it on, is checked
      // alike; a name alone is not in tmp.
      {"tmp/tmp_datafile.1700000000.42", true},
      {"tmp//out.42", true},
      {"./tmp/out.42", true},
      {"tmp/tk_obj.1700000000", false},
      {"tmp/tmp_datafile.1\\..\\x", false},
      {"tmp/tmp_datafile.1\n2", false},
      {"tmp/../tmp/tmp_datafile.1.2", false},
      {"client/../tmp/tmp_datafile.1.2", false},
      {"../tmp/tmp_datafile.1.2", false},
      {"users/tmp_datafile.1.2", false},
      {"tmp_datafile.1.2", false},
      {"..", false},
  };
  for (const Case& c : cases) EXPECT_EQ(hidedatafile_path(c.value).has_value(), c.accepted) << c.value;
  EXPECT_EQ(hidedatafile_path("tmp/tmp_datafile.1.2"), tmp("tmp_datafile.1.2"));
  EXPECT_EQ(hidedatafile_value(tmp("tmp_datafile.1.2")), "tmp/tmp_datafile.1.2");
  EXPECT_EQ(hidedatafile_value("/elsewhere/tmp_datafile.1.2"), "/elsewhere/tmp_datafile.1.2");
  const std::string home = reqctx().nvhome;
  reqctx().nvhome = home + "/";
  EXPECT_EQ(hidedatafile_value(tmp("tmp_datafile.1.2")), "tmp/tmp_datafile.1.2");
  EXPECT_EQ(hidedatafile_path("tmp/tmp_datafile.1.2"), home + "//tmp/tmp_datafile.1.2");
  // A home named with a ".." part still has its scratch files.
  reqctx().nvhome = home + "/client/..";
  EXPECT_EQ(hidedatafile_path(home + "/client/../tmp/tmp_datafile.1.2"), home + "/client/../tmp/tmp_datafile.1.2");
  EXPECT_FALSE(hidedatafile_path(home + "/client/../tmp/../tmp/tmp_datafile.1.2"));
  reqctx().nvhome = home;
  reqctx().nvhome.clear();
  EXPECT_FALSE(hidedatafile_path(tmp("tmp_datafile.1.2")));
}

// A scratch file a request names is taken only when it is the request's
// own: its owner file names the request's login, or, without a login, it
// has none. Owner files and this request's uploads are never taken.
TEST_F(Files, HidedatafileIsTheRequestsOwn) {
  const std::string ann = home_.write("tmp/tmp_datafile.1.1", "x^$");
  home_.write("tmp/tmp_datafile.1.1.owner", "ann\n");
  const std::string bob = home_.write("tmp/tmp_datafile.2.2", "x^$");
  home_.write("tmp/tmp_datafile.2.2.owner", "bob\n");
  const std::string nobody = home_.write("tmp/tmp_datafile.3.3", "x^$");
  const std::string reader = home_.write("tmp/out.4.5.0", "x^$");
  home_.write("tmp/out.4.5.0.owner", "ann\n");
  const std::string linked = home_.write("tmp/tmp_datafile.6.6", "x^$");
  fs::create_symlink(home_.path() / "tmp/tmp_datafile.1.1.owner", linked + ".owner");
  const std::string upload = home_.write("tmp/tmp_datafile.7.7", "x^$");
  reqctx().uploads.push_back(upload);
  const std::string outside = home_.write("users/tmp_datafile.8.8", "x^$");
  home_.write("users/tmp_datafile.8.8.owner", "ann\n");
  struct Case {
    const char* what;
    std::string path;
    std::optional<std::string> login;
    bool accepted;
  } cases[] = {
      {"the login's own file", ann, "ann", true},
      {"the login's own reader result", reader, "ann", true},
      {"a login taken up to its first /", ann, "ann/DOMAIN", true},
      {"another login's file", bob, "ann", false},
      {"a login's file for a request without one", ann, std::nullopt, false},
      {"an ownerless file with a login", nobody, "ann", false},
      {"an ownerless file without a login", nobody, std::nullopt, true},
      {"an owner file", ann + ".owner", "ann", false},
      {"an owner file that is a link", linked, "ann", false},
      {"this request's upload", upload, std::nullopt, false},
      {"a file outside tmp", outside, "ann", false},
      {"the login's own file by its relative path", "tmp/tmp_datafile.1.1", "ann", true},
      {"another login's file by its relative path", "tmp/tmp_datafile.2.2", "ann", false},
      {"an ownerless file by its relative path, with a login", "tmp/tmp_datafile.3.3", "ann", false},
      {"an owner file by its relative path", "tmp/tmp_datafile.1.1.owner", "ann", false},
      {"this request's upload by its relative path", "tmp/tmp_datafile.7.7", std::nullopt, false},
      {"a file outside tmp by its relative path", "users/tmp_datafile.8.8", "ann", false},
  };
  for (const Case& c : cases) {
    reqctx().remote_user = c.login;
    EXPECT_EQ(hidedatafile_path(c.path).has_value(), c.accepted) << c.what;
  }
  // Removing one: the request's own with its owner file; another's stays.
  reqctx().remote_user = "ann";
  remove_tmpdatafile("tmp/tmp_datafile.2.2");
  remove_tmpdatafile("tmp/tmp_datafile.1.1");
  EXPECT_FALSE(fs::exists(ann));
  EXPECT_FALSE(fs::exists(ann + ".owner"));
  EXPECT_TRUE(fs::exists(bob));
  EXPECT_TRUE(fs::exists(bob + ".owner"));
}

// The scratch data file of a find or a selection is bound to the request:
// its owner file names the login, and a request without one leaves none.
TEST_F(Files, ScratchFilesAreWrittenWithTheirOwners) {
  reqctx().remote_user = "ann";
  const written_file a = write_tmpdatafile("k^$v^$");
  ASSERT_TRUE(a.written);
  EXPECT_EQ(kivtest::read_file(a.path), "k^$v^$");
  EXPECT_EQ(kivtest::read_file(a.path + ".owner"), "ann\n");
  EXPECT_EQ(mode_of(a.path + ".owner"), 0600u);
  EXPECT_EQ(hidedatafile_path(a.path), a.path);
  EXPECT_EQ(hidedatafile_path(hidedatafile_value(a.path)), a.path);
  reqctx().remote_user.reset();
  const written_file b = write_tmpdatafile("k^$");
  ASSERT_TRUE(b.written);
  EXPECT_FALSE(fs::exists(b.path + ".owner"));
  EXPECT_EQ(hidedatafile_path(b.path), b.path);
  // A stale owner file at the name of a new file goes.
  home_.write("tmp/stale.owner", "bob\n");
  EXPECT_TRUE(write_ownerfile(tmp("stale")));
  EXPECT_FALSE(fs::exists(tmp("stale.owner")));
  // Without a tmp folder nothing is left behind.
  fs::remove_all(home_.path() / "tmp");
  EXPECT_FALSE(write_tmpdatafile("k^$").written);
}

// The sweep of old scratch files: a day's files go with their owner files;
// younger files, links, other files of tmp and the object-file backups stay;
// the folder is looked through at most once an hour.
TEST_F(Files, OldScratchFilesAreSwept) {
  const auto aged = [&](const std::string& name, int hours) {
    const std::string p = home_.write("tmp/" + name, "x");
    fs::last_write_time(p, fs::file_time_type::clock::now() - std::chrono::hours(hours));
    return p;
  };
  for (const char* old : {"tmp_datafile.1.1", "tmp_datafile.1.1.owner", "out.2.3.0", "chartfile.4", "chartfile.4.1"})
    aged(old, 25);
  aged("tmp_datafile.5.5", 25);
  aged("tmp_datafile.5.5.owner", 1);  // goes with its file, whatever its age
  for (const char* kept : {"tmp_datafile.6.6", "tmp_datafile.6.6.owner", "out.7.8.0", "chartfile.9"}) aged(kept, 23);
  for (const char* other : {"ce_obj.1700000000", "tk_obj.1700000000", "odbcfile.1.2", "export.9", "attach1.9"})
    aged(other, 25);
  const std::string target = aged("target", 25);
  fs::create_symlink(target, tmp("tmp_datafile.10.10"));
  fs::create_directory(tmp("chartfile.11"));
  EXPECT_EQ(sweep_scratchfiles(), 7);
  EXPECT_EQ(kivtest::entries(home_.str() + "/tmp"),
            (std::vector<std::string>{".scratch-swept", "attach1.9", "ce_obj.1700000000", "chartfile.11",
                                      "chartfile.9", "export.9", "odbcfile.1.2", "out.7.8.0", "target",
                                      "tk_obj.1700000000", "tmp_datafile.10.10", "tmp_datafile.6.6",
                                      "tmp_datafile.6.6.owner"}));
  // Looked through lately: an old file waits for the next hour's sweep.
  aged("tmp_datafile.12.12", 25);
  EXPECT_EQ(sweep_scratchfiles(), 0);
  fs::last_write_time(tmp(".scratch-swept"), fs::file_time_type::clock::now() - std::chrono::minutes(61));
  EXPECT_EQ(sweep_scratchfiles(), 1);
  // Making a scratch file sweeps.
  aged("tmp_datafile.13.13", 25);
  fs::remove(tmp(".scratch-swept"));
  ASSERT_TRUE(write_tmpdatafile("k^$").written);
  EXPECT_FALSE(fs::exists(tmp("tmp_datafile.13.13")));
}

TEST_F(Files, StatFile) {
  EXPECT_EQ(statfile(home_.str()), 0);
  EXPECT_NE(statfile(tmp("none")), 0);
}

TEST_F(Files, ReadWholeFiles) {
  std::string path = home_.write("data", std::string("a^@b^$\0tail", 11));
  EXPECT_EQ(up_readfile(path), "a^@b^$");
  EXPECT_EQ(up_readfile(home_.write("empty", "")), "");
  EXPECT_EQ(page(), "");
  EXPECT_FALSE(up_readfile(tmp("none")));
  EXPECT_EQ(page(), "<PRE>\nup_readfile: can't stat '" + tmp("none") + "' errno=2\n</PRE>\n");
}

TEST_F(Files, ShortReadFailsOnlyInTheLinuxFlavour) {
  // A folder has a size but gives no bytes.
  set_platform(Platform::windows);
  EXPECT_EQ(up_readfile(home_.str()), "");
  set_platform(Platform::linux);
  clear_output();
  EXPECT_FALSE(up_readfile(home_.str()));
  EXPECT_EQ(page(), "<PRE>\nup_readfile: read error for '" + home_.str() + "' errno=21\n</PRE>\n");
}

TEST_F(Files, WriteWholeFiles) {
  std::string path = home_.write("f", "a much longer old content");
  ::chmod(path.c_str(), 0640);
  EXPECT_EQ(up_writefile(path, "new"), 0);
  EXPECT_EQ(kivtest::read_file(path), "new");
  EXPECT_EQ(mode_of(path), 0640u);  // a replaced file keeps its mode
  EXPECT_EQ(up_writefile(tmp("new"), "x"), 0);
  EXPECT_EQ(mode_of(tmp("new")), 0600u);  // a new one is the user's only
  EXPECT_EQ(up_writefile(home_.str() + "/no/such/file", "x"), -1);
  EXPECT_EQ(page(), "<PRE>\nCannot open file <" + home_.str() + "/no/such/file> errno=2 \n</PRE>\n");
  // Only files are written: a device or a folder at the path is refused.
  clear_output();
  EXPECT_EQ(up_writefile("/dev/full", "text"), -1);
  EXPECT_EQ(up_writefile(home_.str(), "text"), -1);
  EXPECT_EQ(page(), "<PRE>\nCannot open file </dev/full> errno=22 \n</PRE>\n<PRE>\nCannot open file <" +
                        home_.str() + "> errno=21 \n</PRE>\n");
}

TEST_F(Files, WritesNeverFollowLinksNorWriteInPlace) {
  // A link planted at a scratch file's name is refused, its target untouched;
  // a second name of the file keeps the old text (the file is replaced, not
  // rewritten in place), so a reader never sees half a text.
  const std::string target = home_.write("target", "precious");
  fs::create_symlink(target, tmp("tmp_datafile.1.2"));
  EXPECT_EQ(up_writefile(tmp("tmp_datafile.1.2"), "data"), -1);
  EXPECT_EQ(page(), "<PRE>\nCannot open file <" + tmp("tmp_datafile.1.2") + "> errno=40 \n</PRE>\n");
  EXPECT_EQ(kivtest::read_file(target), "precious");
  std::string templ = home_.write("export.html", "<title>t</title>\nTB{\n");
  fs::create_symlink(target, tmp("export.7"));
  EXPECT_EQ(fixexportform(templ, tmp("export.7")), -1);
  EXPECT_EQ(kivtest::read_file(target), "precious");
  EXPECT_TRUE(fs::is_symlink(tmp("export.7")));

  const std::string file = home_.write("shared", "old text");
  fs::create_hard_link(file, home_.path() / "second");
  EXPECT_EQ(up_writefile(file, "new text"), 0);
  EXPECT_EQ(kivtest::read_file(file), "new text");
  EXPECT_EQ(kivtest::read_file(home_.str() + "/second"), "old text");
  EXPECT_EQ(fixexportform(templ, tmp("export.8")), 0);
  EXPECT_EQ(mode_of(tmp("export.8")), 0600u);
}

TEST_F(Files, AWriteThatDoesNotReachTheDiskIsAFailure) {
  const std::string path = home_.write("f", "old");
  auto under_a_limit = [&] {
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit small{};
    getrlimit(RLIMIT_FSIZE, &small);
    small.rlim_cur = 16;
    setrlimit(RLIMIT_FSIZE, &small);
    const int r = up_writefile(path, std::string(100, 'x'));
    const bool said = page() == "<PRE>\nCannot write file <" + path + "> errno=27 \n</PRE>\n";
    const bool kept = kivtest::read_file(path) == "old";
    const bool tidy = std::distance(fs::directory_iterator(home_.path()), fs::directory_iterator()) == 2;
    _exit(r == -1 && said && kept && tidy ? 0 : 3);
  };
  EXPECT_EXIT(under_a_limit(), ::testing::ExitedWithCode(0), "");
}

TEST_F(Files, ExportCopyMovesTheTitleAfterTheTable) {
  struct Case {
    const char* what;
    const char* templ;
    const char* copy;
  } cases[] = {
      {"the title follows the first table line, then an empty line",
       "<html>\n<title>Case MB{case_num.VALUE}ME</title>\n<body>\nTB{TNB{findresult}TNE\nCB{x}CE\n}TE\nTB{\n</body>\n",
       "<html>\n<body>\nTB{TNB{findresult}TNE\n<title>Case MB{case_num.VALUE}ME</title>\n\nCB{x}CE\n}TE\nTB{\n</body>\n"},
      {"without a table the title is gone", "<title>t</title>\n<p>x</p>\n", "<p>x</p>\n"},
      {"a later title replaces an earlier one; one after the table is dropped",
       "<title>a</title>\n<title>b</title>\nTB{\n<title>c</title>\nend\n", "TB{\n<title>b</title>\n\nend\n"},
      {"without a title the table line gets an empty line", "TB{\nx\n", "TB{\n\nx\n"},
  };
  for (const Case& c : cases) {
    std::string templ = home_.write("export.html", c.templ);
    std::string copy = tmp("export.1");
    EXPECT_EQ(fixexportform(templ, copy), 0) << c.what;
    EXPECT_EQ(kivtest::read_file(copy), c.copy) << c.what;
  }
}

TEST_F(Files, ExportCopyFailures) {
  std::string templ = home_.write("export.html", "TB{\n");
  EXPECT_EQ(fixexportform("", tmp("export.1")), -1);
  EXPECT_EQ(fixexportform(templ, ""), -1);
  EXPECT_EQ(fixexportform(templ, home_.str() + "/no/such/copy"), -1);
  // A template that cannot be read leaves no empty copy behind, so that the
  // page printed from the copy reports a missing template.
  EXPECT_EQ(fixexportform(home_.str() + "/none.html", tmp("export.2")), -1);
  EXPECT_FALSE(fs::exists(tmp("export.2")));
  EXPECT_EQ(page(), "");  // the reasons are traced only
}

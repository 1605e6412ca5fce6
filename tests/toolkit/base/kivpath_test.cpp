// Path-part checks, the atomic rewrite and the sweep of stale files.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "support/testsupport.h"
#include "toolkit/base/kivpath.h"

using namespace kiv;

TEST(Path, SafeNames) {
  for (const char* ok : {"alice", "case.12", "a b", "x..y-not"}) {
    if (std::string_view(ok).find("..") != std::string_view::npos) continue;
    EXPECT_TRUE(safe_name(ok)) << ok;
  }
  for (const char* bad : {"", "a/b", "a\\b", "..", "../x", "a..b", ".hidden", "a\nb", "a\x7f"})
    EXPECT_FALSE(safe_name(bad)) << bad;
  EXPECT_TRUE(safe_name(".hidden", true));
}

TEST(Path, LexicalNormal) {
  struct Case {
    const char* path;
    const char* normal;
  } cases[] = {
      {"", ""},
      {"/", "/"},
      {"///", "/"},  // a root of many slashes is one
      {"//a", "/a"},
      {"a//b", "a/b"},
      {"/home//tmp///x", "/home/tmp/x"},
      {"a/b/", "a/b/"},  // a trailing slash stays after a name
      {"a/b//", "a/b/"},
      {".", "."},
      {"./", "."},
      {"./a", "a"},
      {"a/.", "a/"},  // a dropped "." leaves the slash before it
      {"a/./b/.", "a/b/"},
      {"/home/./tmp", "/home/tmp"},
      {"a/..", "."},
      {"a/../", "."},
      {"a/b/..", "a/"},  // so does a removed pair
      {"/home/tmp/../etc/passwd", "/home/etc/passwd"},
      {"/..", "/"},  // nothing lies above the root
      {"/../a", "/a"},
      {"/a/b/../../..", "/"},
      {"..", ".."},
      {"../..", "../.."},
      {"../", ".."},  // never a slash after ".."
      {"../.", ".."},
      {"a/../..", ".."},
      {"a/b/../../../c", "../c"},
      {"../a/..", ".."},
      {".../a", ".../a"},  // three dots are a name
      {"a/.../..", "a/"},
      {"..a/b", "..a/b"},
      {"tmp/x", "tmp/x"},
  };
  for (const Case& c : cases) EXPECT_EQ(lexical_normal(c.path), c.normal) << c.path;
}

// Every path of up to five parts among names, ".", "..", "..." and empty
// parts (repeated slashes), relative and under the root, normalises as the
// standard library does; it alone keeps a path of slashes only as it is.
TEST(Path, LexicalNormalAgreesWithTheStandardLibrary) {
  const std::string parts[] = {"a", "b", ".", "..", "", "..."};
  std::vector<std::string> level{""}, paths;
  for (int length = 1; length <= 5; ++length) {
    std::vector<std::string> next;
    for (const std::string& head : level)
      for (const std::string& part : parts) next.push_back(length == 1 ? part : head + "/" + part);
    for (const std::string& p : next) {
      paths.push_back(p);
      paths.push_back("/" + p);
    }
    level = std::move(next);
  }
  for (const std::string& p : paths) {
    if (p.find_first_not_of('/') == std::string::npos) continue;
    ASSERT_EQ(lexical_normal(p), std::filesystem::path(p).lexically_normal().string()) << p;
  }
}

TEST(Path, Under) {
  struct Case {
    const char* folder;
    const char* path;
    bool under;
  } cases[] = {
      {"/home/tmp", "/home/tmp/a", true},
      {"/home/tmp/", "/home/tmp/a/b", true},
      {"/home/tmp//", "/home/tmp/a", true},
      {"/home/tmp", "/home/tmp", true},
      {"/home/tmp", "/home/tmp/", true},
      {"/home/tmp", "/home//tmp/./a", true},
      {"/home/./tmp", "/home/tmp/a", true},
      {"/home/tmp", "/home/tmp/a/../b", true},
      {"/home/x/../tmp", "/home/tmp/a", true},
      {"/", "/etc", true},
      {"tmp", "tmp/a", true},  // relative paths compare as they stand
      {"./tmp", "tmp/a", true},
      {"/home/tmp", "/home/tmpx/a", false},
      {"/home/tmp", "/home/tmp/../etc/passwd", false},
      {"/home/tmp", "/home/tmp/a/../../etc", false},
      {"/home/tmp", "/home/tmp/..", false},
      {"/home/tmp", "/etc", false},
      {"/home/tmp", "/home", false},
      {"/home/tmp", "tmp/a", false},
      {"tmp", "/tmp/a", false},
      {"tmp", "tmp/../a", false},
      {"tmp", "../tmp/a", false},
  };
  for (const Case& c : cases) EXPECT_EQ(path_under(c.folder, c.path), c.under) << c.folder << " " << c.path;
}

TEST(Path, AtomicRewrite) {
  kivtest::TempDir d;
  std::string p = d.write("f", "old");
  ASSERT_TRUE(write_file_atomic(p, "new content"));
  EXPECT_EQ(kivtest::read_file(p), "new content");
  std::string err;
  EXPECT_FALSE(write_file_atomic(d.str() + "/missing/f", "x", &err));
  EXPECT_NE(err.find("cannot create temporary file"), std::string::npos);
  // Nothing but the file itself is left beside it.
  int n = 0;
  for (auto& e : std::filesystem::directory_iterator(d.path())) (void)e, ++n;
  EXPECT_EQ(n, 1);
}

TEST(Path, AtomicCreateNeverReplaces) {
  // Without `replace` the file is made only where nothing stands: an
  // existing file, and a link even to nowhere, stay as they are.
  kivtest::TempDir d;
  std::string file = d.write("f", "old");
  std::filesystem::create_symlink(d.str() + "/nowhere", d.str() + "/link");
  for (const std::string& p : {file, d.str() + "/link"}) {
    errno = 0;
    AtomicWritten w = write_file_atomic(p, "new", nullptr, {.replace = false});
    EXPECT_FALSE(w) << p;
    EXPECT_EQ(errno, EEXIST) << p;
    EXPECT_TRUE(w.created && !w.in_place) << p;
  }
  EXPECT_EQ(kivtest::read_file(file), "old");
  EXPECT_FALSE(std::filesystem::exists(d.str() + "/nowhere"));
  ASSERT_TRUE(write_file_atomic(d.str() + "/g", "made", nullptr, {.new_mode = 0600, .replace = false}));
  EXPECT_EQ(kivtest::read_file(d.str() + "/g"), "made");
  EXPECT_EQ(std::filesystem::status(d.str() + "/g").permissions(), std::filesystem::perms(0600));
  // Nothing but the three entries is left.
  int n = 0;
  for (auto& e : std::filesystem::directory_iterator(d.path())) (void)e, ++n;
  EXPECT_EQ(n, 3);
}

namespace {

// Makes a file (or what a link names) look `hours` old.
void age(const std::string& path, int hours) {
  std::filesystem::last_write_time(path, std::filesystem::file_time_type::clock::now() - std::chrono::hours(hours));
}

}  // namespace

// A killed writer's leftovers go: only regular files of the writer's prefix
// older than the age, never a link (nor what it names), a folder, a fresh
// file, or a file of another name.
TEST(Path, StaleFilesOfAKilledWriter) {
  namespace fs = std::filesystem;
  kivtest::TempDir d;
  const std::string f = d.str() + "/config";
  for (const char* name : {"case_num.tmpAAAAAA", "case_num", "tk_obj.tmpBBBBBB"})
    age(d.write(std::string("config/") + name, "x"), 2);
  d.write("config/case_num.tmpCCCCCC", "fresh");
  fs::create_directory(f + "/case_num.tmpdir");
  age(f + "/case_num.tmpdir", 2);
  const std::string victim = d.write("victim", "keep");
  age(victim, 2);
  fs::create_symlink(victim, f + "/case_num.tmplink");
  EXPECT_EQ(remove_stale_files(f, "case_num.tmp", kStaleFileAge), 1);
  EXPECT_EQ(kivtest::entries(f), (std::vector<std::string>{"case_num", "case_num.tmpCCCCCC", "case_num.tmpdir",
                                                           "case_num.tmplink", "tk_obj.tmpBBBBBB"}));
  EXPECT_EQ(kivtest::read_file(victim), "keep");
  EXPECT_EQ(remove_stale_files(d.str() + "/missing", "case_num.tmp", kStaleFileAge), 0);
}

// With a marker, a folder is looked through at most once per age.
TEST(Path, StaleFilesAtMostOncePerAgeWithAMarker) {
  namespace fs = std::filesystem;
  kivtest::TempDir d;
  const std::string tmp = d.str() + "/tmp";
  age(d.write("tmp/odbcfile.1.2", ""), 2);
  EXPECT_EQ(remove_stale_files(tmp, "odbcfile.", kStaleFileAge, ".swept"), 1);
  EXPECT_EQ(kivtest::entries(tmp), std::vector<std::string>{".swept"});
  age(d.write("tmp/odbcfile.3.4", ""), 2);
  EXPECT_EQ(remove_stale_files(tmp, "odbcfile.", kStaleFileAge, ".swept"), 0);  // swept lately
  age(tmp + "/.swept", 2);
  EXPECT_EQ(remove_stale_files(tmp, "odbcfile.", kStaleFileAge, ".swept"), 1);
  // A marker that is a link is not written through; the folder is swept all
  // the same.
  fs::remove(tmp + "/.swept");
  fs::create_symlink(d.str() + "/elsewhere", tmp + "/.swept");
  age(d.write("tmp/odbcfile.5.6", ""), 2);
  EXPECT_EQ(remove_stale_files(tmp, "odbcfile.", kStaleFileAge, ".swept"), 1);
  EXPECT_FALSE(fs::exists(d.str() + "/elsewhere"));
}

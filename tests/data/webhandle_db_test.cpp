// The driver results record: the key row, the bounded error text, the
// read-back of the scratch file and its failures, and the interface without
// a back end.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <sys/resource.h>
#include <unistd.h>

#include "data/dbdriver.h"
#include "data/webhandle_db.h"
#include "support/testsupport.h"
#include "toolkit/base/kivcontext.h"
#include "toolkit/base/kivsettings.h"

using namespace kiv;
namespace fs = std::filesystem;

namespace {


class DriverResultsTest : public kivtest::KivTest {
 protected:
  void SetUp() override {
    KivTest::SetUp();
    fs::create_directories(home_.path() / "tmp");
    reqctx().nvhome = home_.str();
  }
  kivtest::TempDir home_;
};

}  // namespace

TEST_F(DriverResultsTest, KeyRowLowerCasedOrKeptAndEnded) {
  initp();
  dollark();
  EXPECT_FALSE(driver_results().odbckey.has_value());
  for (const char* n : {"Id_Num", "^@", "", "TITLE", "^@"}) addk(n);
  dollark();
  EXPECT_EQ(driver_results().odbckey, "id_num^@title^$");
  initp();
  addk("CaseNo", KeyCase::keep);
  addk("^@", KeyCase::keep);
  dollark();
  EXPECT_EQ(driver_results().odbckey, "CaseNo^$");
  removeodbcfile();
}

TEST_F(DriverResultsTest, ScratchFileNamedByHomeTimeAndProcessAndReadBack) {
  driver_results().odbcdata = "old";
  initp();
  const std::string name = driver_results().odbcfilename;
  EXPECT_TRUE(name.starts_with(home_.str() + "/tmp/odbcfile."));
  EXPECT_TRUE(name.ends_with("." + std::to_string(::getpid())));
  EXPECT_FALSE(driver_results().odbcdata.has_value());
  EXPECT_EQ(addd(""), -1);
  EXPECT_EQ(addd("a"), 0);
  addd("^@");
  // A value longer than the stream's buffer: the rows are read back whole
  // after part of them went out before the rest.
  const std::string big(70000, 'v');
  addd(big);
  dollard();
  addd("z");
  dollard();
  ASSERT_TRUE(readback_odbcfile());
  EXPECT_EQ(driver_results().odbcdata, "a^@" + big + "^$z^$");
  EXPECT_FALSE(fs::exists(name));
  EXPECT_FALSE(driver_results().odbcfilep);
}

// A describe's row stays in memory: no file is made, so a tmp folder that
// cannot take one does not stop it.
TEST_F(DriverResultsTest, RowsInMemoryNeedNoScratchFile) {
  fs::remove_all(home_.path() / "tmp");
  driver_results().odbcdata = "old";
  initp(CallRows::in_memory);
  EXPECT_FALSE(driver_results().odbcdata.has_value());
  EXPECT_EQ(driver_results().odbcfilename, "");
  addd("INT");
  addd("^@");
  addd("CHAR");
  dollard();
  ASSERT_TRUE(readback_odbcfile());
  EXPECT_EQ(driver_results().odbcdata, "INT^@CHAR^$");
  // The next call with rows writes its own file again.
  fs::create_directories(home_.path() / "tmp");
  initp();
  addd("1");
  dollard();
  ASSERT_TRUE(readback_odbcfile());
  EXPECT_EQ(driver_results().odbcdata, "1^$");
  EXPECT_EQ(kivtest::entries(home_.str() + "/tmp"), std::vector<std::string>{});
}

// Rows that do not all reach the scratch file (here a file size limit) are
// no result: the call says why in odbcerror and leaves no file behind.
TEST_F(DriverResultsTest, RowsThatCannotBeWrittenAreReportedAndTheFileGoes) {
  auto under_a_limit = [&] {
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit small{};
    getrlimit(RLIMIT_FSIZE, &small);
    small.rlim_cur = 1000;
    setrlimit(RLIMIT_FSIZE, &small);
    initp();
    const std::string name = driver_results().odbcfilename;
    addd(std::string(5000, 'x'));  // held in the stream until the read-back
    dollard();
    const bool read = readback_odbcfile();
    const bool said = driver_results().odbcerror == "Cannot write tmp file '" + name + "'. errno=27\n";
    const bool none = !driver_results().odbcdata.has_value();
    const bool tidy = kivtest::entries(home_.str() + "/tmp") == std::vector<std::string>{std::string(kOdbcSweepMarker)};
    _exit(!read && said && none && tidy ? 0 : 3);
  };
  EXPECT_EXIT(under_a_limit(), ::testing::ExitedWithCode(0), "");
}

// The scratch files of calls that were killed: the next call clears those
// an hour old (regular files only, never through a link), looking through
// tmp at most once an hour.
TEST_F(DriverResultsTest, StaleScratchFilesOfKilledCallsGo) {
  auto aged = [](const std::string& p) {
    fs::last_write_time(p, fs::file_time_type::clock::now() - std::chrono::hours(2));
  };
  aged(home_.write("tmp/odbcfile.1700000000.4242", ""));
  home_.write("tmp/odbcfile.1800000000.4343", "a call under way");
  aged(home_.write("tmp/tmp_datafile.1.2", "another writer's"));
  const std::string victim = home_.write("victim", "keep");
  aged(victim);
  fs::create_symlink(victim, home_.str() + "/tmp/odbcfile.link");
  initp();
  const std::string own = fs::path(driver_results().odbcfilename).filename().string();
  std::vector<std::string> left{std::string(kOdbcSweepMarker), "odbcfile.1800000000.4343", "odbcfile.link", own,
                                "tmp_datafile.1.2"};
  std::sort(left.begin(), left.end());
  EXPECT_EQ(kivtest::entries(home_.str() + "/tmp"), left);
  EXPECT_EQ(kivtest::read_file(victim), "keep");
  removeodbcfile();
  // Swept lately: the next calls in the hour do not look.
  aged(home_.write("tmp/odbcfile.1700000001.4444", ""));
  initp();
  removeodbcfile();
  EXPECT_TRUE(fs::exists(home_.str() + "/tmp/odbcfile.1700000001.4444"));
}

TEST_F(DriverResultsTest, ErrorTextIsBounded) {
  initp();
  adderror(std::string(5000, 'a'));
  adderror(std::string(500, 'b'));
  adderror("more");
  EXPECT_EQ(driver_results().odbcerror.size(), kOdbcErrorSize - 1);
  EXPECT_EQ(driver_results().odbcerror.substr(5000), std::string(kOdbcErrorSize - 1 - 5000, 'b'));
  initp();
  EXPECT_EQ(driver_results().odbcerror, "");
  removeodbcfile();
}

TEST_F(DriverResultsTest, ReadodbcfileFailures) {
  std::string missing = home_.str() + "/none";
  EXPECT_FALSE(readodbcfile(missing).has_value());
  EXPECT_EQ(page(), "<PRE>\nreadodbcfile: can't stat '" + missing + "' errno=2\n</PRE>\n");
  EXPECT_EQ(readodbcfile(home_.write("data", "x^$")), "x^$");
}

TEST_F(DriverResultsTest, LinuxFlavourWithoutBackEndRunsNothing) {
  set_platform(Platform::linux);
  driver_results().odbcdata = "stale";
  EXPECT_EQ(driver_for(Platform::linux), nullptr);
  EXPECT_EQ(kivodbcexec(nullptr, 0, "db", "select 1"), -1);
  EXPECT_FALSE(driver_results().odbcdata.has_value());
  EXPECT_EQ(driver_results().odbcerror, "No database driver in this program\n");
  EXPECT_EQ(kivodbcinfo(nullptr, 0, "db", "select 1"), -1);
  EXPECT_EQ(driver_for(Platform::windows), &odbc_driver());
}

// The home-folder lookup: environment, registry keys, home lists.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include "platform/exit.h"
#include "support/testsupport.h"
#include "toolkit/base/kivcontext.h"
#include "toolkit/cgi/ntproducts.h"
#include "toolkit/cgi/registry.h"
#include "toolkit/security/security.h"

using namespace kiv;
using kivtest::ScopedEnv;
using kivtest::TempDir;

namespace {

class Home : public kivtest::KivTest {
 protected:
  void registry(const std::string& text) {
    reg_env_.emplace("KIV_REGISTRY_FILE", dir_.write("registry.txt", text));
  }
  TempDir dir_;
  std::optional<ScopedEnv> reg_env_;
  ScopedEnv nvhome_{"NVHOME", std::nullopt};
};

}  // namespace

TEST_F(Home, Getscript) {
  {
    ScopedEnv s("SCRIPT_NAME", "/cgi-bin/up.exe");
    EXPECT_EQ(getscript(), "up.exe");
  }
  {
    ScopedEnv s("SCRIPT_NAME", "up");
    EXPECT_EQ(getscript(), "up");
  }
  ScopedEnv s("SCRIPT_NAME", "");
  EXPECT_EQ(getscript(), std::nullopt);
}

TEST_F(Home, RegistryValuesLastMatchWinsKeysIgnoreCase) {
  registry(
      "SOFTWARE\\KIV\\up\\NVHOME=C:\\first\n"
      "software\\kiv\\UP\\NVHOME=C:\\second\r\n"
      "SOFTWARE\\KIV\\up\\PROG_STATES=kepa_states\n"
      "SOFTWARE\\KIV\\up\\nvhome=lower case name does not match\n"
      "not a registry line\n");
  EXPECT_EQ(getregentry("SOFTWARE\\KIV\\up"), "C:\\second");
  EXPECT_EQ(getregvalue("SOFTWARE\\KIV\\up", "PROG_STATES"), "kepa_states");
  EXPECT_EQ(getregvalue("SOFTWARE\\KIV\\up", "MISSING"), std::nullopt);
  EXPECT_EQ(getregentry("SOFTWARE\\KIV\\other"), std::nullopt);
}

TEST_F(Home, NoRegistryFileFindsNothing) {
  ScopedEnv r("KIV_REGISTRY_FILE", std::nullopt);
  EXPECT_EQ(getregentry("SOFTWARE\\KIV\\TIKLO\\Current"), std::nullopt);
  EXPECT_EQ(getnvhome(""), std::nullopt);
}

TEST_F(Home, OverlongValueNameIsReportedAndSkipped) {
  registry("SOFTWARE\\KIV\\up\\" + std::string(130, 'N') + "=x\nSOFTWARE\\KIV\\up\\NVHOME=/h\n");
  EXPECT_EQ(getregentry("SOFTWARE\\KIV\\up"), "/h");
  EXPECT_EQ(page(), "getregentry: Not enough Resources \n");
}

TEST_F(Home, NvhomeFromEnvironmentWins) {
  registry("SOFTWARE\\KIV\\TIKLO\\Current\\NVHOME=/reg\n");
  ScopedEnv e("NVHOME", "/env/home");
  EXPECT_EQ(getnvhome(""), "/env/home");
}

TEST_F(Home, NvhomeFromRegistryIsSlashedAndSetsNothing) {
  registry("SOFTWARE\\KIV\\TIKLO\\Current\\NVHOME=c:\\kiv\\home\n");
  EXPECT_EQ(getnvhome(""), "c:/kiv/home");
  EXPECT_EQ(getenv("NVHOME"), nullptr);  // the dispatcher publishes the home it keeps
}

TEST_F(Home, PickhomeByDigitBeforeTheLastPoint) {
  const std::string list = "/a;/b;/c";
  struct Case {
    const char* script;
    std::string want;
  } cases[] = {
      {"/cgi-bin/up1.exe", "/b"},  {"/cgi-bin/up2.exe", "/c"}, {"/cgi-bin/up0.exe", "/a"},
      {"/cgi-bin/up.exe", "/a"},   {"/cgi-bin/up9.exe", "/a"},  // past the end: the first
      {"/cgi-bin/up", list},       {"", list},
  };
  for (auto& c : cases) {
    ScopedEnv s("SCRIPT_NAME", c.script);
    EXPECT_EQ(pickhome(list), c.want) << c.script;
  }
  ScopedEnv s("SCRIPT_NAME", "up1.exe");
  EXPECT_EQ(pickhome(";/b"), ";/b");
}

TEST_F(Home, ProducthomeFromTheScriptKeyWithItsStateFile) {
  registry(
      "SOFTWARE\\KIV\\up1\\NVHOME=d:\\one;d:\\two\n"
      "SOFTWARE\\KIV\\up1\\PROG_STATES=kepa_states\n");
  ScopedEnv s("SCRIPT_NAME", "/cgi-bin/up1.exe");
  const producthome found = getproducthome();
  EXPECT_EQ(found.home, "d:/two");
  EXPECT_EQ(found.prog_states, "kepa_states");
  EXPECT_EQ(reqctx().nvhome, "");  // a lookup, not a setting
}

TEST_F(Home, ProducthomeFromEnvironmentStillReadsProgStates) {
  registry("SOFTWARE\\KIV\\up\\PROG_STATES=other_states\n");
  ScopedEnv e("NVHOME", "/env/home");
  ScopedEnv s("SCRIPT_NAME", "/cgi-bin/up.exe");
  const producthome found = getproducthome();
  EXPECT_EQ(found.home, "/env/home");
  EXPECT_EQ(found.prog_states, "other_states");
}

TEST_F(Home, ProducthomeFallsBackToTheVornaKey) {
  registry("SOFTWARE\\KIV\\VORNA\\Current\\NVHOME=/vorna\n");
  ScopedEnv s("SCRIPT_NAME", "/cgi-bin/up");
  EXPECT_EQ(getproducthome().home, "/vorna");
  EXPECT_EQ(getproducthome().prog_states, std::nullopt);
}

TEST_F(Home, NoHomeEndsWithStatusOne) {
  registry("");
  ScopedEnv s("SCRIPT_NAME", "/cgi-bin/up.exe");
  try {
    getproducthome();
    FAIL() << "expected an exit";
  } catch (const Exit& e) {
    EXPECT_EQ(e.status, 1);
  }
  EXPECT_EQ(errors(),
            "NVHOME is undefined in the Registry\n"
            "<br>Location:\\HKEY_LOCAL_MACHINE\\SOFTWARE\\KIV\\VORNA\\Current\n");
}

// Access refused: the registry file is unreadable for the process's user.
// Root reads every file, so the lookup runs in a child that gives up root.
TEST_F(Home, RegistryAccessDeniedEndsWithMinusOne) {
  registry("SOFTWARE\\KIV\\up\\NVHOME=/h\n");
  std::filesystem::permissions(dir_.path() / "registry.txt", std::filesystem::perms::none);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    if (geteuid() == 0 && setuid(65534) != 0) _exit(3);
    kiv::StringSink sink;
    kiv::set_out(&sink);
    try {
      getregentry("SOFTWARE\\KIV\\up");
    } catch (const Exit& e) {
      _exit(e.status == -1 && sink.text() == "getregentry:permission denied\n" ? 0 : 4);
    }
    _exit(5);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(Home, RegistryValuesEndAtNul) {
  registry(std::string("SOFTWARE\\KIV\\TIKLO\\Current\\NVHOME=/a\0b\n", 40));
  EXPECT_EQ(getnvhome(""), "/a");
}

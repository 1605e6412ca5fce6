// The chart settings save through the frame: the three values of the form
// land in ce_obj (and only there), the page shows them escaped from ce_obj,
// a blank value stops before anything is written, and a missing ce_obj is
// created by the save.
#include "admintest.h"

using namespace kiv;
using namespace admintest;

namespace {

constexpr const char* kChartsPage =
    "dir=FB{pictmpdir.VALUE}FE web=FB{pref_pictmpdir.VALUE}FE link=FB{link_program.VALUE}FE "
    "tk=FB{tkonly.VALUE}FE\n";

class ChartSettings : public AdminTest {
 protected:
  void SetUp() override {
    AdminTest::SetUp();
    write("client/kivhtml/admin/charts.html", kChartsPage);
    write("client/config/ce_obj", object("pictmpdir", "tmp/charts") + object("link_program", "/cgi-bin/kepa.cgi"));
  }

  Ended save(const std::vector<std::pair<std::string, std::string>>& fields) {
    exlist request;
    for (const auto& [name, value] : fields) addexdatanode(&request, formexdatanode(name, value));
    return run("mod_chartssettings", &request, "charts.html");
  }
};

}  // namespace

TEST_F(ChartSettings, SavedIntoCeObjAloneAndShownEscaped) {
  const std::string tk = read("client/config/tk_obj");
  EXPECT_EQ(save({{"pictmpdir.VALUE", "/srv/charts"},
                  {"pref_pictmpdir.VALUE", "/pics/\"x\""},
                  {"link_program.VALUE", "/cgi-bin/kepa.cgi?a=<b>"}}),
            returned(0));
  EXPECT_EQ(page(), "dir=/srv/charts web=/pics/&#34;x&#34; link=/cgi-bin/kepa.cgi?a=&#60;b&#62; tk=\n");
  EXPECT_EQ(read("client/config/ce_obj"),
            "OBJECT{\n\tNAME=pictmpdir\n\tVALUE=/srv/charts\n};\n"
            "OBJECT{\n\tNAME=link_program\n\tVALUE=/cgi-bin/kepa.cgi?a=<b>\n};\n"
            "OBJECT{\n\tNAME=pref_pictmpdir\n\tVALUE=/pics/\"x\"\n};\n");
  EXPECT_EQ(read("client/config/tk_obj"), tk);
  std::vector<std::string> b = backups();
  ASSERT_EQ(b.size(), 1u);
  EXPECT_TRUE(b[0].starts_with("ce_obj.")) << b[0];
  EXPECT_EQ(read("tmp/" + b[0]), object("pictmpdir", "tmp/charts") + object("link_program", "/cgi-bin/kepa.cgi"));
}

// Each value is required; the first blank one (missing or empty) is named,
// and no file changes.
TEST_F(ChartSettings, ABlankValueStopsBeforeAnythingIsWritten) {
  struct Case {
    std::vector<std::pair<std::string, std::string>> fields;
    std::string message;
  } cases[] = {
      {{}, "Error:pictmpdir can't be blank\n"},
      {{{"pictmpdir.VALUE", ""}, {"pref_pictmpdir.VALUE", "/p/"}, {"link_program.VALUE", "l"}},
       "Error:pictmpdir can't be blank\n"},
      {{{"pictmpdir.VALUE", "d"}, {"link_program.VALUE", "l"}}, "Error:pref_pictmpdir can't be blank\n"},
      {{{"pictmpdir.VALUE", "d"}, {"pref_pictmpdir.VALUE", "/p/"}}, "Error:link_program can't be blank\n"},
  };
  auto before = tree();
  for (const Case& c : cases) {
    clear_output();
    EXPECT_EQ(save(c.fields), exited(0)) << c.message;
    EXPECT_NE(page().find(c.message), std::string::npos) << page();
    EXPECT_EQ(page().find("dir="), std::string::npos) << page();
    auto after = tree();
    std::erase_if(after, [](const auto& kv) { return kv.first.ends_with(".lock"); });
    EXPECT_EQ(after, before) << c.message;
  }
}

TEST_F(ChartSettings, AMissingCeObjIsCreated) {
  fs::remove(path("client/config/ce_obj"));
  EXPECT_EQ(save({{"pictmpdir.VALUE", "d"}, {"pref_pictmpdir.VALUE", "/p/"}, {"link_program.VALUE", "l"}}),
            returned(0));
  EXPECT_TRUE(page().starts_with("Cannot open object file")) << page();
  EXPECT_TRUE(page().ends_with("dir=d web=/p/ link=l tk=\n")) << page();
  EXPECT_EQ(read("client/config/ce_obj"), object("pictmpdir", "d") + object("pref_pictmpdir", "/p/") +
                                              object("link_program", "l"));
  EXPECT_TRUE(backups().empty());
}

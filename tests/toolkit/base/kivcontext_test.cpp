// The request context's publication into the environment, what the process
// inherited, the home a program starts with, and the uploads it removes when
// the request ends.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "platform/flavour.h"
#include "platform/state.h"
#include "support/testsupport.h"
#include "toolkit/base/kivcontext.h"
#include "toolkit/base/kiv_malloc.h"

using namespace kiv;
using kivtest::ScopedEnv;

namespace {

class Context : public kivtest::KivTest {
 protected:
  std::string env(const char* name) const {
    const char* v = std::getenv(name);
    return v ? v : "(unset)";
  }
  ScopedEnv action_{"KIVACTION", "from the web server"};
  ScopedEnv user_{"REMOTE_USER", "DOM\\ann"};
  ScopedEnv menutrig_{"MENUTRIG", std::nullopt};
};

}  // namespace

TEST_F(Context, PublishesFromTheContextInOneStep) {
  std::vector<std::string_view> names(published_names().begin(), published_names().end());
  EXPECT_EQ(names, (std::vector<std::string_view>{"NVHOME", "SCRIPT_NAME", "KIVTRACE_FILE", "KIVACTION", "login",
                                                  "REMOTE_USER", "MENUTRIG", "DATE", "skey", "PATH", "TODAY",
                                                  "TIME", "TIME24", "TEMPLATE_PATH"}));
  RequestContext& c = reqctx();
  c.action = "start";
  c.remote_user = "ann";
  EXPECT_EQ(env("KIVACTION"), "from the web server");  // nothing is written before the step
  EXPECT_EQ(request_env("KIVACTION"), "start");        // but templates see the request's
  publish_environment();
  EXPECT_EQ(env("KIVACTION"), "start");
  EXPECT_EQ(env("REMOTE_USER"), "ann");
  EXPECT_EQ(env("MENUTRIG"), "(unset)");  // the request has none
  // What the process inherited is never read back from what it published.
  EXPECT_EQ(inherited_env("KIVACTION"), "from the web server");
  EXPECT_EQ(inherited_env("REMOTE_USER"), "DOM\\ann");
  EXPECT_EQ(inherited_env("MENUTRIG"), std::nullopt);
  // A value the request no longer holds goes back to the inherited one.
  c.remote_user.reset();
  publish_environment();
  EXPECT_EQ(env("REMOTE_USER"), "DOM\\ann");
  EXPECT_EQ(request_env("REMOTE_USER"), "DOM\\ann");
}

TEST_F(Context, ResetPutsBackWhatTheRequestPublished) {
  reqctx().action = "start";
  reqctx().menutrig = "lab";
  publish_environment();
  ScopedEnv changed("MENUTRIG", "changed by the caller");
  reset_process_state();
  EXPECT_EQ(env("KIVACTION"), "from the web server");
  EXPECT_EQ(env("MENUTRIG"), "changed by the caller");  // not the request's any more: left alone
  EXPECT_EQ(reqctx().action, "");
}

// The home is set once at a program's start: NVHOME as inherited, else the
// program's fallback; a home found before (the dispatcher's lookup) stays,
// and a published NVHOME is never read back.
TEST_F(Context, HomeIsSetOnceAtTheStart) {
  struct Case {
    std::optional<std::string> inherited;
    std::string fallback, home;
  } cases[] = {
      {"/inherited", "/usr/local/norvale", "/inherited"},
      {std::nullopt, "/usr/local/norvale", "/usr/local/norvale"},
      {"", "c:/tiklo", "c:/tiklo"},
      {std::nullopt, "", ""},
  };
  for (const Case& c : cases) {
    reqctx().nvhome.clear();
    ScopedEnv home("NVHOME", c.inherited);
    EXPECT_EQ(start_home(c.fallback), c.home) << c.inherited.value_or("(unset)");
    EXPECT_EQ(reqctx().nvhome, c.home);
  }
  ScopedEnv home("NVHOME", "/inherited");
  reqctx().nvhome = "/found";
  publish_environment();
  EXPECT_EQ(start_home("/fallback"), "/found");
  reqctx().nvhome.clear();
  EXPECT_EQ(start_home("/fallback"), "/inherited");  // not the published /found
  EXPECT_EQ(default_home(), "c:/tiklo");
  set_platform(Platform::linux);
  EXPECT_EQ(default_home(), "/usr/local/norvale");
}

TEST_F(Context, UploadsNotTakenOverAreRemoved) {
  kivtest::TempDir dir;
  const std::string kept = dir.write("attach1.1", "a"), dropped = dir.write("attach2.1", "b");
  reqctx().uploads = {kept, dropped};
  EXPECT_TRUE(take_upload(kept));
  EXPECT_FALSE(take_upload(kept));
  EXPECT_FALSE(is_saved_upload(kept));
  EXPECT_TRUE(is_saved_upload(dropped));
  remove_saved_uploads();
  EXPECT_TRUE(std::filesystem::exists(kept));
  EXPECT_FALSE(std::filesystem::exists(dropped));
  EXPECT_TRUE(reqctx().uploads.empty());
}

TEST_F(Context, ExhaustedMemoryRemovesTheUploads) {
  kivtest::TempDir dir;
  const std::string saved = dir.write("attach1.1", "a");
  EXPECT_EXIT(
      {
        reqctx().uploads = {saved};
        kiv_out_of_memory();
      },
      ::testing::ExitedWithCode(255), "kiv_malloc\\(\\): Out of Memory\\.\\.\\.");
  EXPECT_FALSE(std::filesystem::exists(saved));
}

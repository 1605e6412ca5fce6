// The sample's pages that show the user of the request (REMOTE_USER, which
// the web server or the login step sets and whose name a person chose) show
// it as text: every character that HTML gives a meaning, "&" among them, is
// escaped, in element text and in attribute values alike.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/testsupport.h"
#include "toolkit/kivhtml.h"
#include "toolkit/kivobj.h"

using namespace kiv;
namespace fs = std::filesystem;

namespace {

const fs::path kTemplates = fs::path(KIV_SOURCE_DIR) / "install" / "home" / "client" / "kivhtml" / "tk";

size_t count_of(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

class SamplePages : public kivtest::KivTest {};

}  // namespace

TEST_F(SamplePages, TheUserOfTheRequestIsPrintedAsText) {
  const std::string user = "ann&co\"<b>'";
  const std::string escaped = "ann&#38;co&#34;&#60;b&#62;&#39;";
  kivtest::ScopedEnv remote_user("REMOTE_USER", user);
  objlist objs;
  for (const char* name : {"start.html", "changepassword.html"}) {
    SCOPED_TRACE(name);
    const std::string path = (kTemplates / name).string();
    const size_t shown = count_of(kivtest::read_file(path), "EB{REMOTE_USER}EE");
    ASSERT_GT(shown, 0u);
    clear_output();
    ASSERT_EQ(printhtml(&objs, path), 0);
    EXPECT_EQ(count_of(page(), escaped), shown) << page();
    EXPECT_EQ(page().find("ann&co"), std::string::npos);
  }
}

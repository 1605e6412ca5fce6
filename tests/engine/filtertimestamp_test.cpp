// Mail copies of problem and resolution without their stamps: the writer's
// header in place of each stamp the stamp step wrote, the submitter from the
// form or the login, bracketed lines of the writer's own, and copies that
// travel in the packet.
#include <gtest/gtest.h>

#include "engine/filtertimestamp.h"
#include "engine/upclock.h"
#include "engine/upobjdb.h"
#include "engine/upstamp.h"
#include "enginetest.h"
#include "toolkit/base/kivcontext.h"

using namespace kiv;
using enginetest::value;
using kivtest::ScopedEnv;

namespace {

class NoStamp : public kivtest::KivTest {
 protected:
  void SetUp() override {
    KivTest::SetUp();
    engineclock().now = 1700000000;
    reqctx().action = "modify";  // as the start-up keeps the request's action
    list_ = enginetest::objects({{"status.VALUE", "Open"}});
  }
  // The stamp line the stamp step writes for `user`.
  std::string stamp(const char* user) {
    ScopedEnv login("REMOTE_USER", user);
    return stampline(*list_);
  }
  std::string copy(const std::string& problem, const char* submitter = "bob") {
    adduniqobj(*list_, "submitted_by.VALUE", submitter ? submitter : "");
    adduniqobj(*list_, "problem.VALUE", problem);
    filtertimestamp(*list_);
    return value(*list_, "problem_nostamp");
  }
  std::unique_ptr<objlist> list_;
  ScopedEnv login_{"REMOTE_USER", std::nullopt};
};

}  // namespace

TEST_F(NoStamp, Contributions) {
  const std::string bob = stamp("bob"), alice = stamp("alice");
  const std::string nobody = "\n[-Open- 11/14/2023 10:13:20 PM -  - modify-]";
  ASSERT_EQ(bob, "\n[-Open- 11/14/2023 10:13:20 PM - bob - modify-]");
  struct Case {
    const char* what;
    std::string problem;
    std::string copy;
  } cases[] = {
      {"the submitter's own", "Printer jammed" + bob, "\n\nbob wrote:\nPrinter jammed"},
      {"a staff member's", "Try again" + alice, "\n\nTiklo wrote:\n\nTry again"},
      {"an empty user is You", "anon" + nobody, "\n\nTiklo wrote:\n\nanon"},
      {"a thread", "Printer jammed" + bob + "\nTry again" + alice,
       "\n\nbob wrote:\nPrinter jammed\n\nTiklo wrote:\n\n\nTry again"},
      {"no stamp: an empty copy", "just text", ""},
      {"text after the last stamp is not copied", "one" + bob + "\nunstamped", "\n\nbob wrote:\none"},
      {"an empty contribution has no header", bob + "x" + bob, "\n\nbob wrote:\nx"},
      {"a bracketed line of the writer's own stays", "see\n[attached] log\nend" + bob,
       "\n\nbob wrote:\nsee\n[attached] log\nend"},
      {"a bracket closed on a later line is text", "draft\n[not closed\nmore] here" + bob,
       "\n\nbob wrote:\ndraft\n[not closed\nmore] here"},
      {"a user line between stamps", "a" + bob + "\n[x] b" + alice, "\n\nbob wrote:\na\n\nTiklo wrote:\n\n\n[x] b"},
  };
  for (const Case& c : cases) EXPECT_EQ(copy(c.problem), c.copy) << c.what;
}

TEST_F(NoStamp, SubmitterFromTheLoginOrNone) {
  const std::string bob = stamp("bob");
  {
    ScopedEnv login("REMOTE_USER", "bob");
    EXPECT_EQ(copy("mine" + bob, nullptr), "\n\nbob wrote:\nmine");
  }
  EXPECT_EQ(copy("mine" + bob, nullptr), "");  // nobody known: nothing copied
}

TEST_F(NoStamp, UserOfAStamp) {
  EXPECT_EQ(getfilteruser("-Open- 01/02/2024 09:00:00 AM - bob - add-"), "bob");
  EXPECT_EQ(getfilteruser("-Open- 01/02/2024 09:00:00 PM - carol - add-"), "carol");
  EXPECT_EQ(getfilteruser("-Open- 01/02/2024 09:00:00 AM -  - add-"), "You");
  EXPECT_EQ(getfilteruser("attached"), std::nullopt);
}

TEST_F(NoStamp, CopiesTravelInThePacket) {
  const std::string bob = stamp("bob");
  adduniqobj(*list_, "submitted_by.VALUE", "bob");
  adduniqobj(*list_, "problem.VALUE", "p" + bob);
  adduniqobj(*list_, "resolution.VALUE", "r" + stamp("alice"));
  filtertimestamp(*list_);
  const kivobj* p = list_->find("problem_nostamp");
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->attr(attr::DBKEY), "problem_nostamp");
  EXPECT_TRUE(p->marked(attr::VALUE));
  std::unique_ptr<packet> pkt = obj2db(*list_);
  EXPECT_EQ(pkt->keys, "problem_nostamp^@resolution_nostamp^$");
  EXPECT_EQ(pkt->data, "\n\nbob wrote:\np^@\n\nTiklo wrote:\n\nr^$");

  // The next case of the same process has no resolution: no copy of the
  // last one travels with it.
  adduniqobj(*list_, "resolution.VALUE", "");
  filtertimestamp(*list_);
  EXPECT_EQ(value(*list_, "resolution_nostamp"), "");
}

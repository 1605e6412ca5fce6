// Many administration requests saving the same object file at once while
// other processes keep loading it: the live file is always there and whole,
// every save either lands or is reported to its writer (a save from a page
// another save overtook is refused, and its writer makes it again from the
// file as it is now), and every save leaves a backup of its own.
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>

#include "admintest.h"
#include "toolkit/objects/kivobjfile.h"

using namespace kiv;
using namespace admintest;

namespace {

constexpr int kWriters = 4;
constexpr int kSaves = 25;
constexpr int kReaders = 3;
const std::string kPad(60000, 'p');  // a file large enough to take several writes

// The operation every writer runs: one more on the shared counter, and its
// own count on its own object. Each writer process sets its name first.
std::string g_writer;

void count_once(std::string_view) {
  objlist& tk = *admin().tk_obj;
  long counter = std::atol(getvalfromlist(tk, "counter.VALUE").value_or("0").c_str());
  long mine = std::atol(getvalfromlist(tk, g_writer + ".VALUE").value_or("0").c_str());
  adduniqobj(tk, "counter.VALUE", std::to_string(counter + 1));
  adduniqobj(tk, g_writer + ".VALUE", std::to_string(mine + 1));
}

// A file read whole: it has the first, the padded and the last object.
bool whole(const objlist* l) {
  return l && l->find("counter") && getvalfromlist(*l, "pad.VALUE") == kPad && l->find("trailer");
}

}  // namespace

TEST_F(AdminTest, ConcurrentSavesLoseNothingAndReadersSeeWholeFiles) {
  write("client/config/tk_obj", object("counter", "0") + object("pad", kPad) + object("trailer", "end"));
  Plug op("mod_paths", count_once);
  const std::string live = path("client/config/tk_obj");
  const std::string done = path("writers-done");

  std::vector<pid_t> readers, writers;
  for (int r = 0; r < kReaders; ++r) {
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      StringSink sink;
      set_out(&sink);
      auto until = std::chrono::steady_clock::now() + std::chrono::seconds(120);
      int loads = 0;
      while (!fs::exists(done) && std::chrono::steady_clock::now() < until) {
        if (!whole(loadkivobj(live).get())) ::_exit(1);
        ++loads;
      }
      ::_exit(loads > 0 ? 0 : 2);
    }
    readers.push_back(pid);
  }
  for (int w = 0; w < kWriters; ++w) {
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      StringSink sink;
      set_out(&sink);
      g_writer = "writer" + std::to_string(w);
      int landed = 0;
      for (int tries = 0; landed < kSaves && tries < kSaves * 50; ++tries) {
        sink.clear();
        if (run("mod_paths") == returned(0) && sink.text().find("<PRE>") == std::string::npos) {
          ++landed;
          continue;
        }
        if (sink.text().find("was changed by someone else") == std::string::npos) break;
      }
      ::_exit(landed);
    }
    writers.push_back(pid);
  }

  int landed = 0;
  for (pid_t pid : writers) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), kSaves) << "saves of a writer were refused";
    landed += WEXITSTATUS(status);
  }
  write("writers-done", "");
  for (pid_t pid : readers) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a reader saw a missing or torn file";
  }

  std::unique_ptr<objlist> final = loadkivobj(live);
  ASSERT_TRUE(whole(final.get()));
  EXPECT_EQ(getvalfromlist(*final, "counter.VALUE"), std::to_string(landed));
  for (int w = 0; w < kWriters; ++w)
    EXPECT_EQ(getvalfromlist(*final, "writer" + std::to_string(w) + ".VALUE"), std::to_string(kSaves));

  std::vector<std::string> b = backups();
  EXPECT_EQ(b.size(), static_cast<size_t>(landed));
  for (const std::string& n : b) EXPECT_TRUE(whole(readkivobj(read("tmp/" + n)).get())) << n;
  for (const auto& e : fs::directory_iterator(path("client/config"))) {
    std::string n = e.path().filename();
    EXPECT_TRUE(n == "tk_obj" || n == "ce_obj" || n == "admin_obj" || n == "tk_obj.lock") << n;
  }
}

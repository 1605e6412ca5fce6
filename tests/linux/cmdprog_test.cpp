// The Linux programs as processes: codelabel and codeintake read the request
// variable stream whole before anything else, even when they then only
// print their usage; no program links a database library it does not use;
// the sample installation's state file binds the programs of this build.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "linux/kivexec.h"
#include "linux/unixcgi.h"
#include "linuxtest.h"
#include "platform/process.h"
#include "support/testsupport.h"
#include "toolkit/request/kivexfile.h"

using namespace kiv;

namespace {

const std::string kLinux = std::string(KIV_BINARY_DIR) + "/linux/";

struct ProgramRun {
  int status = -1;
  off_t offset = -1;  // where the program left its standard input
  std::string out;
};

// Runs a program with its standard input on a file holding `stream`, and
// the variables `more` in its environment.
ProgramRun run_on(const std::string& program, const std::string& stream, const kivtest::TempDir& dir,
                  const std::vector<std::string>& more = {}) {
  ProgramRun r;
  const std::string in = dir.write("stream", stream);
  const std::string out = dir.write("out", "");
  const int fd = ::open(in.c_str(), O_RDONLY | O_CLOEXEC);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, fd, 0);
  posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_TRUNC, 0);
  std::vector<std::string> args{program};
  std::vector<char*> argv{args[0].data(), nullptr};
  std::vector<std::string> env{"PATH=/usr/bin:/bin"};
  env.insert(env.end(), more.begin(), more.end());
  linuxtest::add_sanitizer_env(env);
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, program.c_str(), &fa, nullptr, argv.data(), envp.data()) == 0) {
    int st = 0;
    ::waitpid(pid, &st, 0);
    if (WIFEXITED(st)) r.status = WEXITSTATUS(st);
  }
  posix_spawn_file_actions_destroy(&fa);
  r.offset = ::lseek(fd, 0, SEEK_CUR);
  ::close(fd);
  r.out = kivtest::read_file(out);
  return r;
}

TEST(CommandPrograms, ReadTheStreamFirstThenRefuseTooFewWords) {
  kivtest::TempDir dir;
  // More than a pipe holds, so a program that did not read it all would
  // leave the offset short.
  std::string stream = kivexec::exdatarecord("KIVACTION", "label", 0);
  stream += kivexec::exdatarecord("attach1.VALUE", std::string(200 * 1024, 'a'), 0);
  for (const char* name : {"codelabel", "codeintake"}) {
    const ProgramRun r = run_on(kLinux + name, stream, dir);
    EXPECT_EQ(r.status, 2) << name;
    EXPECT_EQ(r.offset, static_cast<off_t>(stream.size())) << name;
    const std::string usage = std::string("Wrong usage: ") + (name == std::string("codelabel") ? "code_label" : "code_intake") +
                              " templatefile flags\n";
    EXPECT_EQ(r.out, "<PRE>\n" + usage + "</PRE>\n") << name;
  }
}

// A command's refusal is the first thing of its page after the front's
// content-type line: the installation's error head and foot frame it, as
// they frame the front's own.
TEST(CommandPrograms, ARefusalIsFramedByTheInstallationsErrorPage) {
  kivtest::TempDir dir;
  dir.write("client/kivhtml/tk/errhead.html", "<head>\n");
  dir.write("client/kivhtml/tk/errfoot.html", "<foot>\n");
  const ProgramRun r = run_on(kLinux + "codelabel", kivexec::exdatarecord("KIVACTION", "label", 0), dir,
                              {"NVHOME=" + dir.str()});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "<head>\n<PRE>\nWrong usage: code_label templatefile flags\n</PRE>\n<foot>\n");
}

// What every request pays for: the front links no database library at
// all, the command programs no PostgreSQL library.
TEST(CommandPrograms, LinkNoDatabaseLibraryTheyDoNotUse) {
  process::Options o;
  o.capture_output = true;
  o.env = {"PATH=/usr/bin:/bin"};
  struct Program {
    const char* name;
    bool odbc_allowed;
  } programs[] = {{"upcgi", false}, {"codelabel", true}, {"codeintake", true}};
  for (const Program& p : programs) {
    process::Result r = process::run({"ldd", kLinux + p.name}, o);
    ASSERT_TRUE(r.ok()) << process::describe(r, o);
    EXPECT_NE(r.output.find("libc.so"), std::string::npos) << r.output;  // a dynamic program, read whole
    EXPECT_EQ(r.output.find("libpq"), std::string::npos) << p.name << "\n" << r.output;
    if (!p.odbc_allowed) {
      EXPECT_EQ(r.output.find("libodbc"), std::string::npos) << p.name << "\n" << r.output;
    }
  }
}

// The sample installation's state file binds each action to a Linux
// program of this build, and configures the station through object values.
TEST(CommandPrograms, SampleStateFileBindsBuiltPrograms) {
  const std::optional<exlist> list = file2ex(std::string(KIV_SOURCE_DIR) + "/install/home/client/config/prog_states");
  ASSERT_TRUE(list);
  int actions = 0;
  for (const exdata& n : list->nodes) {
    if (is_state_setting(n.name) || n.name.ends_with(".VALUE")) continue;
    ++actions;
    const std::optional<std::vector<std::string>> words = kivexec::command_words(n.value);
    ASSERT_TRUE(words && words->size() == 2) << n.name << "=" << n.value;
    EXPECT_TRUE(std::filesystem::exists(kLinux + (*words)[0])) << n.name << "=" << n.value;
  }
  EXPECT_EQ(actions, 2);
  EXPECT_EQ(getstateval(&*list, "bc_label_format.VALUE"), "label.fmt");
}

}  // namespace

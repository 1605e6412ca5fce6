// Hook scripts: the record a command sees in its environment at each hook
// point, the names that never reach it, the shown part of its output, the
// hook objects switched on and off, the refusal of a pre-hook, and the time
// limit. The commands are shell scripts written into the test's home.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <map>

#include "engine/upclock.h"
#include "engine/uphook.h"
#include "engine/upobjdb.h"
#include "enginetest.h"
#include "toolkit/base/kivcgitrace.h"
#include "toolkit/objects/objprotect.h"
#include "toolkit/request/kivexfile.h"

extern char** environ;

using namespace kiv;
using namespace std::chrono_literals;
using enginetest::Attr;
using enginetest::objects;
namespace fs = std::filesystem;

namespace {

using Vars = std::map<std::string, std::string>;

// The environment of this process, as name to value.
Vars own_environment() {
  Vars v;
  for (char** e = environ; *e; ++e) {
    std::string_view entry(*e);
    size_t eq = entry.find('=');
    v[std::string(entry.substr(0, eq))] = std::string(entry.substr(eq + 1));
  }
  return v;
}

class Hooks : public enginetest::HomeTest {
 protected:
  // A script in the home; its path is the command.
  std::string script(const std::string& name, const std::string& body) {
    return enginetest::script(home_, name, body);
  }
  // A script that writes its environment into `dump` and ends with `status`.
  std::string dumper() { return script("dump", "/usr/bin/env -0 >" + dump() + "\n"); }
  std::string dump() const { return path("env.dump"); }
  // What the dumper saw; empty when it did not run.
  Vars seen() {
    Vars v;
    const std::string text = kivtest::read_file(dump());
    fs::remove(dump());
    size_t pos = 0;
    while (pos < text.size()) {
      size_t end = text.find('\0', pos);
      std::string entry = text.substr(pos, end - pos);
      size_t eq = entry.find('=');
      v[entry.substr(0, eq)] = entry.substr(eq + 1);
      pos = end + 1;
    }
    return v;
  }
  // The fields of a small case, the hook objects switched on with `command`.
  std::unique_ptr<objlist> record(const std::string& command) {
    return objects({
        {"status.DBKEY", "status"},
        {"status.VALUE", "Open", Origin::request},
        {"case_num.DBKEY", "case_num"},
        {"problem.DBKEY", "problem"},
        {"problem.VALUE", "It broke.", Origin::request},
        {"tk_pre_add.VALUE", "ON"},
        {"tk_pre_add.TITLE", command},
        {"tk_post_add.VALUE", "ON"},
        {"tk_post_add.TITLE", command},
        {"tk_pre_modify.VALUE", "ON"},
        {"tk_pre_modify.TITLE", command},
        {"tk_post_modify.VALUE", "ON"},
        {"tk_post_modify.TITLE", command},
    });
  }
};

}  // namespace

TEST_F(Hooks, AddSeesTheRecordBeforeAndAfterItsNumber) {
  auto list = record(dumper());
  const Vars before = own_environment();
  auto first = obj2db(*list);
  EXPECT_EQ(run_hook(*list, Hook::pre_add, nullptr, first.get()), 0);
  Vars pre = seen();
  EXPECT_EQ(pre.at("status"), "Open");
  EXPECT_EQ(pre.at("case_num"), "");
  EXPECT_EQ(pre.at("problem"), "It broke.");
  EXPECT_EQ(pre.count("NEW_status"), 0u);
  EXPECT_EQ(pre.at("PATH"), before.at("PATH"));

  adduniqobj(*list, "case_num.VALUE", "1001", Origin::record);
  auto second = obj2db(*list);
  EXPECT_EQ(run_hook(*list, Hook::post_add, nullptr, second.get()), 0);
  EXPECT_EQ(seen().at("case_num"), "1001");
  EXPECT_EQ(page(), "");
  EXPECT_EQ(own_environment(), before);
}

TEST_F(Hooks, ModifyAndRespondSeeTheOldAndTheNewRecord) {
  auto list = record(dumper());
  adduniqobj(*list, "status.VALUE", "Closed", Origin::request);
  adduniqobj(*list, "case_num.VALUE", "1001", Origin::request);
  adduniqobj(*list, "problem.VALUE", "", Origin::request);
  // The record as the form showed it.
  const packet old{"Open^@1001^@It broke.^$", "status^@case_num^@problem^$"};

  auto changed = modify_obj2db(*list);  // empty fields are left out
  EXPECT_EQ(run_hook(*list, Hook::pre_modify, changed.get(), &old), 0);
  Vars modify = seen();
  EXPECT_EQ(modify.at("status"), "Open");
  EXPECT_EQ(modify.at("NEW_status"), "Closed");
  EXPECT_EQ(modify.at("problem"), "It broke.");
  EXPECT_EQ(modify.count("NEW_problem"), 0u);

  auto answered = obj2db(*list);  // every field, empty ones too
  EXPECT_EQ(run_hook(*list, Hook::post_modify, answered.get(), &old), 0);
  Vars respond = seen();
  EXPECT_EQ(respond.at("NEW_problem"), "");
  EXPECT_EQ(respond.at("NEW_case_num"), "1001");
}

TEST_F(Hooks, NamesThatNeverReachTheCommand) {
  const Vars before = own_environment();
  kivtest::ScopedEnv own_cdpath("CDPATH", "/tmp");
  struct Case {
    const char* column;
    bool dbkey;
  } cases[] = {
      {"PATH", true},  {"LD_PRELOAD", true}, {"BASH_ENV", true}, {"BASH_FUNC_x%%", true}, {"IFS", true},
      {"ENV", true},   {"x=y", true},        {"1st", true},      {"notakey", false},     {"status", true},
      // Interpreters' start-up variables: a hook written in Python, Perl,
      // Ruby, Node or Java would load code from them before its own.
      {"PYTHONPATH", true}, {"PYTHONSTARTUP", true}, {"PERL5OPT", true}, {"PERL5LIB", true}, {"PERLLIB", true},
      {"RUBYOPT", true},    {"NODE_OPTIONS", true},  {"JAVA_TOOL_OPTIONS", true}, {"_JAVA_OPTIONS", true},
  };
  std::vector<Attr> attrs;
  std::string keys, data;
  for (const Case& c : cases) {
    if (c.dbkey) attrs.push_back({std::string("f") + std::to_string(attrs.size()) + ".DBKEY", c.column});
    keys += std::string(c.column) + "^@";
    data += std::string("hostile-") + c.column + "^@";
  }
  keys.replace(keys.size() - 2, 2, "^$");
  data.replace(data.size() - 2, 2, "^$");
  attrs.push_back({"tk_pre_modify.VALUE", "ON"});
  attrs.push_back({"tk_pre_modify.TITLE", dumper()});
  auto list = objects(attrs);
  // The record from the form: row2form_rec, names and all, is request data.
  const packet old{data, keys};
  EXPECT_EQ(run_hook(*list, Hook::pre_modify, nullptr, &old), 0);
  Vars v = seen();
  EXPECT_EQ(v.at("status"), "hostile-status");
  EXPECT_EQ(v.at("PATH"), before.at("PATH"));
  for (const char* name :
       {"LD_PRELOAD", "BASH_ENV", "BASH_FUNC_x%%", "IFS", "ENV", "x", "1st", "notakey", "CDPATH"})
    EXPECT_EQ(v.count(name), 0u) << name;
  for (const auto& [name, value] : v) EXPECT_TRUE(name == "status" || !value.starts_with("hostile-")) << name;
}

TEST_F(Hooks, ManyColumnsAndLongValues) {
  std::vector<Attr> attrs = {{"tk_post_add.VALUE", "ON"}, {"tk_post_add.TITLE", dumper()}};
  std::string keys, data;
  for (int i = 1; i <= 150; ++i) {
    const std::string column = "c" + std::to_string(i);
    attrs.push_back({column + ".DBKEY", column});
    keys += column + (i < 150 ? "^@" : "^$");
    data += (i == 150 ? std::string(5000, 'v') : column) + (i < 150 ? "^@" : "^$");
  }
  auto list = objects(attrs);
  const packet record{data, keys};
  EXPECT_EQ(run_hook(*list, Hook::post_add, nullptr, &record), 0);
  Vars v = seen();
  EXPECT_EQ(v.at("c1"), "c1");
  EXPECT_EQ(v.at("c99"), "c99");
  EXPECT_EQ(v.at("c149"), "c149");
  EXPECT_EQ(v.at("c150"), std::string(5000, 'v'));
}

TEST_F(Hooks, OutputShownWhenTheCommandFails) {
  struct Case {
    const char* what;
    std::string body;
    std::string shown;
  } cases[] = {
      // 13 bytes, then lines of 100 while fewer than 5120 are held: after 51
      // lines 5113, so a 52nd comes in.
      {"20000 bytes in lines",
       "printf '100%% %%s <b>&\\n'\ni=0; while [ $i -lt 200 ]; do printf '%099d\\n' 0; i=$((i+1)); done\n",
       "100% %s <b>&\n" + [] {
         std::string s;
         for (int i = 0; i < 52; ++i) s += std::string(99, '0') + "\n";
         return s;
       }()},
      // A long line comes in pieces of 1023; the last piece added may pass
      // the limit, the next line is dropped.
      {"one long line", "head -c 6000 /dev/zero | tr '\\0' a; printf '\\nnext\\n'\n",
       std::string(6000, 'a') + "\n"},
      {"nothing", "", ""},
      {"beyond the capture limit", "head -c 1000000 /dev/zero | tr '\\0' b\n", std::string(6138, 'b')},
  };
  for (const Case& c : cases) {
    clear_output();
    const std::string command = script("noisy", c.body + "exit 1\n");
    auto list = objects({});
    EXPECT_EQ(do_exec(*list, command, nullptr, nullptr, nullptr, nullptr), 1) << c.what;
    EXPECT_EQ(page(), "<PRE>\n" + command + " script failed.\n" + html_escape(c.shown) + "</PRE>\n") << c.what;
  }
  // A command that succeeds shows nothing, whatever it writes.
  clear_output();
  auto list = objects({});
  EXPECT_EQ(do_exec(*list, script("quiet", "echo all fine\n"), nullptr, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(page(), "");
}

TEST_F(Hooks, RefusingPreHooksCancelPostHooksAreNotJudged) {
  struct Case {
    Hook hook;
    int result;
    std::string page;
  } cases[] = {
      {Hook::pre_add, 1, "submit operation failed\n"},
      {Hook::pre_modify, 1, "Modify operation failed\n"},
      {Hook::post_add, 0, ""},
      {Hook::post_modify, 0, ""},
  };
  const std::string command = script("refuse", "echo 'Refused: <no budget>'\nexit 3\n");
  for (const Case& c : cases) {
    clear_output();
    auto list = record(command);
    EXPECT_EQ(run_hook(*list, c.hook, nullptr, nullptr), c.result) << hookname(c.hook);
    std::string expected = "<PRE>\n" + command + " script failed.\nRefused: &#60;no budget&#62;\n</PRE>\n";
    if (!c.page.empty()) expected += "<PRE>\n" + c.page + "</PRE>\n";
    EXPECT_EQ(page(), expected) << hookname(c.hook);
  }
}

TEST_F(Hooks, HookObjectsOnlyExactlyOnAndConfigured) {
  const std::string command = dumper();
  struct Case {
    const char* what;
    std::vector<Attr> attrs;
    bool runs;
    std::string page;
  } cases[] = {
      {"ON", {{"tk_pre_add.VALUE", "ON"}, {"tk_pre_add.TITLE", command}}, true, ""},
      {"on", {{"tk_pre_add.VALUE", "on"}, {"tk_pre_add.TITLE", command}}, false, ""},
      {"ON with blanks", {{"tk_pre_add.VALUE", "ON "}, {"tk_pre_add.TITLE", command}}, false, ""},
      {"no VALUE", {{"tk_pre_add.TITLE", command}}, false, ""},
      {"ON without a TITLE", {{"tk_pre_add.VALUE", "ON"}}, false,
       "<PRE>\nNo command specified in object tk_pre_add\n</PRE>\n"},
      {"VALUE set by a request", {{"tk_pre_add.VALUE", "ON", Origin::request}, {"tk_pre_add.TITLE", command}},
       false, ""},
      {"TITLE set by a request", {{"tk_pre_add.VALUE", "ON"}, {"tk_pre_add.TITLE", command, Origin::request}},
       false, "<PRE>\nNo command specified in object tk_pre_add\n</PRE>\n"},
  };
  for (const Case& c : cases) {
    clear_output();
    auto list = objects(c.attrs);
    EXPECT_EQ(run_hook(*list, Hook::pre_add, nullptr, nullptr), 0) << c.what;
    EXPECT_EQ(fs::exists(dump()), c.runs) << c.what;
    fs::remove(dump());
    EXPECT_EQ(page(), c.page) << c.what;
  }
  // Each hook names itself when its command is missing.
  for (Hook h : {Hook::post_add, Hook::pre_modify, Hook::post_modify}) {
    clear_output();
    const std::string name(hookname(h));
    auto list = objects({{name + ".VALUE", "ON"}});
    EXPECT_EQ(run_hook(*list, h, nullptr, nullptr), 0);
    EXPECT_EQ(page(), "<PRE>\nNo command specified in object " + name + "\n</PRE>\n");
  }
}

TEST_F(Hooks, RequestCannotSwitchOrNameAHook) {
  const std::string planted = path("planted");
  auto list = objects({{"status.DBKEY", "status"}});
  exlist request;
  for (const auto& [name, value] : {std::pair<std::string, std::string>{"tk_pre_add.VALUE", "ON"},
                                    {"tk_pre_add.TITLE", "touch " + planted},
                                    {"tk_pre_add", "ON"},
                                    {"status.VALUE", "Open"}})
    request.nodes.push_back(formexdatanode(name, value));
  ex2obj(request, *list);
  EXPECT_EQ(enginetest::value(*list, "status"), "Open");
  EXPECT_EQ(run_hook(*list, Hook::pre_add, nullptr, nullptr), 0);
  EXPECT_FALSE(fs::exists(planted));
  // A configured hook keeps its own command whatever the request sends.
  auto configured = objects({{"tk_pre_add.VALUE", "ON"}, {"tk_pre_add.TITLE", dumper()}});
  ex2obj(request, *configured);
  EXPECT_EQ(run_hook(*configured, Hook::pre_add, nullptr, nullptr), 0);
  EXPECT_TRUE(fs::exists(dump()));
  EXPECT_FALSE(fs::exists(planted));
}

TEST_F(Hooks, TimeLimitEndsTheCommandAndAPreHookRefuses) {
  engineclock().hook_limit = 300ms;
  auto list = record(script("slow", "echo waiting\nsleep 30\n"));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(run_hook(*list, Hook::pre_add, nullptr, nullptr), 1);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
  EXPECT_EQ(page(), "<PRE>\n" + path("client/bin/slow") +
                        " script failed.\nwaiting\n</PRE>\n<PRE>\nsubmit operation failed\n</PRE>\n");
}

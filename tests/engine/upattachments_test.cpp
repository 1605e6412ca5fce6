// Case attachments in a real folder tree under a temporary home: field kinds
// and numbers, storing uploads and typed texts with their side files, the
// folder of a case (sub-cases, date pictures, hostile case parts), moving only
// this request's uploads and only whole, listing into the attachment table,
// deleting, and many processes attaching to one case at once.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>

#include "engine/upattachments.h"
#include "platform/flavour.h"
#include "support/testsupport.h"
#include "toolkit/base/kivcontext.h"
#include "toolkit/base/kivfmt.h"
#include "toolkit/request/multipart.h"
#include "toolkit/text/rowcol.h"

using namespace kiv;
using kivtest::exit_status;
using kivtest::read_file;
namespace fs = std::filesystem;

namespace {

constexpr const char* kHeader =
    "attachtitle^@attachvalue^@attachmodtimetitle^@attachmodtimevalue^@attachusertitle^@attachuservalue^@"
    "attachdesctitle^@attachdescvalue^@attachsizetitle^@attachsizevalue^$";

// Every file and folder under a root with its content, for "nothing else
// changed" checks.
std::map<std::string, std::string> snapshot(const fs::path& root) {
  std::map<std::string, std::string> tree;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    std::string rel = fs::relative(e.path(), root).string();
    tree[rel] = e.is_directory() ? "<folder>" : read_file(e.path().string());
  }
  return tree;
}

std::string modtime_text(const std::string& path) {
  struct stat st {};
  ::stat(path.c_str(), &st);
  std::time_t t = st.st_mtime;
  return std::ctime(&t);
}

class Attachments : public kivtest::KivTest {
 protected:
  void SetUp() override {
    KivTest::SetUp();
    fs::create_directories(home_.path() / "tmp");
    fs::create_directories(root());
    set("attach_control", "ON");
    set("attachdir", root());
  }

  std::string root() const { return home_.str() + "/attach"; }
  std::string folder(const std::string& name) const { return root() + "/" + name; }
  std::string in(const std::string& name, const std::string& file) const { return folder(name) + "/" + file; }

  // Sets an object's VALUE (or another attribute: "name.TITLE").
  void set(const std::string& key, const std::string& text) {
    adduniqobj(*list_, key.find('.') == std::string::npos ? key + ".VALUE" : key, text);
  }

  // A file the upload step saved for this request.
  std::string upload(const std::string& name, const std::string& bytes) {
    std::string path = home_.write("tmp/" + name, bytes);
    reqctx().uploads.push_back(path);
    return path;
  }

  // Names in a case folder, sorted.
  std::vector<std::string> names(const std::string& name) const { return kivtest::entries(folder(name)); }

  // A fresh object list for the next request on the same tree.
  void next_request() {
    list_ = std::make_unique<objlist>();
    set("attach_control", "ON");
    set("attachdir", root());
  }

  // The VALUE of an object of the list.
  std::string value(const std::string& name) const {
    return getvalfromlist(*list_, name + ".VALUE").value_or("<none>");
  }

  kivtest::TempDir home_;
  kivtest::ScopedEnv user_{"REMOTE_USER", "alice/helpdesk"};
  std::unique_ptr<objlist> list_ = std::make_unique<objlist>();
};

}  // namespace

TEST_F(Attachments, KindsAndNumbersOfFieldNames) {
  struct Case {
    const char* name;
    int kind;
    int number;
  } cases[] = {
      {"attachment1", 1, 1},  {"attach9", 1, 9},      {"attachdesc1", 2, 1},  {"attachsize1", 3, 1},
      {"attachuser1", 4, 1},  {"attachx", 0, -1},     {"attach1filename", 0, 1}, {"problem", 0, -1},
      {"attach0", 1, -1},     {"a1b2", 0, 12},        {"attach99999999999", 1, -1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(itisattachfield(c.name), c.kind) << c.name;
    EXPECT_EQ(attachmentnumber(c.name), c.number) << c.name;
  }
}

TEST_F(Attachments, FolderNamesOfCaseNumbers) {
  struct Case {
    const char* case_num;
    const char* folder;  // nullptr: refused
  } cases[] = {
      {"1234", "1234"},       {"1234.2", "1234"},         {"1234.2.1", "1234.2"},
      {" 1234 ", "1234"},     {"12/10/2024-7", "12-10-2024-7"}, {"a\\b.1", "a-b"},
      {"../x", nullptr},      {"a/../../b", nullptr},     {"..", nullptr},
      {".5", nullptr},        {"", nullptr},              {"ab\x01" "c", nullptr},
  };
  for (const Case& c : cases) {
    std::optional<std::string> f = attachfolder_name(c.case_num);
    if (c.folder)
      EXPECT_EQ(f, c.folder) << c.case_num;
    else
      EXPECT_FALSE(f) << c.case_num << " gave " << f.value_or("");
  }
  // A folder name from a listing is not cut again.
  EXPECT_EQ(attachfolder_part("1234.2"), "1234.2");
  EXPECT_FALSE(attachfolder_part(".."));
}

TEST_F(Attachments, TwoFieldsFollowTheHighestNumberWithTheirSideFiles) {
  set_platform(Platform::linux);
  home_.write("attach/1234/attach3_old.txt", "old");
  home_.write("attach/1234/attach1_first.txt", "first");
  std::string up = upload("attach1.4242", std::string("PK\0\x01 binary", 11));
  set("case_num", "1234");
  set("attachhead", "<pre>");
  set("attachtail", "</pre>");
  set("attach1", up);
  set("attach1filename", "C:\\Users\\al\\My report.doc");
  set("attachdesc1", "The report");
  set("attach2", "line 1\nx < y & \"z\"");

  EXPECT_EQ(attach_files(*list_), 0);
  EXPECT_EQ(page(), "");
  const std::string f = "1234";
  EXPECT_EQ(read_file(in(f, "attach4_My_report.doc")), std::string("PK\0\x01 binary", 11));
  EXPECT_EQ(read_file(in(f, "attachsize4_My_report.doc")), "11 bytes");
  EXPECT_EQ(read_file(in(f, "attachuser4_My_report.doc")), "alice");
  EXPECT_EQ(read_file(in(f, "attachdesc4_My_report.doc")), "The report");
  // Typed text: framed, escaped, line ends as breaks; its size in characters.
  EXPECT_EQ(read_file(in(f, "attach5_data.html")),
            "<pre>\nline 1 <br> x &#60; y &#38; &#34;z&#34;\n</pre>");
  EXPECT_EQ(read_file(in(f, "attachsize5_data.html")), "18 bytes");
  EXPECT_EQ(read_file(in(f, "attachuser5_data.html")), "alice");
  EXPECT_EQ(names(f), (std::vector<std::string>{"attach1_first.txt", "attach3_old.txt", "attach4_My_report.doc",
                                                 "attach5_data.html", "attachdesc4_My_report.doc",
                                                 "attachsize4_My_report.doc", "attachsize5_data.html",
                                                 "attachuser4_My_report.doc", "attachuser5_data.html"}));
  // The upload is the attachment's now: gone from tmp and from the saved set.
  EXPECT_FALSE(fs::exists(up));
  EXPECT_FALSE(is_saved_upload(up));
  EXPECT_EQ(fs::status(in(f, "attach4_My_report.doc")).permissions(), fs::perms(0444));
  EXPECT_EQ(fs::status(in(f, "attachuser5_data.html")).permissions(), fs::perms(0444));
}


TEST_F(Attachments, SwitchesAndMissingSettings) {
  struct Case {
    const char* what;
    const char* control;  // "" leaves it absent
    const char* case_num;
    bool attachdir;
    int result;
    const char* trace;
  } cases[] = {
      {"not defined", "", "77", true, 0, "attachment is not defined"},
      {"disabled", "on", "77", true, 0, "Attachment is disabled"},
      {"no case number", "ON", "", true, 1, "Error: case num not defined. Illogical condition."},
      {"no attachdir", "ON", "77", false, 1,
       "Error: attachdir is not defined in the object file. Illogical condition."},
  };
  reqctx().kivdebug = 1;
  for (const Case& c : cases) {
    next_request();
    set("attach_control", c.control);
    set("case_num", c.case_num);
    set("attachdir", c.attachdir ? root() : "");
    set("attach1", "text");
    clear_output();
    EXPECT_EQ(attach_files(*list_), c.result) << c.what;
    EXPECT_NE(page().find(c.trace), std::string::npos) << c.what << ": " << page();
    EXPECT_TRUE(fs::is_empty(root())) << c.what;
  }
}

TEST_F(Attachments, SubCasesShareTheirParentsFolder) {
  set_platform(Platform::linux);
  for (const char* c : {"1234.1", "1234.2"}) {
    next_request();
    set("case_num", c);
    set("attach1", std::string("for ") + c);
    EXPECT_EQ(attach_files(*list_), 0);
  }
  EXPECT_EQ(read_file(in("1234", "attach1_data.html")), "for 1234.1");
  EXPECT_EQ(read_file(in("1234", "attach2_data.html")), "for 1234.2");
  EXPECT_EQ(fs::status(folder("1234")).permissions(), fs::perms(0755));
}

TEST_F(Attachments, NoValueLeavesNoFolderAndAMissingRootEndsTheRequest) {
  set("case_num", "500");
  set("attach1filename", "a.txt");  // a file name alone is no attachment
  set("attachdesc1", "desc");
  EXPECT_EQ(attach_files(*list_), 0);
  EXPECT_FALSE(fs::exists(folder("500")));

  // The root is gone: nothing to attach still passes; the first attachment ends it.
  fs::remove_all(root());
  EXPECT_EQ(attach_files(*list_), 0);
  set("attach1", "text");
  EXPECT_EQ(exit_status([&] { attach_files(*list_); }), -1);
  EXPECT_EQ(page(), "<PRE>\nFatel Error:Can't append to attachments\n</PRE>\n");
  EXPECT_FALSE(fs::exists(root()));
}

// A request stores at most twenty attachments, or as many as
// attachment_max_per_request says; one more and it stores none, before any
// folder or file is made. Fields without a value do not count.
TEST_F(Attachments, AtMostSoManyPerRequest) {
  struct Case {
    const char* what;
    const char* max;  // "" leaves it absent
    int fields;
    bool stored;
  } cases[] = {
      {"twenty by default", "", 20, true},
      {"twenty-one by default", "", 21, false},
      {"three configured", "3", 3, true},
      {"four of three", "3", 4, false},
      {"a limit that is no number", "many", 21, false},
      {"a limit of 0", "0", 20, true},
      {"a raised limit", "25", 25, true},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    next_request();
    const std::string casenum = std::to_string(++n);
    set("case_num", casenum);
    set("attachment_max_per_request", c.max);
    for (int i = 1; i <= c.fields; ++i) set("attach" + std::to_string(i), "text " + std::to_string(i));
    set("attach99filename", "a.txt");  // no value: no attachment
    clear_output();
    const std::optional<int> ended = exit_status([&] { EXPECT_EQ(attach_files(*list_), 0); });
    if (c.stored) {
      EXPECT_EQ(ended, std::nullopt) << page();
      EXPECT_EQ(names(casenum).size(), static_cast<size_t>(3 * c.fields));
      continue;
    }
    EXPECT_EQ(ended, 0);
    const int allowed = std::string(c.max) == "3" ? 3 : 20;
    EXPECT_EQ(page(), "<PRE>\nToo many attachments in one request\n</PRE>\n<PRE>\nMaximum number of attachments is " +
                          std::to_string(allowed) + "</PRE>\n");
    EXPECT_FALSE(fs::exists(folder(casenum)));
  }
}

TEST_F(Attachments, ListingGivesOneRowPerNumberInOrder) {
  set_platform(Platform::linux);
  set("case_num", "1234.3");
  for (int i = 1; i <= 5; ++i) set(sformat("attach%d", i), sformat("text %d", i));
  set("attachdesc5", "fifth ^$ with a row end");
  ASSERT_EQ(attach_files(*list_), 0);
  home_.write("attach/1234/.hidden_x", "skipped");
  home_.write("attach/1234/notes", "no underscore: skipped");

  // Delete 1 to 4 the way the delete command does: the text the listing gave.
  for (int i = 1; i <= 4; ++i) {
    next_request();
    set("case_num", "1234");
    ASSERT_EQ(addattachdata(*list_), 0);
    std::string text = objtext(*list_, sformat("attachmentresult.VALUE"));
    std::string row = getrow_or_empty(text, 2);
    std::string name = getcol_or_empty(row, 2);
    EXPECT_EQ(name, sformat("1234/attach%d_data.html", i));
    EXPECT_EQ(delete_attachment(*list_, name), 0);
  }

  next_request();
  set("case_num", "1234");
  for (const char* n : {"attach5", "attach5modtime", "attachuser5", "attachdesc5", "attachsize5"})
    set(std::string(n) + ".TITLE", std::string("T-") + n);
  EXPECT_EQ(addattachdata(*list_), 0);
  const std::string file = in("1234", "attach5_data.html");
  EXPECT_EQ(value("attachmentresult"),
            std::string(kHeader) + "T-attach5^@1234/attach5_data.html^@T-attach5modtime^@" + modtime_text(file) +
                "^@T-attachuser5^@alice^@T-attachdesc5^@fifth $ with a row end^@T-attachsize5^@6 bytes^$");
  EXPECT_TRUE(list_->find("attachmentresult")->marked(attr::VALUE));
  EXPECT_EQ(names("1234"), (std::vector<std::string>{".hidden_x", "attach5_data.html", "attachdesc5_data.html",
                                                      "attachsize5_data.html", "attachuser5_data.html", "notes"}));

  // No folder: the header row alone.
  next_request();
  set("case_num", "999");
  EXPECT_EQ(addattachdata(*list_), 0);
  EXPECT_EQ(value("attachmentresult"), kHeader);
}

// A column without a text (no TITLE, no description file) is written "^^",
// as row/column text keeps an empty column.
TEST_F(Attachments, ListingWritesEmptyColumnsAsEmptyMarks) {
  home_.write("attach/88/attach2_a.txt", "abc");
  home_.write("attach/88/attachsize2_a.txt", "3 bytes");
  set("case_num", "88");
  set("attachuser2.TITLE", "By");
  ASSERT_EQ(addattachdata(*list_), 0);
  EXPECT_EQ(value("attachmentresult"), std::string(kHeader) + "^^^@88/attach2_a.txt^@^^^@" +
                                           modtime_text(in("88", "attach2_a.txt")) +
                                           "^@By^@^^^@^^^@^^^@^^^@3 bytes^$");
}

// What a listing passes over: the Windows build skips folders, the Linux
// build names that begin with a point. (A hidden name never reads as an
// attachment's, so only the folder shows the difference.)
TEST_F(Attachments, ListingSkipsFoldersOnlyInTheWindowsFlavour) {
  home_.write("attach/91/attach1_a.txt", "abc");
  fs::create_directories(folder("91") + "/attach2_sub");
  home_.write("attach/91/.attach3_hidden", "h");
  for (Platform p : {Platform::windows, Platform::linux}) {
    set_platform(p);
    next_request();
    set("case_num", "91");
    ASSERT_EQ(addattachdata(*list_), 0);
    const std::string table = value("attachmentresult");
    EXPECT_NE(table.find("^@91/attach1_a.txt^@"), std::string::npos) << table;
    EXPECT_EQ(table.find("attach2_sub") != std::string::npos, p == Platform::linux) << table;
    EXPECT_EQ(table.find("hidden"), std::string::npos) << table;
  }
}

// A case folder that is there but cannot be read as a folder.
TEST_F(Attachments, UnreadableCaseFolderIsReported) {
  const std::string notdir = home_.write("attach/77", "a file where the folder should be");
  EXPECT_EQ(attachmentmaxnumber(notdir), -1);
  EXPECT_EQ(page(), "<PRE>\nCan't open dir='" + notdir + "' errno=20. \n</PRE>\n");
  clear_output();
  set("case_num", "77");
  EXPECT_EQ(addattachdata(*list_), 0);
  EXPECT_EQ(page(), "<PRE>\nCan't open dir='" + notdir + "' errno=20. \n</PRE>\n");
  EXPECT_EQ(value("attachmentresult"), kHeader);
  EXPECT_EQ(attachmentmaxnumber(folder("none")), -1);  // no folder: no message
  EXPECT_EQ(page(), "<PRE>\nCan't open dir='" + notdir + "' errno=20. \n</PRE>\n");
}

// Typed text is written as the table body writes data: with line breaks
// on, which writebreakbufline switches on for the rest of the request.
TEST_F(Attachments, TypedTextSwitchesLineBreaksOn) {
  ASSERT_FALSE(reqctx().bron);
  set("case_num", "5");
  set("attach1", "a\nb");
  ASSERT_EQ(attach_files(*list_), 0);
  EXPECT_TRUE(reqctx().bron);
  EXPECT_EQ(read_file(in("5", "attach1_data.html")), "a <br> b");
}

TEST_F(Attachments, ListingSwitchesAndSettings) {
  set("case_num", "1");
  set("attach_control", "");
  EXPECT_EQ(addattachdata(*list_), 1);
  set("attach_control", "OFF");
  EXPECT_EQ(addattachdata(*list_), 1);
  set("attach_control", "ON");
  set("attachdir", "");
  EXPECT_EQ(addattachdata(*list_), -1);
  EXPECT_EQ(page(), "<PRE>\nError: attachdir is not defined in the object file. Illogical condition.</PRE>\n");
  EXPECT_EQ(value("attachmentresult"), "<none>");
}

TEST_F(Attachments, DeletingTheFourFilesOfOneAttachment) {
  for (const char* kind : {"attach", "attachdesc", "attachsize", "attachuser"}) {
    home_.write(sformat("attach/1234/%s2_report.doc", kind), "x");
    home_.write(sformat("attach/1234/%s1_report.doc", kind), "x");
  }
  EXPECT_EQ(delete_attachment(*list_, "1234/attach2_report.doc"), 0);
  EXPECT_EQ(names("1234"), (std::vector<std::string>{"attach1_report.doc", "attachdesc1_report.doc",
                                                      "attachsize1_report.doc", "attachuser1_report.doc"}));
  set("attachdir", "");
  EXPECT_EQ(exit_status([&] { delete_attachment(*list_, "1234/attach1_report.doc"); }), 0);
  EXPECT_EQ(names("1234").size(), 4u);
}

TEST_F(Attachments, DatePictureCaseNumbersUseADashedFolder) {
  set("case_num", "12/10/2024-7");
  set("attach1", "from a dated case");
  ASSERT_EQ(attach_files(*list_), 0);
  EXPECT_EQ(read_file(in("12-10-2024-7", "attach1_data.html")), "from a dated case");

  next_request();
  set("case_num", "12/10/2024-7");
  ASSERT_EQ(addattachdata(*list_), 0);
  std::string row = getrow_or_empty(value("attachmentresult"), 2);
  ASSERT_EQ(getcol(row, 2), "12-10-2024-7/attach1_data.html");
  EXPECT_EQ(delete_attachment(*list_, *getcol(row, 2)), 0);
  EXPECT_TRUE(fs::is_empty(folder("12-10-2024-7")));
}

TEST_F(Attachments, HostileNamesStayInsideTheCaseFolder) {
  // A file beside the attachments root that each attempt would reach.
  const std::string victim = home_.write("victim/attach1_f", "keep");
  home_.write("attach/x/attach1_f", "other case");
  const std::string other = home_.write("tmp/attach1.999", "another request's upload");
  auto before = snapshot(home_.path());

  for (const char* c : {"../x", "a/../../b", "..", ".5"}) {
    next_request();
    set("case_num", c);
    set("attach1", "text");
    clear_output();
    EXPECT_EQ(attach_files(*list_), 1) << c;
    EXPECT_EQ(page(), "<PRE>\nBad attachment file name\n</PRE>\n") << c;
    EXPECT_EQ(addattachdata(*list_), 1) << c;
    EXPECT_EQ(value("attachmentresult"), kHeader) << c;
    // The same case with nothing attached: no folder is needed, no message.
    next_request();
    set("case_num", c);
    clear_output();
    EXPECT_EQ(attach_files(*list_), 0) << c;
    EXPECT_EQ(page(), "") << c;
  }
  for (const char* text : {"../x/attach1_f", "a/../../victim/attach1_f", "../attach1_f", "/attach1_f",
                           "x/../../victim/attach1_f"}) {
    clear_output();
    EXPECT_EQ(exit_status([&] { delete_attachment(*list_, text); }), 0) << text;
    EXPECT_EQ(page(), "<PRE>\ndelete_attachment_num is in a wrong format\n</PRE>\n") << text;
  }
  for (const char* text : {"x/attach1", "x/attach0_f", "x/attach_f", "x/attach1_\x01", "x/attach1_..",
                           "x/attach1_"}) {
    clear_output();
    EXPECT_EQ(exit_status([&] { delete_attachment(*list_, text); }), 0) << text;
    EXPECT_EQ(page(), "<PRE>\ndelete_attachment_num is in a wrong format. exiting.\n</PRE>\n") << text;
  }
  for (const char* text : {"attach1_f", ""}) {
    clear_output();
    EXPECT_EQ(exit_status([&] { delete_attachment(*list_, text); }), 0);
    EXPECT_EQ(page(), "<PRE>\ndelete_attachment_num is in a wrong format\n</PRE>\n");
  }
  EXPECT_EQ(snapshot(home_.path()), before);

  // File names and values: stored in the case folder, as text where the value
  // is not this request's upload; the files they name stay where they are.
  next_request();
  set("case_num", "42");
  set("attach1", "one");
  set("attach1filename", "../../x");
  set("attach2", "two");
  set("attach2filename", "bad\x01name");
  set("attach3", "/etc/hostname");
  set("attach4", other);
  set("attach5", victim);
  set("attach5filename", "..");
  ASSERT_EQ(attach_files(*list_), 0);
  EXPECT_EQ(names("42"), (std::vector<std::string>{"attach1_x", "attach2_data.html", "attach3_data.html",
                                                    "attach4_data.html", "attach5_data.html", "attachsize1_x",
                                                    "attachsize2_data.html", "attachsize3_data.html",
                                                    "attachsize4_data.html", "attachsize5_data.html",
                                                    "attachuser1_x", "attachuser2_data.html",
                                                    "attachuser3_data.html", "attachuser4_data.html",
                                                    "attachuser5_data.html"}));
  EXPECT_EQ(read_file(in("42", "attach3_data.html")), "/etc/hostname");
  EXPECT_EQ(read_file(in("42", "attach4_data.html")), other);
  auto after = snapshot(home_.path());
  for (auto it = after.begin(); it != after.end();)
    it = it->first.starts_with("attach/42") ? after.erase(it) : std::next(it);
  EXPECT_EQ(after, before);
}

TEST_F(Attachments, UploadsAreMovedOnlyWholeAndOnce) {
  set("case_num", "7");
  const std::string up = upload("attach1.31", "upload bytes");
  set("attach1", up);
  set("attach1filename", "a.bin");
  set("attach2", up);  // the same upload again: stored as its path, as text
  ASSERT_EQ(attach_files(*list_), 0);
  EXPECT_EQ(read_file(in("7", "attach1_a.bin")), "upload bytes");
  EXPECT_EQ(read_file(in("7", "attach2_data.html")), up);
  EXPECT_FALSE(fs::exists(up));

  // A copy that fails half way (the "upload" cannot be read) leaves nothing
  // behind and keeps the upload for the end of the request.
  const std::string broken = home_.str() + "/tmp/attach3.31";
  fs::create_directories(broken);
  reqctx().uploads.push_back(broken);
  const std::string target = in("7", "attach9_b.bin");
  clear_output();
  EXPECT_EQ(buf2filename(*list_, target, broken), -1);
  EXPECT_EQ(page(), sformat("<PRE>\nCan't open %s file for writing errno=21\n</PRE>\n", target));
  EXPECT_FALSE(fs::exists(target));
  EXPECT_TRUE(is_saved_upload(broken));

  // An existing file or a link at the target is never written through.
  fs::create_symlink(home_.path() / "tmp" / "elsewhere", target);
  clear_output();
  EXPECT_EQ(buf2filename(*list_, target, "text"), -1);
  EXPECT_EQ(page(), sformat("<PRE>\nCan't open %s file for writing errno=17\n</PRE>\n", target));
  EXPECT_FALSE(fs::exists(home_.path() / "tmp" / "elsewhere"));

  clear_output();
  EXPECT_EQ(buf2filename(*list_, "", "text"), -1);
  EXPECT_EQ(page(), "<PRE>\nBad attachment file name\n</PRE>\n");
  EXPECT_EQ(buf2filename(*list_, in("7", "attach10_c"), ""), -1);
}

TEST_F(Attachments, ConcurrentRequestsKeepEveryAttachment) {
  constexpr int kProcesses = 16;
  set("case_num", "2024.1");
  std::vector<pid_t> children;
  for (int i = 0; i < kProcesses; ++i) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      set("attach1", sformat("text of request %d", i));
      set("attachdesc1", sformat("desc %d", i));
      int r = -2;
      try {
        r = attach_files(*list_);
      } catch (const Exit&) {
      }
      _exit(r == 0 ? 0 : 1);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  std::set<std::string> texts;
  for (int n = 1; n <= kProcesses; ++n) {
    std::string text = read_file(in("2024", sformat("attach%d_data.html", n)));
    int i = -1;
    ASSERT_EQ(std::sscanf(text.c_str(), "text of request %d", &i), 1) << "attachment " << n;
    texts.insert(text);
    EXPECT_EQ(read_file(in("2024", sformat("attachdesc%d_data.html", n))), sformat("desc %d", i));
    EXPECT_EQ(read_file(in("2024", sformat("attachsize%d_data.html", n))), sformat("%d bytes", text.size()));
    EXPECT_EQ(read_file(in("2024", sformat("attachuser%d_data.html", n))), "alice");
  }
  EXPECT_EQ(texts.size(), static_cast<size_t>(kProcesses));
  EXPECT_EQ(names("2024").size(), static_cast<size_t>(4 * kProcesses));
}

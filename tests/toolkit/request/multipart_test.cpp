// The multipart reader with its uploads, the structured header parser and
// the file-name helpers.
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <sys/resource.h>
#include <unistd.h>

#include "toolkit/cgitest.h"
#include "toolkit/base/kivcontext.h"
#include "toolkit/request/multipart.h"

using namespace kiv;
using cgitest::Body;
using cgitest::exit_status;
using kivtest::read_file;

namespace {

std::string field(const std::string& name, const std::string& value) {
  return "--B\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value + "\r\n";
}

std::string file(const std::string& name, const std::string& filename, const std::string& data,
                 const std::string& extra = "") {
  return "--B\r\nContent-Disposition: form-data; name=\"" + name + "\"; filename=\"" + filename +
         "\"\r\n" + extra + "Content-Type: application/octet-stream\r\n\r\n" + data + "\r\n";
}

const std::string kEnd = "--B--\r\n";

using Pairs = std::vector<std::pair<std::optional<std::string>, std::optional<std::string>>>;

Pairs pairs(const form_entries& list) {
  Pairs r;
  for (const form_entry& e : list) r.emplace_back(e.name, e.value);
  return r;
}

class Multipart : public cgitest::HomeTest {
 protected:
  form_entries run(const std::string& body, long length = -1) {
    set("CONTENT_TYPE", "multipart/form-data; boundary=B");
    set("CONTENT_LENGTH", std::to_string(length < 0 ? static_cast<long>(body.size()) : length));
    Body b(body);
    form_entries r = parse_multipart(b.file());
    position_ = std::ftell(b.file());
    return r;
  }
  std::string tmp(const std::string& base, int n = 0) const {
    std::string p = path("tmp/" + base + "." + std::to_string(getpid()));
    return n == 0 ? p : p + "." + std::to_string(n);
  }
  long position_ = 0;
};

}  // namespace

TEST_F(Multipart, FieldsAndAFile) {
  form_entries list = run(field("a", "1") + file("attach1.VALUE", "C:\\My Docs\\a b&c.txt", "xyz") +
                          field("KIVACTION", "up_add") + kEnd);
  const std::string saved = tmp("attach1");
  EXPECT_EQ(pairs(list), (Pairs{{"a", "1"},
                                {"attach1filename.VALUE", "a_b_c.txt"},
                                {"attach1.VALUE", saved},
                                {"KIVACTION", "up_add"},
                                {std::nullopt, std::nullopt}}));
  EXPECT_EQ(read_file(saved), "xyz");
  EXPECT_TRUE(is_saved_upload(saved));
  EXPECT_FALSE(is_saved_upload(path("tmp/other")));
  remove_saved_uploads();
  EXPECT_FALSE(cgitest::fs::exists(saved));
  EXPECT_TRUE(reqctx().uploads.empty());
}

TEST_F(Multipart, EmptyFileLeavesNothingAndEmptyFieldHasNoValue) {
  form_entries list = run(file("doc", "report.pdf", "") + field("note", "") + kEnd);
  EXPECT_EQ(pairs(list), (Pairs{{"docfilename.VALUE", "report.pdf"},
                                {"doc", std::nullopt},
                                {"note", std::nullopt},
                                {std::nullopt, std::nullopt}}));
  EXPECT_FALSE(cgitest::fs::exists(tmp("doc")));
  EXPECT_TRUE(reqctx().uploads.empty());
}

TEST_F(Multipart, EachUploadGetsItsOwnFile) {
  // Two fields of one base name used to share one file, losing the first.
  form_entries list =
      run(file("attach1.VALUE", "one.txt", "first") + file("attach1.OTHER", "two.txt", "second") + kEnd);
  ASSERT_EQ(list.size(), 5u);
  EXPECT_EQ(list[1].value, tmp("attach1"));
  EXPECT_EQ(list[3].value, tmp("attach1", 1));
  EXPECT_EQ(read_file(*list[1].value), "first");
  EXPECT_EQ(read_file(*list[3].value), "second");
  // A file that is in the way (another process's) is never reused.
  write("tmp/x." + std::to_string(getpid()), "keep");
  form_entries again = run(file("x", "a", "new") + kEnd);
  EXPECT_EQ(again[1].value, tmp("x", 1));
  EXPECT_EQ(read_file(tmp("x")), "keep");
}

TEST_F(Multipart, FieldNamesCannotLeaveTheTmpFolder) {
  form_entries list = run(file("../../etc/evil", "e", "1") + file("a/b:c", "f", "2") + kEnd);
  ASSERT_EQ(list.size(), 5u);
  EXPECT_EQ(list[1].value, tmp("upload"));  // "../../etc/evil" cut at its first point is empty
  EXPECT_EQ(list[3].value, tmp("a_b_c"));
  EXPECT_EQ(list[3].name, "a/b:c");
}

// An upload named like a scratch file of tmp (a found selection, a reader's
// result, a chart) would pass for one on the next page: its base gets
// "upload_" before it.
TEST_F(Multipart, UploadsNeverPassForScratchFiles) {
  form_entries list = run(file("tmp_datafile.VALUE", "a", "1") + file("out", "b", "2") +
                          file("chartfile", "c", "3") + file("outbox", "d", "4") + kEnd);
  ASSERT_EQ(list.size(), 9u);
  EXPECT_EQ(list[1].value, tmp("upload_tmp_datafile"));
  EXPECT_EQ(list[3].value, tmp("upload_out"));
  EXPECT_EQ(list[5].value, tmp("upload_chartfile"));
  EXPECT_EQ(list[7].value, tmp("outbox"));
}

// A file part named like the action, the menu trigger or a setting would
// make its saved copy's path the request's action (shown in a page) or a
// setting's value: it is read past, gives no entry and leaves no file. A
// field of those names is kept.
TEST_F(Multipart, UploadsNeverNameTheActionOrASetting) {
  form_entries list = run(file("KIVACTION", "a.txt", "one") + file("kivaction", "b.txt", "two") +
                          file("MenuTrig", "c", "3") + file("FIELDMAXLEN", "d", "4") +
                          file("logindir.VALUE", "e", "5") + field("KIVACTION", "start") +
                          file("attach1.VALUE", "f.txt", "kept") + kEnd);
  EXPECT_EQ(pairs(list), (Pairs{{"KIVACTION", "start"},
                                {"attach1filename.VALUE", "f.txt"},
                                {"attach1.VALUE", tmp("attach1")},
                                {std::nullopt, std::nullopt}}));
  EXPECT_EQ(kivtest::entries(path("tmp")), (std::vector<std::string>{"attach1." + std::to_string(getpid())}));
}

TEST_F(Multipart, DataThatLooksLikeADelimiterIsKept) {
  const std::string tricky = "x\r\n--C\r\n-\n--\r\r\n-A-\n-\r";
  form_entries list = run(field("t", tricky) + kEnd);
  EXPECT_EQ(list[0].value, tricky);
  // Parts separated by bare line feeds are found too.
  form_entries lf = run("--B\nContent-Disposition: form-data; name=\"a\"\n\nA\n--B\n"
                        "Content-Disposition: form-data; name=\"b\"\n\nBB\n--B--\n");
  EXPECT_EQ(pairs(lf), (Pairs{{"a", "A"}, {"b", "BB"}, {std::nullopt, std::nullopt}}));
}

TEST_F(Multipart, OnlyTheDispositionLineDecidesTheKindOfPart) {
  form_entries list =
      run(file("f", "a.bin", "data", "Content-Transfer-Encoding: binary\r\n") + kEnd);
  EXPECT_EQ(list[1].value, tmp("f"));
  EXPECT_EQ(read_file(tmp("f")), "data");
}

TEST_F(Multipart, AttachmentLimit) {
  reqctx().attachmentmaxlen = 5;
  form_entries ok = run(file("a", "a", "12345") + kEnd);
  EXPECT_EQ(read_file(tmp("a")), "12345");
  remove_saved_uploads();
  // Over the limit: both messages, every upload of the request removed.
  std::optional<int> status;
  status = exit_status([&] { run(file("a", "a", "123") + file("b", "b", "123456") + kEnd); });
  EXPECT_EQ(status, 0);
  EXPECT_NE(page().find("Data size per attachment exceeded\n"), std::string::npos);
  EXPECT_NE(page().find("Maximum attachment size is 5 bytes"), std::string::npos);
  EXPECT_FALSE(cgitest::fs::exists(tmp("a")));
  EXPECT_FALSE(cgitest::fs::exists(tmp("b")));
  EXPECT_TRUE(reqctx().uploads.empty());
  // The bytes of a broken delimiter match count against the limit too.
  EXPECT_EQ(exit_status([&] { run(file("c", "c", "1234\r\n-") + kEnd); }), 0);
  EXPECT_FALSE(cgitest::fs::exists(tmp("c")));
}

TEST_F(Multipart, AnUploadThatCannotBeWrittenWholeEndsTheRequest) {
  // A file size limit of the system stands in for a full disk.
  auto upload_under_a_limit = [&] {
    const std::string saved = tmp("big");  // of this process
    const std::string body = file("big", "big.bin", std::string(100, 'x')) + kEnd;
    set("CONTENT_TYPE", "multipart/form-data; boundary=B");
    set("CONTENT_LENGTH", std::to_string(body.size()));
    Body b(body);  // written before the limit holds
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit small;
    getrlimit(RLIMIT_FSIZE, &small);
    const rlim_t before = small.rlim_cur;
    small.rlim_cur = 16;
    setrlimit(RLIMIT_FSIZE, &small);
    std::optional<int> status = exit_status([&] { parse_multipart(b.file()); });
    bool gone = !cgitest::fs::exists(saved) && reqctx().uploads.empty();
    bool said = errors() == saved + ": " + std::strerror(EFBIG) + "\n";
    small.rlim_cur = before;
    setrlimit(RLIMIT_FSIZE, &small);
    _exit(status == 1 && gone && said ? 0 : 3);
  };
  EXPECT_EXIT(upload_under_a_limit(), ::testing::ExitedWithCode(0), "");
}

TEST_F(Multipart, ReadsNoFurtherThanTheLengthAndStopsAtAnEarlyEnd) {
  std::string body = field("a", "1") + kEnd;
  run(body + "after the body", static_cast<long>(body.size()));
  EXPECT_EQ(position_, static_cast<long>(body.size()));
  // The body ends inside a file part: the incomplete upload is not kept.
  std::string cut = field("a", "1") + file("f", "f.txt", "partial data");
  cut.resize(cut.size() - 6);
  form_entries list = run(cut, 100000);
  EXPECT_EQ(list[0].value, "1");
  EXPECT_EQ(list[2].name, "f");
  EXPECT_EQ(list[2].value, std::nullopt);
  EXPECT_FALSE(cgitest::fs::exists(tmp("f")));
}

TEST_F(Multipart, MissingVariables) {
  Body b("");
  EXPECT_EQ(exit_status([&] { parse_multipart(b.file()); }), 1);
  EXPECT_EQ(errors(), "No CONTENT_LENGTH\n");
  clear_output();
  set("CONTENT_LENGTH", "0");
  EXPECT_EQ(exit_status([&] { parse_multipart(b.file()); }), 1);
  EXPECT_EQ(errors(), "No CONTENT_TYPE\n");
  clear_output();
  for (const char* bad : {"-1", "12x", "99999999999"}) {
    set("CONTENT_TYPE", "multipart/form-data; boundary=B");
    set("CONTENT_LENGTH", bad);
    EXPECT_EQ(exit_status([&] { parse_multipart(b.file()); }), 1) << bad;
  }
  EXPECT_EQ(errors(), "Bad CONTENT_LENGTH\nBad CONTENT_LENGTH\nBad CONTENT_LENGTH\n");
  // A type without a boundary has no parts.
  set("CONTENT_TYPE", "text/plain");
  set("CONTENT_LENGTH", "3");
  Body c("a=1");
  EXPECT_EQ(pairs(parse_multipart(c.file())), (Pairs{{std::nullopt, std::nullopt}}));
}

TEST_F(Multipart, UploadsWithoutAHomeGoToTmp) {
  set("NVHOME", "");
  reqctx().nvhome.clear();
  form_entries list = run(file("nohome", "n", "z") + kEnd);
  std::string expect = "/tmp/nohome." + std::to_string(getpid());
  EXPECT_EQ(list[1].value.value_or("").substr(0, expect.size()), expect);
  remove_saved_uploads();
}

// ---- header lines ----

TEST(HeaderParser, StructuredGroupsAndAttributes) {
  header_groups g = header_structured(
      "form-data; name=\"a;\\\"b\"; filename=x.txt junk, second (a (nested) comment) ; k\r\nignored");
  ASSERT_EQ(g.size(), 2u);
  ASSERT_EQ(g[0].size(), 3u);
  EXPECT_EQ(g[0][0].token, "form-data");
  EXPECT_EQ(g[0][0].value, std::nullopt);
  EXPECT_EQ(g[0][1].value, "a;\"b");
  EXPECT_EQ(g[0][2].value, "x.txt");
  ASSERT_EQ(g[1].size(), 2u);
  EXPECT_EQ(g[1][0].token, "second");
  EXPECT_EQ(g[1][1].token, "k");
  EXPECT_EQ(header_attribute(g, "FILENAME"), "x.txt");
  EXPECT_EQ(header_attribute(g, "form-data"), "");
  EXPECT_EQ(header_attribute(g, "k"), std::nullopt);  // first group only
  EXPECT_EQ(header_attribute({}, "k"), std::nullopt);
  EXPECT_EQ(header_attribute(header_structured("text/plain; charset = us-ascii"), "charset"),
            "us-ascii");
}

TEST(HeaderParser, TokenEnds) {
  for (int c : std::initializer_list<int>{0, ' ', '\t', ',', ';', '=', '?', '@', '<', '>', '(', ')', '[', ']', 0x80, 0xFF})
    EXPECT_EQ(eoa(c), 1) << c;
  for (int c : std::initializer_list<int>{'a', 'Z', '0', '-', '/', '.', '"', '!'}) EXPECT_EQ(eoa(c), 0) << c;
}

TEST(HeaderParser, KindsAndAddresses) {
  parsed_header s = header_parse(1, "Content-Disposition:   form-data; name=x");
  EXPECT_EQ(s.name, "Content-Disposition");
  ASSERT_TRUE(s.groups);
  EXPECT_EQ(header_attribute(*s.groups, "name"), "x");
  EXPECT_EQ(header_parse(0, "Subject: hello there").text, "hello there");
  EXPECT_EQ(header_parse(3, "From: \"Ann Lee\" <ann@example.org>").text, "ann@example.org");
  parsed_header empty = header_parse(1, "X-Empty:   ");
  EXPECT_FALSE(empty.groups);
  EXPECT_FALSE(empty.text);
  EXPECT_EQ(header_address("bob@example.org (Bob)"), "bob@example.org");
  EXPECT_EQ(header_address("  carl@example.org  trailing"), "carl@example.org");
  EXPECT_EQ(header_address("Ann Lee <ann@example.org>"), "ann@example.org");
  EXPECT_EQ(header_address("Dan (work) < dan@example.org >"), "dan@example.org");
}

TEST(FileNames, Trans) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {{"C:\\Documents\\my file&x.txt", "my_file_x.txt"},
               {"  /home/ann/report.pdf \r\n", "report.pdf"},
               {"D:name", "name"},
               {"a%?*)(}{^#!'&~b", "a_____________b"},
               {"", ""}};
  for (const Case& c : cases) EXPECT_EQ(trans(c.in), c.out) << c.in;
}

TEST(FileNames, Getnamefromline) {
  struct Case {
    const char* line;
    const char* name;
  } cases[] = {{"Content-Disposition: form-data; name=\"f\"; filename=\"a b.txt\"\r\n", "a b.txt"},
               {"Content-Disposition: form-data; name=\"f\"\r\n", "Noname"},
               {"Content-Disposition: form-data; filename=plain\r\n", "Noname"},
               {"Content-Disposition: form-data; filename=\"open.txt\r\n", "open.txt\r\n"},
               {"Content-Disposition: form-data; FILENAME=\"x\"", "Noname"}};
  for (const Case& c : cases) EXPECT_EQ(getnamefromline(c.line), c.name) << c.line;
}

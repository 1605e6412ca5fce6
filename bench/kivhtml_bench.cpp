// Cost of printing a page: every request ends by running a template. A find
// result page with a 1,000-row table of eight columns (links carrying the
// record and the session key, escaped and URL-encoded values), and a 20 KB
// form page of plain markers without a table, printed into a discarding sink.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "platform/output.h"
#include "toolkit/base/kivfmt.h"
#include "toolkit/pages/kivhtml.h"
#include "toolkit/objects/kivobj.h"
#include "toolkit/base/kivpath.h"

using namespace kiv;

namespace {

class NullSink : public Sink {
 public:
  void write(std::string_view text) override { bytes += text.size(); }
  size_t bytes = 0;
};

constexpr int kRows = 1000;

std::string find_result() {
  std::string t = "case_num^@status^@priority^@submitted_by^@assigned_to^@subject^@date_open^@problem^$";
  for (int i = 0; i < kRows; ++i)
    t += sformat("%d.0^@%s^@%s^@user%d^@staff%d^@Printer <%d> jams & smokes^@11/%02d/2024^@"
                 "The printer on floor %d stops with \"paper jam\" after a few pages.^$",
                 10000 + i, i % 3 ? "Open" : "Closed", i % 2 ? "High" : "Low", i % 50, i % 7, i, i % 28 + 1, i % 9);
  return t;
}

const char* kFindPage =
    "<html><head><title>Find</title></head>\n<HEAD><TITLE>MB{page_title.VALUE}ME</TITLE></HEAD>\n"
    "<body bgcolor=\"#background\">\n<h1>MB{page_title.VALUE}ME</h1><p>FB{findresultnum.VALUE}FE cases</p>\n"
    "<form action=\"up\" method=\"post\">HB{hidedatafile.VALUE}HE\n"
    "<table bgcolor=\"#header\">\n<tr><th>#</th><th>Case</th><th>Status</th><th>Priority</th><th>By</th>"
    "<th>To</th><th>Subject</th><th>Opened</th></tr>\n"
    "TB{TNB{findresult}TNE<tr><td>CB{rec_serial_num}CE/CB{total_recs_num}CE</td>"
    "<td><a href=\"up?KIVACTION=vrow2form&rec=CB{rec_data}CE\">CB{case_num}CE</a></td>"
    "<td>CB{status}CE</td><td>CB{priority}CE</td><td>CB{submitted_by}CE</td><td>CB{assigned_to}CE</td>"
    "<td><a href=\"up?KIVACTION=find&subject=LCB{subject}LCE\">CB{subject}CE</a></td><td>CB{date_open}CE</td></tr>\n"
    "}TE\n</table>\n<input type=\"submit\" value=\"Print\"></form>\n</body></html>\n";

std::string form_page() {
  std::string t = "<html><body bgcolor=\"#background\"><form action=\"up\" method=\"post\">\n";
  while (t.size() < 20000)
    t += "<tr><td>MB{field_a.TITLE}ME</td><td><input name=\"field_a.VALUE\" value=\"FB{field_a.VALUE}FE\"></td>"
         "<td><select name=\"prio.VALUE\"><option selected>DB{prio.VALUE}DE</select></td>"
         "<td>RB{sex#M}RE RB{sex#F}RE</td><td><a href=\"up?KIVACTION=vhelp&topic=a\">help</a></td></tr>\n";
  return t + "</form></body></html>\n";
}

struct Pages {
  Pages() {
    dir = std::filesystem::temp_directory_path() / sformat("kivhtmlbench.%d", static_cast<int>(getpid()));
    std::filesystem::create_directories(dir);
    find = (dir / "find.html").string();
    form = (dir / "form.html").string();
    write_file_atomic(find, kFindPage);
    write_file_atomic(form, form_page());
    setenv("skey", "41207938501234567890", 1);
    adduniqobj(list, "page_title.VALUE", "Find results");
    adduniqobj(list, "findresultnum.VALUE", std::to_string(kRows));
    adduniqobj(list, "hidedatafile.VALUE", "/srv/helpdesk/tmp/tmp_datafile.1700000000.42");
    adduniqobj(list, "findresult.VALUE", find_result());
    adduniqobj(list, "color_scheme.VALUE", "background-ffffff^@header-c0c0c0^$");
    adduniqobj(list, "field_a.TITLE", "Subject");
    adduniqobj(list, "field_a.VALUE", "Printer <HP> & \"tray\"");
    adduniqobj(list, "prio.VALUE", "High^@Low^@High^@Medium^@Urgent^$");
    adduniqobj(list, "sex.VALUE", "M");
  }
  ~Pages() { std::filesystem::remove_all(dir); }
  std::filesystem::path dir;
  std::string find, form;
  objlist list;
};

Pages& pages() {
  static Pages p;
  return p;
}

void run(benchmark::State& state, const std::string& path) {
  NullSink sink;
  set_out(&sink);
  for (auto _ : state) printhtml(&pages().list, path);
  set_out(nullptr);
  state.SetBytesProcessed(static_cast<int64_t>(sink.bytes));
  state.counters["page_bytes"] = static_cast<double>(sink.bytes) / static_cast<double>(state.iterations());
}

void BM_FindPage1000Rows(benchmark::State& state) { run(state, pages().find); }
BENCHMARK(BM_FindPage1000Rows)->Unit(benchmark::kMicrosecond);

void BM_FormPage20KB(benchmark::State& state) { run(state, pages().form); }
BENCHMARK(BM_FormPage20KB)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();

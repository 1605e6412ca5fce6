// The bar-code commands (see upbarcode.h). The tools run from argument
// vectors through the process layer, found on the search path that the
// command start-up puts the home's client/bin in front of: no value of a
// request ever reaches a shell.
#include "commands/upbarcode.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <optional>

#include "commands/upskeleton.h"
#include "engine/upfile.h"
#include "platform/exit.h"
#include "platform/output.h"
#include "platform/process.h"
#include "toolkit/base/kivcgitrace.h"
#include "toolkit/base/kivfmt.h"
#include "toolkit/base/kivcontext.h"
#include "toolkit/objects/kivobj.h"
#include "toolkit/text/rowcol.h"

namespace kiv {

namespace {

// A required setting: its value, or its message and the end with status 1.
std::string required(const objlist& objs, std::string_view object) {
  std::string v = objtext(objs, object, "VALUE");
  if (v.empty()) {
    errmsg("%s is blank", object);
    throw Exit{1};
  }
  return v;
}

// The number of labels: bc_label_qnt as a whole number from 1 to
// kLabelsMax, in plain decimal. Anything else is refused as a missing
// quantity is: the printer never gets a count it cannot mean.
std::string label_quantity(const objlist& objs) {
  const std::string v = required(objs, "bc_label_qnt");
  long n = 0;
  bool number = v.size() <= 9;
  for (char c : v) {
    if (c < '0' || c > '9') number = false;
    if (number) n = n * 10 + (c - '0');
  }
  if (!number || n < 1 || n > kLabelsMax) {
    kivtrace("bc_label_qnt '%s' is not a number of labels from 1 to %d\n", v, static_cast<long long>(kLabelsMax));
    errmsg("%s is blank", "bc_label_qnt");
    throw Exit{1};
  }
  return std::to_string(n);
}

// Runs a tool; its standard output (up to kToolOutputMax bytes) goes into
// the page escaped, where the command interpreter used to put it as it was,
// and with the home as NVHOME, as a message's paths are.
process::Result run_tool(const std::vector<std::string>& argv, process::Options& options) {
  options.env = process::safe_environment();
  options.capture_output = true;
  options.capture_limit = kToolOutputMax;
  process::Result r = process::run(argv, options);
  if (!r.output.empty()) out() << page_escape(r.output);
  if (r.cut)
    kivtrace("%s wrote more than %d bytes; the rest is not shown\n", argv[0], static_cast<long long>(kToolOutputMax));
  return r;
}

// The reader's result and error files, created empty and exclusively under
// names that no other request has: "out." and "err." followed by the
// process id, the time and a counter.
struct ReaderFiles {
  std::string result, error;
};

ReaderFiles reader_files(const std::string& home) {
  const std::string folder = home + "/tmp/";
  const std::string id = sformat(".%d.%d.", static_cast<long long>(::getpid()),
                                 static_cast<long long>(std::time(nullptr)));
  for (int n = 0;; ++n) {
    const std::string ending = id + std::to_string(n);
    ReaderFiles f{folder + "out" + ending, folder + "err" + ending};
    const int made = create_exclusive(f.result);
    if (made == 0) continue;
    if (made > 0) {
      const int err_made = create_exclusive(f.error);
      if (err_made > 0) return f;
      ::unlink(f.result.c_str());
      if (err_made == 0) continue;
      f.result = f.error;
    }
    errmsg("Cannot open file <%s> errno=%d \n", f.result, errno);
    throw Exit{1};
  }
}

// The end of an intake that read nothing usable: its status.
int no_data(const ReaderFiles& files, const std::string& errors) {
  ::unlink(files.result.c_str());
  errmsg("No Data has been read from the barcode reader\n");
  errmsg("Please try again!");
  if (!errors.empty()) errmsg("Error: '%s'", errors);
  return 1;
}

}  // namespace

std::chrono::seconds reader_limit(const std::string& timeout) {
  const long long wait = std::clamp<long long>(std::atoll(timeout.c_str()), 1, kReaderWaitMax.count());
  return std::chrono::seconds(wait) + kReaderSilence + kReadingTime;
}

int code_label(const std::vector<std::string>& words, exlist* request) {
  objholder objs =
      handler_begin(words, {2, "Wrong usage: code_label templatefile flags\n"}, request, RequestCopy::all);
  // Without case objects every required setting is blank.
  if (!objs) objs = std::make_unique<objlist>();
  const objlist& l = *objs;
  const std::string port = required(l, "bc_printer_port");
  const std::string format = required(l, "bc_label_format");
  const std::string header = required(l, "bc_label_header");
  const std::string label = required(l, "bc_label");
  const std::string quantity = label_quantity(l);
  const std::string path = sformat("%s/client/config/%s", reqctx().nvhome, format);
  kivtrace("CMD=%s", sformat("tagwriter -f %s -b %s -q %s -l \"%s\" -d %s ", path, label, quantity, header, port));
  process::Options options;
  options.limit = kLabelLimit;
  const process::Result r =
      run_tool({"tagwriter", "-f", path, "-b", label, "-q", quantity, "-l", header, "-d", port}, options);
  if (!r.ok()) {
    errmsg("The label printer tool %s failed: %s\n", "tagwriter", process::describe(r, options));
    return 1;
  }
  return handler_page(&l, words);
}

std::string barcodetable(const std::string& result) {
  const int rows = getrowcount(result);
  const std::string keyrow = getrow_or_empty(result, 1);
  const int columns = getcolcount(keyrow);
  std::string t = "<center><table border=\"1\" bgcolor=\"c0c0c0\">";
  for (int i = 1; i <= rows; ++i) {
    const std::string row = getrow_or_empty(result, i);
    t += "<tr>";
    for (int j = 1; j <= columns; ++j) {
      if (j == 1) {
        t += "<td> <font color=\"000000\">";
        t += i == 1 ? std::string("row #") : std::to_string(i - 1);
        t += "</td>";
      }
      t += "<td> <font color=\"000000\">";
      t += html_escape(getcol_or_empty(row, j));
      t += "</td>";
    }
    t += "</tr>";
  }
  t += "</table></center>";
  return t;
}

namespace {

// The reader's settings of an intake, read in the order the tool's options
// take them.
struct ReaderSettings {
  std::string port, boption, koption, save, timeout;
};

// The settings of an intake: the required ones end the process with their
// message (see required); none after "bad boption" or "bad koption" when the
// scheme lacks its first or second row.
std::optional<ReaderSettings> reader_settings(const objlist& l) {
  ReaderSettings s;
  s.port = required(l, "bc_reader_port");
  const std::string scheme = required(l, "bc_scheme");
  s.boption = getrow_or_empty(scheme, 1);
  if (s.boption.empty()) {
    errmsg("bad boption");
    return std::nullopt;
  }
  s.koption = getrow_or_empty(scheme, 2);
  if (s.koption.empty()) {
    errmsg("bad koption");
    return std::nullopt;
  }
  kivtrace("Boption='%s' Koption='%s'\n", s.boption, s.koption);
  s.save = objtext(l, "bc_save_file", "VALUE");
  s.timeout = required(l, "bc_timeout");
  return s;
}

// Runs tagscanner over the settings into the result and error files, traced
// as its command line; its result under `options` (the time limit set here).
process::Result run_scanner(const ReaderSettings& s, const ReaderFiles& files, process::Options& options) {
  std::vector<std::string> argv{"tagscanner", "-b", s.boption, "-k", s.koption, "-t", s.timeout, "-d", s.port};
  std::string traced =
      sformat("tagscanner -b \"%s\" -k \"%s\" -t %s -d %s", s.boption, s.koption, s.timeout, s.port);
  if (!s.save.empty()) {
    argv.insert(argv.end(), {"-o", s.save});
    traced += sformat(" -o \"%s\"", s.save);
  }
  argv.insert(argv.end(), {"-a", files.result, "-e", files.error});
  traced += sformat(" -a \"%s\" -e \"%s\"", files.result, files.error);
  kivtrace("CMD=%s", traced);
  options.limit = reader_limit(s.timeout);
  return run_tool(argv, options);
}

// Hands a whole scan on: the result file as the request's own scratch file,
// the table, the row count and the tool's errors as objects. False after the
// message when the owner file cannot be written (the result file removed).
bool hand_on_scan(objlist& l, const ReaderFiles& files, const std::string& result, const std::string& errors,
                  int rows) {
  if (!write_ownerfile(files.result)) {
    errmsg("Can't write file '%s' errno=%d\n", ownerfile_path(files.result), errno);
    ::unlink(files.result.c_str());
    return false;
  }
  adduniqobj(l, "hidedatafile.VALUE", hidedatafile_value(files.result));
  // The table's own markup is the program's; every scanned cell in it is
  // escaped by barcodetable.
  adduniqobj(l, "barcodedata.VALUE", barcodetable(result));
  adduniqobj(l, "barcodedatacount.VALUE", std::to_string(rows - 1));
  if (errors.empty())
    adduniqobj(l, "errmsg.VALUE", "No Error");
  else
    adduniqobj(l, "errmsg.VALUE", errors, Origin::record);
  return true;
}

}  // namespace

int code_intake(const std::vector<std::string>& words, exlist* request) {
  objholder objs =
      handler_begin(words, {2, "Wrong usage: code_intake templatefile flags\n"}, request, RequestCopy::all);
  // Without case objects every required setting is blank.
  if (!objs) objs = std::make_unique<objlist>();
  objlist& l = *objs;
  const std::optional<ReaderSettings> reader = reader_settings(l);
  if (!reader) return 1;

  const ReaderFiles files = reader_files(reqctx().nvhome);
  process::Options options;
  const process::Result r = run_scanner(*reader, files, options);

  const std::string result = up_readfile(files.result).value_or(std::string());
  const std::string errors = up_readfile(files.error).value_or(std::string());
  ::unlink(files.error.c_str());
  if (!r.started || r.timed_out || r.signal != 0)
    errmsg("The bar-code reader tool %s failed: %s\n", "tagscanner", process::describe(r, options));
  const int rows = getrowcount(result);
  kivtrace("Rowcount=%d\n", rows);
  // Only a whole run leaves records: a tool that failed may have left rows
  // of an unfinished scan.
  if (!r.ok() || rows < 2) return no_data(files, errors);

  // The result file is handed on as the request's own scratch file.
  if (!hand_on_scan(l, files, result, errors, rows)) return 1;
  return handler_page(&l, words);
}

}  // namespace kiv

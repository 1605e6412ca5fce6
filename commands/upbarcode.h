// The bar-code commands: code_label prints labels through the label printer
// tool `tagwriter`, code_intake reads scanned codes through the reader tool
// `tagscanner` and shows them as a table, keeping the reader's result file
// for a following batch add. `up` runs them under code_label/code__label and
// code_intake/code__intake; on Linux they are the programs codelabel and
// codeintake.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

#include "toolkit/request/kivexfile.h"

namespace kiv {

// tagscanner first waits bc_timeout seconds, then reads until the reader has
// been silent through four waits of 3 s. Its time limit is that wait (at
// most kReaderWaitMax) plus the silence plus kReadingTime for the scanning
// itself, so a reader that keeps sending cannot hold the request for good.
inline constexpr std::chrono::seconds kReaderWaitMax{600};
inline constexpr std::chrono::seconds kReaderSilence{12};
inline constexpr std::chrono::seconds kReadingTime{60};

// The most labels one request prints.
inline constexpr long kLabelsMax = 9999;

// tagwriter's limit: the process layer's default.
inline constexpr std::chrono::seconds kLabelLimit{60};

// The most of a tool's standard output the page shows; the rest is read and
// dropped, so a tool that keeps writing neither blocks nor fills memory.
inline constexpr std::size_t kToolOutputMax = 64 * 1024;

// The limit of a tagscanner run for a bc_timeout text (its leading number;
// below 1 counts as 1).
std::chrono::seconds reader_limit(const std::string& timeout);

// Prints a label: needs bc_printer_port, bc_label_format, bc_label_header,
// bc_label and bc_label_qnt ("<name> is blank", status 1, in that order;
// a quantity that is not a whole number from 1 to kLabelsMax is refused as
// a blank one, and goes to the tool in plain decimal), runs tagwriter from
// an argument vector (each value one argument), shows its standard output
// escaped and then the page words[1]. A tool that could
// not start, ended non-zero or was killed at its limit is reported and gives
// 1; else the page's status. Fewer than two words: "Wrong usage: code_label
// templatefile flags\n", status 2. A missing setting ends the process.
int code_label(const std::vector<std::string>& words, exlist* request);

// Reads bar codes: needs bc_reader_port, bc_scheme (row 1 the tag scheme,
// row 2 the key row), bc_timeout; bc_save_file is optional. Runs tagscanner
// into a result file "<home>/tmp/out.<pid>.<time>.<n>" and an error file
// "err." with the same ending, both created exclusively. A tool that failed
// or a result of fewer than two rows gives "No Data has been read from the
// barcode reader\n" (with the error file's text) and status 1, and the
// result file is removed; else hidedatafile.VALUE names it (by its path
// relative to the home, hidedatafile_value), barcodedata.VALUE holds the
// table (every cell escaped), barcodedatacount.VALUE the number of records
// and errmsg.VALUE the error text or "No Error", and the status is the
// page's (words[1]). The error file is removed once read. Fewer than two
// words: "Wrong usage: code_intake templatefile flags\n", status 2. A
// missing setting ends the process.
int code_intake(const std::vector<std::string>& words, exlist* request);

// The table of a result text (key row first): "row #" and the record numbers
// in a first column, every cell HTML-escaped, rows short of the key row's
// columns filled with empty cells.
std::string barcodetable(const std::string& result);

}  // namespace kiv

// The driver results and the functions both database back ends build them
// with. A driver call leaves its rows in `odbcdata`, its column names in
// `odbckey` and the database's error text in `odbcerror`; the rows pass
// through a scratch file under the home's tmp folder on their way.
// One instance per process; tests reset it with reset_driver_results().
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "toolkit/base/kivio.h"

namespace kiv {

// Size of the error text, its terminating NUL included: odbcerror never holds
// more than kOdbcErrorSize - 1 bytes.
inline constexpr size_t kOdbcErrorSize = 5120;

// Spare room readodbcfile leaves beyond a file's text.
inline constexpr size_t kOdbcDataSpare = 102400;

// The scratch file's stream buffer: a result of many rows goes out in few
// writes.
inline constexpr size_t kScratchBuffer = 64 * 1024;

struct DriverResults {
  // Rows of the last result in row/column text, no header row; none when the
  // last statement had no result columns (or the call failed early).
  std::optional<std::string> odbcdata;
  // Column names of the last result as one row ("^@" between, "^$" after);
  // none when there were no result columns.
  std::optional<std::string> odbckey;
  // The database's error messages of the last call; empty when none.
  std::string odbcerror;
  // The name of the database product the last describe reached, as its
  // driver reports it (ODBC's SQL_DBMS_NAME, such as "SQLite" or
  // "PostgreSQL"); empty after any other call, and when the driver names
  // none. The SQL generator writes dates in the form that database orders.
  std::string dbms_name;

  // The scratch file of the current call: its path, and the open stream (null
  // once closed) with its buffer of kScratchBuffer bytes (made at the first
  // call, kept for the next; it outlives the stream). `odbcfile_errno` is the
  // error of the first write that did not reach it (0 while every write did).
  std::string odbcfilename;
  std::unique_ptr<char[]> odbcfilebuf;
  FilePtr odbcfilep;
  int odbcfile_errno = 0;
  // True once this process's first call has seen to the sweep of stale
  // scratch files (kOdbcSweepMarker).
  bool odbcfile_swept = false;
  // A call without a scratch file (CallRows::in_memory) gathers its row text
  // here.
  bool rows_in_memory = false;
  std::string odbcrows;
};

DriverResults& driver_results();

// Back to a new process's state; a scratch file still open is closed and
// removed.
void reset_driver_results();

// The file under the home's tmp whose modification time says when the
// scratch files of killed calls were last cleared.
inline constexpr std::string_view kOdbcSweepMarker = ".odbcfile-swept";

// Where the row text of a driver call goes: into the scratch file, or, for
// a describe, whose one row of column types is all it writes, into memory,
// with no file made.
enum class CallRows { scratch_file, in_memory };

// Starts a driver call: at the process's first call, removes scratch files of
// earlier calls older than an hour (regular files only; the tmp folder is
// looked through at most once an hour, as kOdbcSweepMarker records); drops
// the previous odbcdata and odbckey and empties odbcerror; and, unless the
// rows stay in memory, creates the scratch file
// "<home>/tmp/odbcfile.<time>.<pid>" (home = reqctx().nvhome). When the file
// cannot be created it prints "Cannot open tmp file '%s'. errno=%d\n" and ends
// the process with status -1.
void initp(CallRows rows = CallRows::scratch_file);

// Appends a text to the scratch file (or the call's rows in memory); an empty
// text writes nothing and gives -1, otherwise 0.
int addd(std::string_view text);

// Appends the row end "^$" to the scratch file.
int dollard();

// How addk treats a column name: the ODBC back end lower-cases, the
// PostgreSQL back end keeps the case.
enum class KeyCase { lower, keep };

// Appends a text to odbckey (starting it when none); an empty text is ignored.
void addk(std::string_view text, KeyCase keycase = KeyCase::lower);

// Ends the key row: a trailing "^@" becomes "^$". Nothing when odbckey is
// none or empty.
void dollark();

// Reads a whole file. Failures show "readodbcfile: can't stat '%s' errno=%d\n"
// or "Cannot open file <%s> \n" through errmsg and give none.
std::optional<std::string> readodbcfile(const std::string& path);

// Lower-cases a text in place and gives it back.
std::string& ToLower(std::string& text);

// Appends to odbcerror, dropping whatever would not fit in its size.
void adderror(std::string_view text);

// Closes the scratch file when it is open. False when a write to it failed
// (the rows it holds are incomplete).
bool closeodbcfile();

// Deletes the scratch file when there is one; the name is forgotten.
void removeodbcfile();

// Rows kept in memory become odbcdata as they are. Otherwise reads the
// scratch file into odbcdata through its open stream (flushed, then read
// from the start; no second open), closes it and deletes it. False (and
// odbcdata none) when the rows could not be written or read back whole:
// a failed write is reported in odbcerror as
// "Cannot write tmp file '%s'. errno=%d\n"; a failed read through errmsg, as
// readodbcfile reports its failures, or as "readodbcfile: can't read '%s' errno=%d\n".
bool readback_odbcfile();

}  // namespace kiv

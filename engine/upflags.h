// The engine flags: process-wide switches that one command handler sets for
// the case engine before it runs an operation. One instance per process;
// tests reset it with reset_engineflags().
#pragma once

#include <string>

namespace kiv {

// The value of `doingassign` while the assignment command answers its cases:
// the problem and resolution logs are not appended then (stamps still are).
inline constexpr int kDoingAssign = 127456;

struct EngineFlags {
  // Set by the chart command: find keeps its order list as `chartkey` and
  // writes chart data for that column.
  int chartflag = 0;
  std::string chartkey;
  // kDoingAssign while the assignment command runs, else 0.
  int doingassign = 0;
  // Set by the assignment command before each case: the mail trigger looks
  // the submitter's and staff member's addresses up again for every case.
  int multiassignflag = 0;
  // 1 while a command has its own error page: find leaves its "No record to
  // display" message out.
  int finderror = 0;
  // Set by the record transfer's handler from its argument: the ODBC data
  // source the records are read from (the system's remote host).
  std::string remotehost;
  // The error-page flag: 1 while a query page (up_gsql, and the command that
  // puts a record onto its form) has an error page to show in place of the
  // message of a failed query.
  int errorpageflag = 0;
};

EngineFlags& engineflags();
void reset_engineflags();

}  // namespace kiv

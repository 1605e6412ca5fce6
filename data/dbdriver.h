// The driver interface: the two operations through which every statement
// reaches a database. Execute runs a statement, describe runs one to learn
// its result columns and their types; both leave their results in
// driver_results() (webhandle_db.h). The back end follows the flavour: the
// ODBC layer in the Windows programs, the one a Linux program's main installs
// (the PostgreSQL driver) in the Linux programs.
#pragma once

#include <string>

#include "platform/flavour.h"

namespace kiv {

// One back end. `host` is ignored by both (callers pass null); `timeout` is in
// seconds (0: the back end's default). Results: 0 success, negative failure.
struct DbDriver {
  const char* name;
  int (*exec)(const char* host, int timeout, const std::string& database,
              const std::string& statement);
  int (*info)(const char* host, int timeout, const std::string& database,
              const std::string& statement);
};

// The ODBC layer (iodbc.cpp).
const DbDriver& odbc_driver();

// The back end of the Linux flavour; a Linux program's main installs it
// before its first statement. Null removes it.
void set_linux_driver(const DbDriver* driver);

// The back end of a flavour; null when none is installed.
const DbDriver* driver_for(Platform flavour);

// Execute and describe through the back end of this process's flavour. Without
// one the driver results are emptied, odbcerror says so, and the result is -1.
int kivodbcexec(const char* host, int timeout, const std::string& database,
                const std::string& statement);
int kivodbcinfo(const char* host, int timeout, const std::string& database,
                const std::string& statement);

}  // namespace kiv

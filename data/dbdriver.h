// The driver interface: the two operations through which every statement
// reaches a database. Execute runs a statement, describe runs one to learn
// its result columns and their types; both leave their results in
// driver_results() (webhandle_db.h). The back end follows the flavour: the
// ODBC layer in the Windows programs, the one a Linux program's main installs
// (the PostgreSQL driver) in the Linux programs. A lone call connects and
// disconnects; the calls of one record operation share one connection
// (OperationConnection).
#pragma once

#include <string>

#include "platform/flavour.h"

namespace kiv {

// One back end. `host` is ignored by both (callers pass null); `timeout` is in
// seconds (0: the back end's default). Results: 0 success, negative failure.
// While connection_shared() is true a back end keeps the connection of a call
// that went well for the next call to the same database; `close_kept` closes
// the one it keeps (nothing when it keeps none).
struct DbDriver {
  const char* name;
  int (*exec)(const char* host, int timeout, const std::string& database,
              const std::string& statement);
  int (*info)(const char* host, int timeout, const std::string& database,
              const std::string& statement);
  void (*close_kept)();
};

// The connection of one record operation. While one lives, the driver calls
// of this process to one database run on one connection: the first call
// opens it, the later ones use it, and the end of the outermost
// OperationConnection closes it. A call that fails closes it too, so that the
// next one starts on a new connection. Outside one, every call connects and
// disconnects. Not to be held across a fork.
class OperationConnection {
 public:
  OperationConnection();
  ~OperationConnection();
  OperationConnection(const OperationConnection&) = delete;
  OperationConnection& operator=(const OperationConnection&) = delete;
};

// True while an OperationConnection is open.
bool connection_shared();

// The driver interface's own counts, for the trace and the tests: how many
// connections the back ends of this process opened, and how many calls ran
// on a connection that an earlier call had opened. Tests reset them.
struct DriverConnections {
  int depth = 0;  // open OperationConnection scopes
  long opened = 0;
  long reused = 0;
};
DriverConnections& driver_connections();

// A back end records each connection it opens and each call that runs on a
// kept one.
inline void count_connection_opened() { ++driver_connections().opened; }
inline void count_connection_reused() { ++driver_connections().reused; }

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

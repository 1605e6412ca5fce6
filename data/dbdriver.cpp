// The driver interface: picks the back end of the process's flavour.
#include "data/dbdriver.h"

#include "data/webhandle_db.h"
#include "platform/state.h"
#include "toolkit/base/kivcgitrace.h"

namespace kiv {

namespace {

void forget_linux_driver();

const DbDriver*& linux_driver() {
  static const DbDriver* d = nullptr;
  KIV_REGISTER_RESET(&forget_linux_driver);
  return d;
}

void forget_linux_driver() { linux_driver() = nullptr; }

void reset_driver_connections();

// Closes what the back ends keep: the ODBC layer's, and the Linux driver's
// when one is installed.
void close_kept_connections() {
  odbc_driver().close_kept();
  if (const DbDriver* d = linux_driver()) d->close_kept();
}

void reset_driver_connections() {
  close_kept_connections();
  driver_connections() = DriverConnections{};
}

// A process of a flavour without a back end: nothing can run.
int no_driver() {
  DriverResults& r = driver_results();
  r.odbcdata.reset();
  r.odbckey.reset();
  r.odbcerror.clear();
  adderror("No database driver in this program\n");
  return -1;
}

}  // namespace

DriverConnections& driver_connections() {
  static DriverConnections c;
  KIV_REGISTER_RESET(&reset_driver_connections);
  return c;
}

OperationConnection::OperationConnection() { ++driver_connections().depth; }

OperationConnection::~OperationConnection() {
  DriverConnections& c = driver_connections();
  if (c.depth > 0 && --c.depth == 0) close_kept_connections();
}

bool connection_shared() { return driver_connections().depth > 0; }

void set_linux_driver(const DbDriver* driver) {
  // A driver that goes gives up what it keeps.
  if (linux_driver() && linux_driver() != driver) linux_driver()->close_kept();
  linux_driver() = driver;
}

const DbDriver* driver_for(Platform flavour) {
  return flavour == Platform::windows ? &odbc_driver() : linux_driver();
}

int kivodbcexec(const char* host, int timeout, const std::string& database,
                const std::string& statement) {
  kivtrace("kivodbcexec statement='%s'\n", statement);
  const DbDriver* d = driver_for(platform());
  return d ? d->exec(host, timeout, database, statement) : no_driver();
}

int kivodbcinfo(const char* host, int timeout, const std::string& database,
                const std::string& statement) {
  kivtrace("kivodbcinfo statement='%s'\n", statement);
  const DbDriver* d = driver_for(platform());
  return d ? d->info(host, timeout, database, statement) : no_driver();
}

}  // namespace kiv

// The driver interface: picks the back end of the process's flavour.
#include "data/dbdriver.h"

#include "data/webhandle_db.h"
#include "platform/state.h"

namespace kiv {

namespace {

void forget_linux_driver();

const DbDriver*& linux_driver() {
  static const DbDriver* d = nullptr;
  KIV_REGISTER_RESET(&forget_linux_driver);
  return d;
}

void forget_linux_driver() { linux_driver() = nullptr; }

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

void set_linux_driver(const DbDriver* driver) { linux_driver() = driver; }

const DbDriver* driver_for(Platform flavour) {
  return flavour == Platform::windows ? &odbc_driver() : linux_driver();
}

int kivodbcexec(const char* host, int timeout, const std::string& database,
                const std::string& statement) {
  const DbDriver* d = driver_for(platform());
  return d ? d->exec(host, timeout, database, statement) : no_driver();
}

int kivodbcinfo(const char* host, int timeout, const std::string& database,
                const std::string& statement) {
  const DbDriver* d = driver_for(platform());
  return d ? d->info(host, timeout, database, statement) : no_driver();
}

}  // namespace kiv

// The ODBC configuration of a test process: odbcinst.ini with Debian's
// PostgreSQL (ANSI) and SQLite drivers and an odbc.ini of data sources, both
// in a temporary folder that ODBCSYSINI and ODBCINI name. Tests add the data
// sources they need, each under a name of its own, so that suites running in
// parallel never share a database.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <map>
#include <unistd.h>
#include <string>
#include <vector>

#include "support/services.h"
#include "support/testsupport.h"

namespace kivtest {

// The folder of the ODBC driver libraries, found by the PostgreSQL driver.
inline std::string odbc_driver_dir() {
  for (const char* d : {"/usr/lib/x86_64-linux-gnu/odbc", "/usr/lib/aarch64-linux-gnu/odbc",
                        "/usr/lib/odbc", "/usr/lib64/odbc"})
    if (fs::exists(fs::path(d) / "psqlodbca.so") || fs::exists(fs::path(d) / "libsqlite3odbc.so")) return d;
  return "/usr/lib/x86_64-linux-gnu/odbc";
}

// Empty when the driver library is installed, else the reason.
inline std::string odbc_driver_missing(const std::string& library) {
  std::string path = odbc_driver_dir() + "/" + library;
  if (fs::exists(path)) return "";
  return "ODBC driver " + path + " is not installed (Debian packages odbc-postgresql, libsqliteodbc)";
}

class OdbcConfig {
 public:
  static OdbcConfig& get() {
    static OdbcConfig c;
    return c;
  }

  // Adds (or replaces) a data source and rewrites odbc.ini.
  void add_dsn(const std::string& name, const std::map<std::string, std::string>& attrs) {
    dsns_[name] = attrs;
    write_ini();
  }

  void remove_dsn(const std::string& name) {
    dsns_.erase(name);
    write_ini();
  }

  const TempDir& dir() const { return dir_; }

 private:
  OdbcConfig() {
    std::string d = odbc_driver_dir();
    dir_.write("odbcinst.ini",
               "[PostgreSQL ANSI]\nDriver=" + d + "/psqlodbca.so\n\n"
               "[SQLite3]\nDriver=" + d + "/libsqlite3odbc.so\n");
    dir_.write("odbc.ini", "");
    setenv("ODBCSYSINI", dir_.str().c_str(), 1);
    setenv("ODBCINI", (dir_.str() + "/odbc.ini").c_str(), 1);
  }
  void write_ini() {
    std::string text;
    for (const auto& [dsn, kv] : dsns_) {
      text += "[" + dsn + "]\n";
      for (const auto& [k, v] : kv) text += k + "=" + v + "\n";
    }
    dir_.write("odbc.ini", text);
  }

  TempDir dir_;
  std::map<std::string, std::map<std::string, std::string>> dsns_;
};

// A PostgreSQL data source through psqlodbc for a database.
inline std::map<std::string, std::string> pg_dsn_attrs(const std::string& database) {
  auto env = [](const char* n, const char* dflt) {
    const char* v = std::getenv(n);
    return std::string(v ? v : dflt);
  };
  return {{"Driver", "PostgreSQL ANSI"},
          {"Servername", env("PGHOST", "")},
          {"Port", env("PGPORT", "5432")},
          {"Username", env("PGUSER", "")},
          {"Database", database}};
}

// A name no other test process uses at the same time.
inline std::string unique_name(const std::string& prefix) {
  static int n = 0;
  return prefix + "_" + std::to_string(::getpid()) + "_" + std::to_string(++n);
}

}  // namespace kivtest

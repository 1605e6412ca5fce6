// What several benchmark programs set up alike: a copy of a home in the
// temporary area, the ODBC configuration of a benchmark process (the driver
// file of Debian's PostgreSQL and SQLite drivers and its data sources), and
// a main that says which build it measured.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace kiv::bench {

namespace fs = std::filesystem;

// A copy of `source` (a home of the sources) as <temp>/<name>.<pid>, which
// the request may write into while the sources stay untouched; removed at
// the end.
struct CopiedHome {
  CopiedHome(const fs::path& source, const std::string& name) {
    path = fs::temp_directory_path() / (name + "." + std::to_string(::getpid()));
    fs::remove_all(path);
    fs::copy(source, path, fs::copy_options::recursive);
  }
  ~CopiedHome() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
  CopiedHome(const CopiedHome&) = delete;
  CopiedHome& operator=(const CopiedHome&) = delete;
  fs::path path;
};

// The value of an environment variable, empty when unset.
inline std::string env_or_empty(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

// The odbc.ini section of a PostgreSQL data source (psqlodbc, ANSI) named
// `name` for `database` on the server that PGHOST, PGPORT and PGUSER name.
inline std::string pg_source(const std::string& name, const std::string& database) {
  return "[" + name + "]\nDriver=PostgreSQL ANSI\nServername=" + env_or_empty("PGHOST") +
         "\nPort=" + env_or_empty("PGPORT") + "\nUsername=" + env_or_empty("PGUSER") + "\nDatabase=" + database +
         "\n";
}

// Writes odbcinst.ini (the drivers "PostgreSQL ANSI" and "SQLite3" from the
// folder that holds the SQLite driver) and odbc.ini with `sources` into
// `dir`, and points ODBCSYSINI and ODBCINI of this process at them.
inline void write_odbc_config(const fs::path& dir, const std::string& sources) {
  std::string drivers = "/usr/lib/x86_64-linux-gnu/odbc";
  for (const char* d : {"/usr/lib/x86_64-linux-gnu/odbc", "/usr/lib/aarch64-linux-gnu/odbc", "/usr/lib/odbc"})
    if (fs::exists(fs::path(d) / "libsqlite3odbc.so")) {
      drivers = d;
      break;
    }
  std::ofstream(dir / "odbcinst.ini") << "[PostgreSQL ANSI]\nDriver=" << drivers << "/psqlodbca.so\n"
                                      << "[SQLite3]\nDriver=" << drivers << "/libsqlite3odbc.so\n";
  std::ofstream(dir / "odbc.ini") << sources;
  setenv("ODBCSYSINI", dir.c_str(), 1);
  setenv("ODBCINI", (dir / "odbc.ini").c_str(), 1);
}

// Runs the benchmarks of the program as BENCHMARK_MAIN does, with the build
// it measured (KIV_BUILD_DESCRIPTION, bench/CMakeLists.txt) in the report's
// context.
inline int main_with_build(int argc, char** argv) {
  benchmark::AddCustomContext("build", KIV_BUILD_DESCRIPTION);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

}  // namespace kiv::bench

// The ODBC layer: the driver interface's back end on an ODBC driver manager
// (unixODBC), spoken in ODBC 2 calls. Every call connects to the data source,
// runs one statement, disconnects, and leaves its results in driver_results().
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kiv::iodbc {

// Runs a statement. 0 success; -1 the records cannot be set up; -2 no
// connection; -3 the statement failed. `host` is ignored; `timeout` 0 means
// 60 seconds; `database` is the data source name.
int kivodbcexec(const char* host, int timeout, const std::string& database,
                const std::string& statement);

// Runs a statement for its result columns only: odbckey gets their names and
// odbcdata one row of their type names (INT, FLOAT, DATE_TIME, CHAR). Results
// as kivodbcexec.
int kivodbcinfo(const char* host, int timeout, const std::string& database,
                const std::string& statement);

// Closes the connection kept for the calls of a record operation, if any.
void close_kept();

// True when a value can stand in a connection text as it is: it holds no
// ";", "{" or "}" and neither begins nor ends with a blank. Drivers differ in
// how (and whether) they read braced values, so no value is braced.
bool plain_value(std::string_view value);

// The connection text "DSN=..[;UID=..];PWD=..[;DATABASE=..]"; none when a
// value is not plain, and the connection is then made with SQLConnect, which
// takes the data source, user and password as they are.
std::optional<std::string> connect_text(const std::string& dsn, const std::optional<std::string>& uid,
                                        const std::optional<std::string>& pwd,
                                        const std::optional<std::string>& database);

}  // namespace kiv::iodbc

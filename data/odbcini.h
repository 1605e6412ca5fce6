// The settings of an ODBC data source as the driver manager keeps them in
// odbc.ini (the user's file that ODBCINI names, then the system's): what a
// console tool reads to tell whether two data source names lead to the same
// database.
#pragma once

#include <string>
#include <string_view>

namespace kiv {

// The value of `key` in the section of the data source `dsn` (the driver
// manager's own lookup, SQLGetPrivateProfileString, which finds names without
// regard to case); empty when the data source or the key is not there, or
// when the driver manager cannot be loaded.
std::string odbc_dsn_setting(std::string_view dsn, std::string_view key);

// The same lookup in the driver manager's list of drivers (odbcinst.ini):
// the value of `key` in the entry of the driver named `driver`.
std::string odbc_driver_setting(std::string_view driver, std::string_view key);

}  // namespace kiv

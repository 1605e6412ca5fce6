// The ODBC driver manager, loaded at run time: unixODBC's libodbc and its
// installer library libodbcinst (the data source settings) are opened at the
// first statement and their entry points looked up once. Programs do not link
// them, so a request that runs no statement (the start page among them)
// starts without loading the driver manager and the libraries it needs.
#pragma once

#include <sql.h>
#include <sqlext.h>
#include <odbcinst.h>

#include <string>

namespace kiv::odbcdm {

// The calls of the ODBC layer, by library. Each name is the entry point's
// own; the lists make the table below and its look-ups agree.
#define KIV_ODBC_MANAGER_CALLS(X)                                                                  \
  X(SQLAllocEnv) X(SQLAllocConnect) X(SQLAllocStmt) X(SQLFreeEnv) X(SQLFreeConnect) X(SQLFreeStmt) \
  X(SQLDriverConnect) X(SQLConnect) X(SQLDisconnect) X(SQLGetFunctions) X(SQLSetConnectOption)     \
  X(SQLSetStmtOption) X(SQLError) X(SQLExecDirect) X(SQLNumResultCols) X(SQLRowCount)              \
  X(SQLDescribeCol) X(SQLFetch) X(SQLGetData) X(SQLMoreResults) X(SQLGetInfo)
#define KIV_ODBC_INSTALLER_CALLS(X) X(SQLGetPrivateProfileString)

// The entry points, once the libraries are loaded: every one is set.
struct Calls {
#define KIV_ODBC_CALL_MEMBER(name) decltype(&::name) name = nullptr;
  KIV_ODBC_MANAGER_CALLS(KIV_ODBC_CALL_MEMBER)
  KIV_ODBC_INSTALLER_CALLS(KIV_ODBC_CALL_MEMBER)
#undef KIV_ODBC_CALL_MEMBER
};

// The driver manager of this process. The library names are read at the
// first load; tests name others to see a load fail (a reset puts the
// defaults back and loads afresh at the next statement).
struct DriverManager {
  std::string manager_library = "libodbc.so.2";
  std::string installer_library = "libodbcinst.so.2";
  // A load was tried; it is tried once per process, whatever its outcome.
  bool tried = false;
  void* manager = nullptr;
  void* installer = nullptr;
  // Why the load failed (the loader's message); empty after a good load.
  std::string error;
  Calls calls;
};

// The process's driver manager state.
DriverManager& driver_manager_state();

// The driver manager's entry points, loading both libraries at the first
// call. Null when a library does not load or lacks an entry point; `error`
// of the state then says which. Never ends the process.
const Calls* driver_manager();

}  // namespace kiv::odbcdm

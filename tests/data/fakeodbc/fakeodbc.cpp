// A scripted ODBC 2 driver for the ODBC layer's tests: it answers what no
// real driver can be made to answer on demand. Every statement gives one
// result of three columns, a (integer), b (text) and c (integer), with the
// one row 1, 'two', 3; a statement that holds "broken" cannot describe its
// column b. The driver manager loads it like any driver.
#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace {

struct Stmt {
  std::string statement;
  int row = 0;  // rows fetched so far
  std::string error;  // the pending error message, empty when none
};

bool broken(const Stmt* s) { return s->statement.find("broken") != std::string::npos; }

// Copies a text into an ODBC output buffer, cut to fit.
void put_text(const std::string& text, SQLCHAR* out, SQLLEN size) {
  if (!out || size <= 0) return;
  size_t n = std::min(text.size(), static_cast<size_t>(size - 1));
  std::memcpy(out, text.data(), n);
  out[n] = '\0';
}

}  // namespace

extern "C" {

SQLRETURN SQL_API SQLAllocEnv(SQLHENV* env) {
  *env = new int(0);
  return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLFreeEnv(SQLHENV env) {
  delete static_cast<int*>(env);
  return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLAllocConnect(SQLHENV, SQLHDBC* dbc) {
  *dbc = new int(0);
  return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLFreeConnect(SQLHDBC dbc) {
  delete static_cast<int*>(dbc);
  return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLConnect(SQLHDBC, SQLCHAR*, SQLSMALLINT, SQLCHAR*, SQLSMALLINT, SQLCHAR*, SQLSMALLINT) {
  return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLDriverConnect(SQLHDBC, SQLHWND, SQLCHAR*, SQLSMALLINT, SQLCHAR* out, SQLSMALLINT outmax,
                                   SQLSMALLINT* outlen, SQLUSMALLINT) {
  put_text("", out, outmax);
  if (outlen) *outlen = 0;
  return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLDisconnect(SQLHDBC) { return SQL_SUCCESS; }

SQLRETURN SQL_API SQLSetConnectOption(SQLHDBC, SQLUSMALLINT, SQLULEN) { return SQL_SUCCESS; }

SQLRETURN SQL_API SQLAllocStmt(SQLHDBC, SQLHSTMT* stmt) {
  *stmt = new Stmt;
  return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLFreeStmt(SQLHSTMT stmt, SQLUSMALLINT option) {
  if (option == SQL_DROP) delete static_cast<Stmt*>(stmt);
  return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLSetStmtOption(SQLHSTMT, SQLUSMALLINT, SQLULEN) { return SQL_SUCCESS; }

SQLRETURN SQL_API SQLExecDirect(SQLHSTMT stmt, SQLCHAR* text, SQLINTEGER len) {
  Stmt* s = static_cast<Stmt*>(stmt);
  const char* t = reinterpret_cast<const char*>(text);
  s->statement = len == SQL_NTS ? std::string(t) : std::string(t, static_cast<size_t>(len));
  s->row = 0;
  return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLNumResultCols(SQLHSTMT, SQLSMALLINT* count) {
  *count = 3;
  return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLRowCount(SQLHSTMT, SQLLEN* count) {
  *count = 1;
  return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLDescribeCol(SQLHSTMT stmt, SQLUSMALLINT col, SQLCHAR* name, SQLSMALLINT size,
                                 SQLSMALLINT* namelen, SQLSMALLINT* type, SQLULEN* precision,
                                 SQLSMALLINT* scale, SQLSMALLINT* nullable) {
  Stmt* s = static_cast<Stmt*>(stmt);
  if (col == 2 && broken(s)) {
    s->error = "column 2 cannot be described";
    return SQL_ERROR;
  }
  const char* names[] = {"a", "b", "c"};
  put_text(names[col - 1], name, size);
  if (namelen) *namelen = 1;
  if (type) *type = col == 2 ? SQL_VARCHAR : SQL_INTEGER;
  if (precision) *precision = 10;
  if (scale) *scale = 0;
  if (nullable) *nullable = SQL_NULLABLE;
  return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLFetch(SQLHSTMT stmt) {
  Stmt* s = static_cast<Stmt*>(stmt);
  return s->row++ == 0 ? SQL_SUCCESS : SQL_NO_DATA;
}

SQLRETURN SQL_API SQLGetData(SQLHSTMT, SQLUSMALLINT col, SQLSMALLINT ctype, SQLPOINTER value, SQLLEN size,
                             SQLLEN* ind) {
  std::string text = col == 1 ? "1" : col == 2 ? "two" : "3";
  if (ctype == SQL_C_CHAR) {
    put_text(text, static_cast<SQLCHAR*>(value), size);
    *ind = static_cast<SQLLEN>(text.size());
    return SQL_SUCCESS;
  }
  long long n = col == 1 ? 1 : 3;
  if (ctype == SQL_C_SBIGINT) *static_cast<long long*>(value) = n;
  else *static_cast<SQLINTEGER*>(value) = static_cast<SQLINTEGER>(n);
  *ind = 0;
  return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLError(SQLHENV, SQLHDBC, SQLHSTMT stmt, SQLCHAR* state, SQLINTEGER* native,
                           SQLCHAR* message, SQLSMALLINT size, SQLSMALLINT* len) {
  Stmt* s = static_cast<Stmt*>(stmt);
  if (!s || s->error.empty()) return SQL_NO_DATA;
  put_text("S1000", state, 6);
  if (native) *native = 7;
  put_text(s->error, message, size);
  if (len) *len = static_cast<SQLSMALLINT>(s->error.size());
  s->error.clear();
  return SQL_SUCCESS;
}

}  // extern "C"

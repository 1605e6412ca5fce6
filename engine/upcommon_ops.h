// What the case operations share: the connection objects read from the
// object list a handler loaded (loadobj) and filled from its request, and the
// handle settings they give. Each operation has its own header
// (upcommon_add.h, upcommon_find.h, upcommon_modify.h, upcommon_delete.h);
// every failure is told in the page through errmsg, and the handler decides
// what page follows.
#pragma once

#include <optional>
#include <string>

#include "toolkit/objects/kivobj.h"

namespace kiv {

// The connection objects as a handle takes them.
struct dbconnection {
  std::string host;
  int timeout = 0;
  std::string database;
  std::string table;
};

// Reads dbserver_hostname, network_timeout (a whole number as atoi reads
// it), db_name and, when `with_table`, db_table_name (each object.VALUE), in
// this order. The first one missing or empty stops the reading: "Missing
// dbhost name object\n", "Missing timeout name object\n", "Missing database
// name object\n" or "Missing table name object\n", and none. Without the
// table (a free statement names its own) `table` stays empty.
std::optional<dbconnection> connection_objects(const objlist& list, bool with_table = true);

// Gives the handle of an operation (addhandle, findhandle, modifyhandle,
// deletehandle) the connection: host, timeout, database and table.
template <class Handle>
void set_connection(Handle& h, const dbconnection& c) {
  h.host = c.host;
  h.timeout = c.timeout;
  h.database = c.database;
  h.table = c.table;
}

}  // namespace kiv

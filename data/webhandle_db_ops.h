// The database handles: the door through which the case engine adds, finds,
// modifies and deletes records. An entry point (handle_add, handle_find,
// handle_modify, handle_delete) takes a handle of packets and connection
// settings, runs its record operation (db_add, db_find, db_modify,
// db_delete), which has the generator write the statement and the driver run
// it, and shows a failure in the page.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "data/packet.h"

namespace kiv {

// Argument of handle_add. `table` may name several tables separated by ",";
// the row goes into each. `host` is traced only; `timeout` 0 is the driver's
// default.
struct addhandle {
  const packet* rec = nullptr;
  std::string host;
  int timeout = 0;
  std::string database;
  std::string table;
};

// Argument of handle_find: `rec` holds one row of criteria and its key row;
// `order` is the order list (none, empty or beginning with a blank: no
// ordering). handle_find keeps a copy of the criteria in `copy`.
struct findhandle {
  const packet* rec = nullptr;
  std::string host;
  int timeout = 0;
  std::string database;
  std::string table;
  std::optional<std::string> order;
  std::optional<packet> copy;
};

// Argument of handle_modify: `new_` the new values (the system's `new`),
// `all` the record as it was read, whose id_num (or row-number column)
// selects the row.
struct modifyhandle {
  std::string host;
  int timeout = 0;
  const packet* new_ = nullptr;
  std::string database;
  std::string table;
  const packet* all = nullptr;
};

// Argument of handle_delete: `rec` holds the rows to delete with their key
// row.
struct deletehandle {
  std::string database;
  std::string table;
  std::string host;
  int timeout = 0;
  const packet* rec = nullptr;
};

// Result of a record operation: code 0 success, negative the failure; msg the
// failure text (the driver's error text after a driver failure), hint the
// advice of an argument failure.
struct dberr {
  int code = 0;
  std::optional<std::string> msg;
  std::optional<std::string> hint;
};

// Result of handle_find: the found rows and their column names (none when
// nothing was found), errflag 0 success (also when nothing was found) or 1.
struct findreply {
  std::optional<std::string> data;
  std::optional<std::string> keys;
  int errflag = 0;
};

// The entry points: 0 success, 1 failure (shown in the page).
int handle_add(const addhandle& h);
findreply handle_find(findhandle& h);
int handle_modify(const modifyhandle& h);
int handle_delete(const deletehandle& h);

dberr dberrCreate();

// The record operations. A missing text is an empty one.
dberr db_add(std::string_view host, int timeout, const std::string& database, const std::string& table,
             std::string_view data, std::string_view keys);
dberr db_find(std::string_view host, int timeout, const std::string& database, const std::string& table,
              std::string_view criteria, std::string_view keys, const std::optional<std::string>& order,
              std::optional<std::string>& data_out, std::optional<std::string>& keys_out, int& rowcount);
dberr db_modify(std::string_view host, int timeout, const std::string& database, const std::string& table,
                const packet& all, const packet& newrec);
// `rows` lists the row numbers 1..n ended by 0; missing when empty or when
// its first entry is 0.
dberr db_delete(std::string_view host, int timeout, const std::string& database, const std::string& table,
                std::string_view data, const std::vector<int>& rows, std::string_view keys);

// The file under the home whose lock serialises drawing an id and inserting
// its row: "<home>/tmp/idnum.lock".
std::string idnum_lockfile();

}  // namespace kiv

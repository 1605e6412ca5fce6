// The transfer of all records from one data source into the configured one
// (see uptransfer.h).
#include "engine/uptransfer.h"

#include <sys/stat.h>

#include <cstdlib>
#include <iterator>
#include <memory>
#include <optional>
#include <string>

#include "data/odbcini.h"
#include "engine/upcommon_ops.h"
#include "engine/upcommon_query.h"
#include "engine/upflags.h"
#include "engine/upobjdb.h"
#include "engine/uprowwalk.h"
#include "platform/exit.h"
#include "platform/output.h"
#include "toolkit/base/kivcgitrace.h"
#include "toolkit/base/kivfmt.h"
#include "toolkit/objects/kivobj.h"
#include "toolkit/text/kivtext.h"
#include "toolkit/text/rowcol.h"

namespace kiv {

namespace {

// The settings of a data source that say which database it reaches.
struct SourceEntry {
  std::string driver, server, port, database;
};

SourceEntry source_entry(std::string_view dsn) {
  return {odbc_dsn_setting(dsn, "Driver"), odbc_dsn_setting(dsn, "Servername"), odbc_dsn_setting(dsn, "Port"),
          odbc_dsn_setting(dsn, "Database")};
}

bool same_file(const std::string& a, const std::string& b) {
  struct stat sa {}, sb {};
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

// Two Database settings name one database: the same text, or one file.
bool same_database(const std::string& a, const std::string& b) { return a == b || same_file(a, b); }

// The library a Driver setting loads: a data source names its driver by an
// entry of odbcinst.ini or by the library's path, and either way it is the
// same driver.
std::string driver_library(const std::string& driver) {
  std::string library = odbc_driver_setting(driver, "Driver");
  return library.empty() ? driver : library;
}

bool same_driver(const std::string& a, const std::string& b) {
  if (equal_nocase(a, b)) return true;
  const std::string la = driver_library(a), lb = driver_library(b);
  return la == lb || same_file(la, lb);
}

}  // namespace

bool same_data_source(std::string_view a, std::string_view b) {
  if (equal_nocase(a, b)) return true;
  const SourceEntry ea = source_entry(a), eb = source_entry(b);
  if (ea.driver.empty() || ea.database.empty() || eb.driver.empty() || eb.database.empty()) return false;
  return same_driver(ea.driver, eb.driver) && equal_nocase(ea.server, eb.server) && ea.port == eb.port &&
         same_database(ea.database, eb.database);
}

int transfind(objlist& list, findreply& reply) {
  kivtrace("FIND\n");
  const std::string& source = engineflags().remotehost;
  if (source.empty()) {
    errmsg("Missing dbhost name object\n");
    return -1;
  }
  struct Needed {
    const char* key;
    const char* missing;
  };
  static constexpr Needed kNeeded[] = {{"network_timeout.VALUE", "Missing timeout name object\n"},
                                       {"db_name.VALUE", "Missing database name object\n"},
                                       {"db_table_name.VALUE", "Missing table name object\n"}};
  // Timeout, database and table, read into text[0..2] in this order.
  static_assert(std::size(kNeeded) == 3);
  std::string text[std::size(kNeeded)];
  for (size_t i = 0; i < std::size(kNeeded); ++i) {
    text[i] = objtext(list, kNeeded[i].key);
    if (text[i].empty()) {
      errmsg(kNeeded[i].missing);
      return -1;
    }
  }
  kivtrace("BEFORE SORT\n");
  std::string order = getsortlist_or_empty(list);
  if (order.empty()) order = " ";
  kivtrace("BEFORE obj2db\n");
  kivtrace("BEFORE obaptr\n");
  writeblankpage(list);
  const std::unique_ptr<packet> criteria = obj2db(list);
  kivtrace("FIND befor keys='%s' data='%s'\n", criteria->keys, criteria->data);
  primary_func(list);
  join_func(list);
  findhandle h;
  h.rec = criteria.get();
  h.host = source;
  h.timeout = std::atoi(text[0].c_str());
  h.database = source;
  h.table = text[2];
  h.order = order;
  reply = handle_find(h);
  kivtrace("FIND  after\n");
  if (reply.errflag) {
    errmsg("Find operation failed\n");
    return 1;
  }
  return 0;
}

int transfer(objlist& list) {
  const std::optional<dbconnection> target = connection_objects(list);
  if (!target) return -1;
  const std::string& source = engineflags().remotehost;
  if (same_data_source(source, target->database)) {
    out() << sformat("Source and target are the same database '%s'. Exiting\n", source);
    throw Exit{1};
  }
  out() << "Find all records\n";
  findreply reply;
  if (transfind(list, reply) != 0) {
    out() << "Find failed. Exiting\n";
    throw Exit{1};
  }
  const std::string rows = reply.data.value_or(std::string());
  const std::string keys = reply.keys.value_or(std::string());
  out() << sformat("There are %d record(s) to be transfered\n", getrowcount(rows));

  int result = 0;
  int i = 0;
  RowWalk walk(rows);
  packet record;
  record.keys = keys;
  addhandle h;
  set_connection(h, *target);
  h.rec = &record;
  while (std::optional<std::string_view> row = walk.next()) {
    record.data.assign(*row);
    mod_id2case(&record);
    out() << sformat("adding record %d\n", ++i);
    primary_func(list);
    if (handle_add(h) != 0) {
      out() << "submit operation failed for record\n";
      result = 1;
    }
  }
  return result;
}

}  // namespace kiv

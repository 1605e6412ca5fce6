// The pieces every case operation shares, and the delete: the connection
// objects read into a handle's settings, and the removal of the cases a
// form selects.
#include "engine/upcommon_ops.h"

#include <cstdlib>

#include "engine/objtext.h"
#include "engine/upcommon_query.h"
#include "engine/upobjdb.h"
#include "toolkit/base/kivcgitrace.h"

namespace kiv {

namespace {

// The connection objects in the order they are read, with the message of a
// missing one.
struct ConnectionObject {
  std::string_view key;
  std::string_view missing;
};
constexpr ConnectionObject kConnection[] = {
    {"dbserver_hostname.VALUE", "Missing dbhost name object\n"},
    {"network_timeout.VALUE", "Missing timeout name object\n"},
    {"db_name.VALUE", "Missing database name object\n"},
    {"db_table_name.VALUE", "Missing table name object\n"},
};

}  // namespace

std::optional<dbconnection> connection_objects(const objlist& list, bool with_table) {
  std::string text[4];
  for (size_t i = 0; i < (with_table ? 4 : 3); ++i) {
    text[i] = objtext(list, kConnection[i].key);
    if (text[i].empty()) {
      errmsg(kConnection[i].missing);
      return std::nullopt;
    }
  }
  dbconnection c;
  c.host = std::move(text[0]);
  c.timeout = std::atoi(text[1].c_str());
  c.database = std::move(text[2]);
  c.table = std::move(text[3]);
  return c;
}

int delete_(objlist& list) {
  std::optional<dbconnection> c = connection_objects(list);
  if (!c) return -1;
  std::unique_ptr<packet> rec = obj2db(list);
  primary_func(list);
  deletehandle h;
  set_connection(h, *c);
  h.rec = rec.get();
  if (handle_delete(h) != 0) {
    errmsg("Delete operation failed\n");
    return 1;
  }
  return 0;
}

}  // namespace kiv

// The pieces every case operation shares: the connection objects read into
// a handle's settings.
#include "engine/upcommon_ops.h"

#include <cstdlib>
#include <iterator>

#include "toolkit/base/kivcgitrace.h"
#include "toolkit/objects/kivobj.h"

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
// One entry per field of dbconnection, read into it by position below.
static_assert(std::size(kConnection) == 4);

}  // namespace

std::optional<dbconnection> connection_objects(const objlist& list, bool with_table) {
  std::string text[std::size(kConnection)];
  const size_t wanted = with_table ? std::size(kConnection) : std::size(kConnection) - 1;
  for (size_t i = 0; i < wanted; ++i) {
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

}  // namespace kiv

// The delete: the removal of the cases a form selects.
#include "engine/upcommon_delete.h"

#include <memory>
#include <optional>

#include "data/packet.h"
#include "data/webhandle_db_ops.h"
#include "engine/upcommon_ops.h"
#include "engine/upcommon_query.h"
#include "engine/upobjdb.h"
#include "toolkit/base/kivcgitrace.h"

namespace kiv {

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

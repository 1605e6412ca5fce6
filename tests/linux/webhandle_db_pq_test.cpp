// The database handles on the Linux programs' road, the PostgreSQL driver on
// libpq: the cases of webhandle_db_roads.h, the same as on the two ODBC roads.
#include "linux/pgsql.h"
#include "tests/data/webhandle_db_roads.h"

namespace kivtest {
INSTANTIATE_TEST_SUITE_P(Roads, Handles, ::testing::Values(Road(Road::libpq, &kiv::pgsql::pgsql_driver())),
                         road_name);
}  // namespace kivtest

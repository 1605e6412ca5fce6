// Deleting the cases a form selects.
#pragma once

#include "toolkit/objects/kivobj.h"

namespace kiv {

// Deletes the cases the form selects (the system's `delete`): the connection
// objects (-1), every DBKEY object as a criterion (obj2db), primary_func,
// handle_delete (1 after "Delete operation failed\n"). 0 deleted. A form
// whose criteria are all empty deletes nothing: the statement generator
// refuses a delete without a condition.
int delete_(objlist& list);

}  // namespace kiv

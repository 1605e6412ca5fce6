// A packet: the rows the case engine hands to the database handles and the
// hook scripts, with the key row that names their columns. Both texts are
// row/column text (values joined by "^@", each row ended by "^$", "^^" for an
// empty value); `keys` is one row naming the columns of `data` in order.
#pragma once

#include <string>

namespace kiv {

struct packet {
  std::string data;  // one or more data rows
  std::string keys;  // the key row
};

}  // namespace kiv

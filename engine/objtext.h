// The configuration lookup of the mail engine: the text of an attribute key
// ("<object>.<ATTRIBUTE>") along an object list, empty when no object of that
// name has the attribute (an absent object and an empty value are the same).
#pragma once

#include <string>
#include <string_view>

#include "toolkit/kivobj.h"

namespace kiv {

inline std::string objtext(const objlist& list, std::string_view key) {
  return getvalfromlist(&list, key).value_or(std::string());
}

}  // namespace kiv

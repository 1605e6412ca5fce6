// The engine's lookups and settings of object values: the text of an
// attribute key ("<object>.<ATTRIBUTE>") or of an object's attribute along an
// object list, empty when no object of that name has the attribute (an
// absent object and an empty value are the same), that text with its origin,
// and the VALUE of an object set with the origin of its text.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "toolkit/objects/kivobj.h"

namespace kiv {

inline std::string objtext(const objlist& list, std::string_view key) {
  return getvalfromlist(&list, key).value_or(std::string());
}

// objtext of "<name>.<attribute>".
inline std::string objtext(const objlist& list, std::string_view name, std::string_view attribute) {
  std::string key(name);
  key += '.';
  key += attribute;
  return objtext(list, key);
}

// An attribute's text, copied, and where it came from.
struct objattr_text {
  std::string text;
  Origin origin = Origin::config;
};

// The attribute of "<name>.<attribute>" as objtext finds it, with its
// origin; an empty configuration text when no object of that name has it.
inline objattr_text objattr(const objlist& list, std::string_view name, std::string_view attribute) {
  std::string key(name);
  key += '.';
  key += attribute;
  const std::optional<attrview> a = getattrfromlist(&list, key);
  if (!a) return {};
  return {std::string(a->text), a->origin};
}

// Sets "<name>.VALUE" (adduniqobj), the text marked with `origin`.
inline int setobjvalue(objlist& list, std::string_view name, std::string_view text, Origin origin) {
  std::string key(name);
  key += ".VALUE";
  return adduniqobj(&list, key, text, origin);
}

}  // namespace kiv

// The form entries of a request as the readers give them: the one type the
// URL-encoded reader (kivcgiform) and the multipart reader share.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace kiv {

// One form entry in request order. A name or value that the request did not
// give is none; "name=" gives an empty value.
struct form_entry {
  std::optional<std::string> name;
  std::optional<std::string> value;
};
using form_entries = std::vector<form_entry>;

// The largest request body the readers take (CONTENT_LENGTH above it is
// refused): bodies are read into memory where they are fields.
inline constexpr long kMaxContentLength = 256L * 1024 * 1024;

}  // namespace kiv

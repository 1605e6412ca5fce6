// Checks for path parts that come from a request or a record, and the safe
// rewrite of a file (temporary file beside it, synced, renamed over it).
#pragma once

#include <string>
#include <string_view>

namespace kiv {

// True when `part` may name one entry inside a folder: not empty, no "/",
// no "\", no "..", no control characters, and no leading "." unless allowed.
bool safe_name(std::string_view part, bool allow_leading_dot = false);

// True when `path`, taken lexically, lies inside `folder` (or is it).
bool path_under(std::string_view folder, std::string_view path);

// Writes `content` to a unique temporary file beside `path`, syncs it,
// renames it over `path` and syncs the folder, so readers see the old or the
// new file whole and a reported save survives a crash.
// False (and `path` untouched) on any failure; `error` then says why.
bool write_file_atomic(const std::string& path, std::string_view content, std::string* error = nullptr);

}  // namespace kiv

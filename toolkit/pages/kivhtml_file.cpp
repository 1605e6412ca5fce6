// Files that pages show: the whole-file reader behind include files and text
// attachments, and the text attachment of a case shown in a table column.
#include <cerrno>
#include <cstdio>
#include <sys/stat.h>

#include "toolkit/text/kivcgimisc.h"
#include "toolkit/base/kivcgitrace.h"
#include "toolkit/pages/kivhtml.h"
#include "toolkit/base/kivio.h"
#include "toolkit/base/kivpath.h"
#include "toolkit/base/kivsettings.h"
#include "toolkit/text/kivtext.h"

namespace kiv {

namespace {

// An attachment's name below the attachments folder: relative, and every part
// of it a plain name (no "..", no "\", no control characters).
bool attachment_name_ok(std::string_view value) {
  size_t start = 0;
  while (true) {
    size_t slash = value.find('/', start);
    std::string_view part = value.substr(start, slash - start);
    if (!safe_name(part)) return false;
    if (slash == std::string_view::npos) return true;
    start = slash + 1;
  }
}

}  // namespace

std::optional<std::string> readfile_sized(const std::string& path, bool short_read_fails) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    errmsg("up_readfile: can't stat '%s' errno=%d\n", path, errno);
    return std::nullopt;
  }
  const long long size = st.st_size;
  kivtrace("File Size=%d\n", size);
  kivtrace("readfile=%s", path);
  FilePtr f = open_file(path, "rb");
  if (!f) {
    errmsg("Cannot open file <%s> errno=%d \n", path, errno);
    return std::nullopt;
  }
  std::string text(static_cast<size_t>(size), '\0');
  errno = 0;
  const size_t got = size > 0 ? std::fread(text.data(), 1, text.size(), f.get()) : 0;
  if (got < text.size() && short_read_fails) {
    errmsg("up_readfile: read error for '%s' errno=%d\n", path, errno);
    return std::nullopt;
  }
  text.resize(got);
  if (size_t nul = text.find('\0'); nul != std::string::npos) text.resize(nul);  // text ends at a NUL
  kivtrace("READFILE CP='%s' ", text);
  kivtrace("ReadFILE r='%d'", static_cast<long long>(got));
  return text;
}

std::optional<std::string> htmlreadfile(const std::string& path) { return readfile_sized(path, false); }

void htmltextattachment(std::string& out, std::string_view value) {
  if (value.empty()) return;
  size_t dot = value.rfind('.');
  if (dot == std::string_view::npos) return;
  std::string_view ext = value.substr(dot + 1);
  if (!equal_nocase(ext, "txt") && !equal_nocase(ext, "htm") && !equal_nocase(ext, "html")) return;
  const std::optional<std::string>& dir = settings().attachmentsdir;
  if (!dir || dir->empty()) return;
  std::string path = *dir + "/";
  path.append(value);
  if (!attachment_name_ok(value) || !path_under(*dir, path)) {
    kivtrace("htmltextattachment: '%s' is not an attachment", value);
    return;
  }
  std::optional<std::string> content = htmlreadfile(path);
  if (!content || content->empty()) return;
  out += data2brows(*content);
}

}  // namespace kiv

// The outside search script (see tksearch.h). The script is the
// installation's own program; the system fixes only where it lies, that its
// standard output goes to a scratch file, and that the file is copied into
// the page.
#include "commands/tksearch.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <string>

#include "engine/upcommon.h"
#include "platform/output.h"
#include "platform/process.h"
#include "toolkit/base/kivcgitrace.h"
#include "toolkit/base/kivfmt.h"
#include "toolkit/base/kivio.h"
#include "toolkit/base/kivsettings.h"

namespace kiv {

namespace {

// Creates the scratch file exclusively: "<home>/tmp/search.<time>.<pid>",
// with ".<n>" added while that name is taken. The descriptor, or -1.
int create_output(const std::string& home, std::string& path) {
  const std::string base =
      sformat("%s/tmp/search.%d.%d", home, static_cast<long long>(std::time(nullptr)),
              static_cast<long long>(::getpid()));
  for (int n = 0; n < 100; ++n) {
    path = n == 0 ? base : base + "." + std::to_string(n);
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

}  // namespace

int tksearch() {
  get_prog_param();
  const std::string home = reqctx().nvhome;
  const std::string script = home + "/client/bin/tksearch";
  std::string path;
  int fd = create_output(home, path);
  if (fd < 0) {
    errmsg("Cannot open tmpfile file\n");
    return 1;
  }
  process::Options options;
  options.env = process::safe_environment();
  options.stdout_fd = fd;
  options.limit = kSearchLimit;
  kivtrace("search command=%s >%s\n", script, path);
  const process::Result r = process::run({script}, options);
  ::close(fd);
  if (!r.started) {
    ::unlink(path.c_str());
    errmsg("Can't open command %s\n", script);
    return -1;
  }
  if (!r.ok()) {
    ::unlink(path.c_str());
    errmsg("The search command %s failed: %s\n", script, process::describe(r, options));
    return 1;
  }
  std::string text;
  const bool read = read_whole_file(path, text);
  ::unlink(path.c_str());
  if (!read) {
    errmsg("Cannot open tmpfile file\n");
    return 1;
  }
  out() << text;
  return 0;
}

}  // namespace kiv

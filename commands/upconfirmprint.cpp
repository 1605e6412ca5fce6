// The confirmation page of a selection of found rows.
#include "commands/upconfirmprint.h"

#include <cerrno>
#include <memory>
#include <optional>

#include "commands/upgsql.h"
#include "commands/upskeleton.h"
#include "engine/gsqlexec.h"
#include "engine/upcommon_select.h"
#include "engine/upfile.h"
#include "toolkit/base/kivcgitrace.h"
#include "toolkit/base/kivcontext.h"
#include "toolkit/objects/kivobj.h"
#include "toolkit/text/rowcol.h"

namespace kiv {

int up_confirmprint(const std::vector<std::string>& words, exlist* request) {
  objholder objs =
      handler_begin(words, {2, "Wrong usage: up_confirmprint templatefile\n"}, request, RequestCopy::all);
  if (!objs) objs = std::make_unique<objlist>();
  objlist& l = *objs;
  const std::optional<std::string> rows = filter_data(l);
  if (!rows) {
    errmsg("Please, check your record selection and try again.");
    return 1;
  }
  const int found = getrowcount(*rows);
  if (found < 2) {
    errmsg("No record has been selected.\nPlease make a selection.");
    return 0;
  }
  const written_file file = write_tmpdatafile(*rows);
  if (!file.written) {
    const int e = errno;
    errmsg("Can't write file '%s' errno=%d\n", file.path.empty() ? reqctx().nvhome + "/tmp/tmp_datafile" : file.path, e);
    return 0;
  }
  setobjvalue(l, "hidedatafile", hidedatafile_value(file.path), Origin::config);
  setobjvalue(l, "findresult", *rows, Origin::record);
  setobjvalue(l, "findresultnum", std::to_string(found - 1), Origin::config);
  const KeptSelection selection = keep_selection(l);
  runsqlqueries(l);
  put_back(l, selection);
  return handler_page(objs.get(), words);
}

}  // namespace kiv

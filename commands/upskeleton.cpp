// The shared handler steps (see upskeleton.h).
#include "commands/upskeleton.h"

#include "engine/upfile.h"
#include "platform/exit.h"
#include "toolkit/base/kivcgitrace.h"
#include "toolkit/objects/kivobj.h"
#include "toolkit/objects/objprotect.h"
#include "toolkit/pages/kivhtml.h"
#include "toolkit/base/kivsettings.h"
#include "toolkit/text/rowcol.h"

namespace kiv {

objholder handler_begin(const std::vector<std::string>& words, const handler_usage& usage, const exlist* request,
                        RequestCopy copy) {
  if (usage.min_words > 0 && words.size() < static_cast<size_t>(usage.min_words)) {
    errmsg(usage.message);
    throw Exit{2};
  }
  objholder objs = get_prog_param();
  loadobj(objs);
  switch (copy) {
    case RequestCopy::all:
      if (request && objs) ex2obj(*request, *objs);
      break;
    case RequestCopy::existing:
      if (request && objs) castex2obj(*request, *objs);
      break;
    case RequestCopy::none:
      break;
  }
  return objs;
}

std::optional<std::string> selection_rows(const objlist& objs, std::string_view none, std::string_view unread,
                                          std::string_view too_few) {
  const std::string named = objtext(objs, "hidedatafile.VALUE");
  if (named.empty()) {
    errmsg(none);
    return std::nullopt;
  }
  const std::optional<std::string> path = hidedatafile_path(named);
  std::optional<std::string> text = path ? up_readfile(*path) : std::nullopt;
  if (!text) {
    errmsg(unread);
    return std::nullopt;
  }
  if (getrowcount(*text) < 2) {
    errmsg(too_few);
    return std::nullopt;
  }
  return text;
}

std::string page_path(std::string_view name) {
  std::string path = reqctx().nvhome;
  path += "/client/kivhtml/tk/";
  path += name;
  return path;
}

int handler_page(const objlist* objs, const std::vector<std::string>& words) {
  const std::string path = page_path(words.size() > 1 ? std::string_view(words[1]) : std::string_view());
  kivtrace("page=%s\n", path);
  return printhtml(objs, path);
}

}  // namespace kiv

// The start page, the search confirmation and the two plain form pages:
// the shared handler steps with at most one action of their own.
#include "commands/upstartup.h"

#include "commands/upskeleton.h"
#include "engine/upobjdb.h"
#include "platform/exit.h"

namespace kiv {

int up_startup(int count, const std::vector<std::string>& words, exlist* list) {
  objholder objs = handler_begin(count, {0, {}}, list, RequestCopy::all);
  handler_page(objs.get(), words);
  return 0;  // also when the template cannot be read
}

int up_confirmfind(int count, const std::vector<std::string>& words, exlist* list) {
  const RequestCopy copy = count >= 3 ? RequestCopy::existing : RequestCopy::all;
  objholder objs = handler_begin(count, {2, "Wrong usage: up_confirm templatefile\n"}, list, copy);
  if (objs) buildsortkey(*objs);
  return handler_page(objs.get(), words);
}

int up_cs(int count, const std::vector<std::string>& words, exlist* list) {
  objholder objs = handler_begin(count, {2, "Wrong usage: up_cs  templatefile\n"}, list, RequestCopy::all);
  return handler_page(objs.get(), words);
}

int up_cf(int count, const std::vector<std::string>& words, exlist* list) {
  objholder objs = handler_begin(count, {2, "Wrong usage: up_cf templatefile\n"}, list, RequestCopy::all);
  return handler_page(objs.get(), words);
}

}  // namespace kiv

// The start page, the search confirmation and the two plain form pages:
// the shared handler steps with at most one action of their own.
#include "commands/upstartup.h"

#include "commands/upskeleton.h"
#include "engine/upobjdb.h"
#include "platform/exit.h"
#include "platform/state.h"

namespace kiv {

namespace {

// The objects of the last page these handlers printed, kept to the end of
// the process. A request is one process, and the page is its last work:
// freeing a few hundred objects one by one there costs more than the rest of
// the handler's end, and the process gives the memory back whole when it
// exits. The holder itself is never destroyed, so what it keeps is still
// reachable at exit (no leak to a leak checker); the next page of the same
// process, or a reset between tests, frees the previous objects.
struct PageObjects {
  objholder objects;
};

void reset_page_objects();

PageObjects& page_objects() {
  static PageObjects* const kept = new PageObjects;
  KIV_REGISTER_RESET(&reset_page_objects);
  return *kept;
}

void reset_page_objects() { page_objects().objects.reset(); }

// The page over the objects, which are then kept (page_objects).
int page_and_keep(objholder objs, const std::vector<std::string>& words) {
  const int result = handler_page(objs.get(), words);
  page_objects().objects = std::move(objs);
  return result;
}

}  // namespace

int up_startup(const std::vector<std::string>& words, exlist* request) {
  objholder objs = handler_begin(words, {0, {}}, request, RequestCopy::all);
  page_and_keep(std::move(objs), words);
  return 0;  // also when the template cannot be read
}

int up_confirmfind(const std::vector<std::string>& words, exlist* request) {
  const RequestCopy copy = words.size() >= 3 ? RequestCopy::existing : RequestCopy::all;
  objholder objs = handler_begin(words, {2, "Wrong usage: up_confirm templatefile\n"}, request, copy);
  if (objs) buildsortkey(*objs);
  return page_and_keep(std::move(objs), words);
}

int up_cs(const std::vector<std::string>& words, exlist* request) {
  objholder objs = handler_begin(words, {2, "Wrong usage: up_cs  templatefile\n"}, request, RequestCopy::all);
  return page_and_keep(std::move(objs), words);
}

int up_cf(const std::vector<std::string>& words, exlist* request) {
  objholder objs = handler_begin(words, {2, "Wrong usage: up_cf templatefile\n"}, request, RequestCopy::all);
  return page_and_keep(std::move(objs), words);
}

}  // namespace kiv

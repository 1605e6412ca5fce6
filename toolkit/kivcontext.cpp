// The one request context of the process.
#include "toolkit/kivcontext.h"
#include "platform/state.h"

#include <algorithm>

namespace kiv {

RequestContext& reqctx() {
  static RequestContext ctx;
  KIV_REGISTER_RESET(&reset_reqctx);
  return ctx;
}

bool take_upload(std::string_view path) {
  auto& ups = reqctx().uploads;
  auto it = std::find(ups.begin(), ups.end(), path);
  if (it == ups.end()) return false;
  ups.erase(it);
  return true;
}

void reset_reqctx() {
  RequestContext& c = reqctx();
  if (c.debugfp) std::fclose(c.debugfp);
  c = RequestContext{};
}

}  // namespace kiv

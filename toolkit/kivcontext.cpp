// The one request context of the process.
#include "toolkit/kivcontext.h"

namespace kiv {

RequestContext& reqctx() {
  static RequestContext ctx;
  return ctx;
}

void reset_reqctx() {
  RequestContext& c = reqctx();
  if (c.debugfp) std::fclose(c.debugfp);
  c = RequestContext{};
}

}  // namespace kiv

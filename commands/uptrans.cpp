// The record transfer's command (see uptrans.h).
#include "commands/uptrans.h"

#include "commands/upskeleton.h"
#include "engine/upflags.h"
#include "engine/uptransfer.h"
#include "platform/exit.h"
#include "platform/output.h"

namespace kiv {

int up_trans(const std::vector<std::string>& words, exlist* request) {
  if (words.size() < 2) {
    err() << "Wrong usage: up_trans db_remot_host\n";
    throw Exit{2};
  }
  objholder objs = handler_begin(words, {0, {}}, request, RequestCopy::none);
  if (!objs) return 1;
  engineflags().remotehost = words[1];
  return transfer(*objs) == 0 ? 0 : 1;
}

}  // namespace kiv

// Loading the Simple MAPI library by name (dlopen) and finding its entry
// points (dlsym).
#include "platform/mapi.h"

#include <array>
#include <cstdlib>
#include <dlfcn.h>

namespace kiv {

namespace {

// Every entry point of Simple MAPI, in the order the loader looks them up. A
// library lacking any of them is not a Simple MAPI library.
constexpr std::array<const char*, 12> kEntryPoints = {
    "MAPILogon",      "MAPILogoff",     "MAPISendMail", "MAPISendDocuments",
    "MAPIFindNext",   "MAPIReadMail",   "MAPISaveMail", "MAPIDeleteMail",
    "MAPIFreeBuffer", "MAPIAddress",    "MAPIDetails",  "MAPIResolveName",
};

}  // namespace

MapiLibrary::~MapiLibrary() { mapi_unload(*this); }

std::string mapi_library_name() {
  const char* name = std::getenv("KIV_MAPI_LIBRARY");
  return name && *name ? name : "MAPI32.DLL";
}

int mapi_load(MapiLibrary& lib) {
  mapi_unload(lib);
  const std::string name = mapi_library_name();
  void* handle = ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) return 2;
  std::array<void*, kEntryPoints.size()> found{};
  for (size_t i = 0; i < kEntryPoints.size(); ++i) {
    found[i] = ::dlsym(handle, kEntryPoints[i]);
    if (!found[i]) {
      ::dlclose(handle);
      return 4;
    }
  }
  lib.handle_ = handle;
  lib.logon = reinterpret_cast<MapiLogonFn>(found[0]);
  lib.logoff = reinterpret_cast<MapiLogoffFn>(found[1]);
  lib.sendmail = reinterpret_cast<MapiSendMailFn>(found[2]);
  return 0;
}

void mapi_unload(MapiLibrary& lib) {
  lib.logon = nullptr;
  lib.logoff = nullptr;
  lib.sendmail = nullptr;
  if (!lib.handle_) return;
  ::dlclose(lib.handle_);
  lib.handle_ = nullptr;
}

}  // namespace kiv

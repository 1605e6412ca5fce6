// Loading the ODBC driver manager at run time (dlopen) and looking up the
// entry points of the ODBC layer (dlsym), once per process.
#include "data/odbcdm.h"

#include <dlfcn.h>

#include "platform/state.h"

namespace kiv::odbcdm {

namespace {

void reset_driver_manager();

// Opens one library. Kept in memory once opened (RTLD_NODELETE): the driver
// manager keeps drivers and their state behind it, so a test's reset only
// gives up the handle and a later load finds the same library again.
void* open_library(const std::string& name, std::string& error) {
  void* handle = ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (!handle) {
    const char* why = ::dlerror();
    error = why ? why : name + ": cannot be loaded";
  }
  return handle;
}

// Looks up `name` in the library; false with the loader's message in `error`
// when it is not there.
template <class F>
bool look_up(void* handle, const char* name, F& fn, std::string& error) {
  ::dlerror();
  void* p = ::dlsym(handle, name);
  if (!p) {
    const char* why = ::dlerror();
    error = why ? why : std::string(name) + ": not found";
    return false;
  }
  fn = reinterpret_cast<F>(p);
  return true;
}

// Opens both libraries and fills the table; false at the first failure.
bool load(DriverManager& dm) {
  dm.manager = open_library(dm.manager_library, dm.error);
  if (!dm.manager) return false;
  dm.installer = open_library(dm.installer_library, dm.error);
  if (!dm.installer) return false;
  Calls& c = dm.calls;
#define KIV_ODBC_LOOK_UP_MANAGER(name) \
  if (!look_up(dm.manager, #name, c.name, dm.error)) return false;
#define KIV_ODBC_LOOK_UP_INSTALLER(name) \
  if (!look_up(dm.installer, #name, c.name, dm.error)) return false;
  KIV_ODBC_MANAGER_CALLS(KIV_ODBC_LOOK_UP_MANAGER)
  KIV_ODBC_INSTALLER_CALLS(KIV_ODBC_LOOK_UP_INSTALLER)
#undef KIV_ODBC_LOOK_UP_MANAGER
#undef KIV_ODBC_LOOK_UP_INSTALLER
  return true;
}

// Gives up both handles (the libraries stay in memory, see open_library).
void close_libraries(DriverManager& dm) {
  if (dm.manager) ::dlclose(dm.manager);
  if (dm.installer) ::dlclose(dm.installer);
  dm.manager = nullptr;
  dm.installer = nullptr;
}

void reset_driver_manager() {
  DriverManager& dm = driver_manager_state();
  close_libraries(dm);
  dm = DriverManager{};
}

}  // namespace

DriverManager& driver_manager_state() {
  static DriverManager dm;
  KIV_REGISTER_RESET(&reset_driver_manager);
  return dm;
}

const Calls* driver_manager() {
  DriverManager& dm = driver_manager_state();
  if (!dm.tried) {
    dm.tried = true;
    if (!load(dm)) {
      // Half a table is no driver manager.
      close_libraries(dm);
      dm.calls = Calls{};
    }
  }
  return dm.manager ? &dm.calls : nullptr;
}

}  // namespace kiv::odbcdm

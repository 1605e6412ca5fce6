// Data source settings read through the driver manager (see odbcini.h).
#include "data/odbcini.h"

#include <vector>

#include "data/odbcdm.h"

namespace kiv {

namespace {

std::string profile_setting(const char* file, std::string_view name, std::string_view key) {
  const odbcdm::Calls* dm = odbcdm::driver_manager();
  if (!dm || name.empty() || key.empty()) return {};
  const std::string section(name), entry(key);
  // The call cuts a value at the buffer it is given and says how much it
  // wrote: a value that filled the buffer is read again into one twice the
  // size, so a setting of any length comes back whole.
  std::vector<char> buf(256);
  for (;;) {
    const int n = dm->SQLGetPrivateProfileString(section.c_str(), entry.c_str(), "", buf.data(),
                                                 static_cast<int>(buf.size()), file);
    if (n <= 0) return {};
    if (static_cast<size_t>(n) + 1 < buf.size()) return std::string(buf.data(), static_cast<size_t>(n));
    if (buf.size() >= (1u << 20)) return std::string(buf.data(), static_cast<size_t>(n));
    buf.resize(buf.size() * 2);
  }
}

}  // namespace

std::string odbc_dsn_setting(std::string_view dsn, std::string_view key) {
  return profile_setting("odbc.ini", dsn, key);
}

std::string odbc_driver_setting(std::string_view driver, std::string_view key) {
  return profile_setting("odbcinst.ini", driver, key);
}

}  // namespace kiv

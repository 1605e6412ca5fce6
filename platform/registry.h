// The registry layer: the home-folder and state-file lookups that the Windows
// programs make in HKEY_LOCAL_MACHINE. On Linux the registry is a text file
// named by KIV_REGISTRY_FILE, one value per line:
//     SOFTWARE\KIV\up\NVHOME=/srv/helpdesk
// (key, a backslash, the value name, "=", the data). Without that variable
// there is no registry and every key is missing.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kiv::registry {

enum class Status { ok, not_found, access_denied };

struct Value {
  std::string name;
  std::string data;
};

// Opens `key` under HKEY_LOCAL_MACHINE and gives its values in file order.
// Keys compare without regard to case, as registry keys do; value names are
// given as written. A registry file that exists but cannot be read for lack
// of rights is access_denied; any other failure, or a key with no values, is
// not_found.
Status open_key(std::string_view key, std::vector<Value>& values);

}  // namespace kiv::registry

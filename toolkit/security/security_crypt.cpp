// Password hashes through libcrypt (libxcrypt's crypt_r and crypt_gensalt_rn,
// yescrypt or SHA-512-crypt), and the old reversible form of login files.
// The library is loaded at run time, at the first password that is hashed
// or checked: only logins, password changes and new accounts need it, and
// every other request (the start page among them) starts without loading it.
#include <crypt.h>
#include <dlfcn.h>

#include <algorithm>
#include <memory>

#include "platform/state.h"
#include "toolkit/security/security.h"

namespace kiv {

namespace {

constexpr std::string_view kEncodeKey = "]=K;?:_|{-";

// The run-time library's soname (Debian's libcrypt1, which every system has).
constexpr const char* kCryptLibrary = "libcrypt.so.1";

// The library's two entry points, once loaded; both null when it could not
// be loaded.
struct CryptLibrary {
  bool tried = false;
  void* handle = nullptr;
  decltype(&::crypt_r) crypt_r = nullptr;
  decltype(&::crypt_gensalt_rn) crypt_gensalt_rn = nullptr;
};

void reset_cryptlib();

CryptLibrary& cryptlib_state() {
  static CryptLibrary lib;
  KIV_REGISTER_RESET(&reset_cryptlib);
  return lib;
}

void reset_cryptlib() {
  CryptLibrary& lib = cryptlib_state();
  if (lib.handle) ::dlclose(lib.handle);
  lib = CryptLibrary{};
}

// The loaded library, or nullptr when it cannot be loaded.
const CryptLibrary* cryptlib() {
  CryptLibrary& lib = cryptlib_state();
  if (!lib.tried) {
    lib.tried = true;
    lib.handle = ::dlopen(kCryptLibrary, RTLD_NOW | RTLD_LOCAL);
    if (lib.handle) {
      lib.crypt_r = reinterpret_cast<decltype(&::crypt_r)>(::dlsym(lib.handle, "crypt_r"));
      lib.crypt_gensalt_rn =
          reinterpret_cast<decltype(&::crypt_gensalt_rn)>(::dlsym(lib.handle, "crypt_gensalt_rn"));
    }
  }
  return lib.crypt_r && lib.crypt_gensalt_rn ? &lib : nullptr;
}

// Compares without stopping at the first difference.
bool same_text(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  unsigned char diff = 0;
  for (size_t i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
  return diff == 0;
}

}  // namespace

bool is_password_hash(std::string_view stored) { return stored.size() > 10 && stored[0] == '$'; }

std::string kivencrypt(std::string_view password) {
  std::string out(10, '\0');
  out[0] = static_cast<char>((password.size() + 1) & 0xFF);
  for (size_t i = 0; i < 9; ++i) {
    unsigned v = static_cast<unsigned char>(kEncodeKey[i]);
    if (i < password.size()) v += static_cast<unsigned char>(password[i]);
    out[i + 1] = static_cast<char>(v & 0xFF);
  }
  return out;
}

std::string kivdecrypt(std::string_view encoded) {
  if (encoded.empty()) return std::string();
  int count = static_cast<unsigned char>(encoded[0]) - 1;
  count = std::min<int>({count, 9, static_cast<int>(encoded.size()) - 1});
  std::string out;
  for (int i = 0; i < count; ++i)
    out += static_cast<char>((static_cast<unsigned char>(encoded[i + 1]) -
                              static_cast<unsigned char>(kEncodeKey[i])) & 0xFF);
  return out;
}

std::optional<std::string> hash_password(std::string_view password) {
  const CryptLibrary* lib = cryptlib();
  if (!lib) return std::nullopt;
  char salt[CRYPT_GENSALT_OUTPUT_SIZE];
  if (!lib->crypt_gensalt_rn("$y$", 0, nullptr, 0, salt, sizeof salt) &&
      !lib->crypt_gensalt_rn("$6$", 0, nullptr, 0, salt, sizeof salt))
    return std::nullopt;
  auto data = std::make_unique<crypt_data>();
  std::string pw(password);
  const char* h = lib->crypt_r(pw.c_str(), salt, data.get());
  if (!h || h[0] == '*') return std::nullopt;
  return std::string(h);
}

bool password_matches(std::string_view stored, std::string_view typed) {
  if (stored.empty()) return false;
  if (is_password_hash(stored)) {
    const CryptLibrary* lib = cryptlib();
    if (!lib) return false;
    auto data = std::make_unique<crypt_data>();
    std::string pw(typed), setting(stored);
    const char* h = lib->crypt_r(pw.c_str(), setting.c_str(), data.get());
    return h && h[0] != '*' && same_text(h, stored);
  }
  // The old form keeps the length and nine characters: both must agree.
  if (static_cast<unsigned char>(stored[0]) != ((typed.size() + 1) & 0xFF)) return false;
  return same_text(kivdecrypt(stored), typed.substr(0, std::min<size_t>(typed.size(), 9)));
}

}  // namespace kiv

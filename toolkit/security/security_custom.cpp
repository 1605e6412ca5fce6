// The rules of custom security: what a new password must be like, the
// history of a login's last six passwords, the count of failed logins and
// the age of a password.
#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/exit.h"
#include "toolkit/text/kivcgimisc.h"
#include "toolkit/base/kivcgitrace.h"
#include "toolkit/base/kivpath.h"
#include "toolkit/security/security.h"

namespace kiv {

namespace {

constexpr long kThirtyDays = 2592000;
constexpr size_t kHistoryBytes = 4 + 6 * 100;

bool check_failed(const char* message) {
  errmsg(message);
  errmsg("Please change your password and try again.\n");
  return true;
}

bool three_in_a_row(const std::string& p) {
  for (size_t i = 2; i < p.size(); ++i)
    if (p[i] == p[i - 1] && p[i] == p[i - 2]) return true;
  return false;
}

int character_classes(const std::string& p) {
  bool alpha = false, digit = false, other = false;
  for (char ch : p) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (std::isalpha(c))
      alpha = true;
    else if (std::isdigit(c))
      digit = true;
    else
      other = true;
  }
  return alpha + digit + other;
}

// The stored password of a used slot (the text before its last line feed),
// or none for a free slot.
std::optional<std::string> slot_text(const std::array<char, 100>& slot) {
  std::string_view s(slot.data(), slot.size());
  size_t nl = s.rfind('\n');
  if (nl == std::string_view::npos) return std::nullopt;
  return std::string(s.substr(0, nl));
}

// The password rules of custom security, steps 1 to 4: 0, or 1 after the
// messages.
int password_rules(const std::string& login, const std::string& password) {
  if (password == login &&
      check_failed("When creating an account the login and the password may not be the same.\n"))
    return 1;
  if (password.size() < 6 && check_failed("Password must be at least 6 characters or more.\n"))
    return 1;
  if (three_in_a_row(password) &&
      check_failed("Password may not contain more than two consecutive, identical characters.\n"))
    return 1;
  if (character_classes(password) < 2 &&
      check_failed("Password may not consist of all numbers, all characters, or all special "
                   "characters.\n"))
    return 1;
  return 0;
}

// custom_check_pass_history's work; the caller holds the login's lock.
int check_pass_history_held(const std::string& login, const std::string& password);

}  // namespace

int custome_check(const std::string& login, const std::string& password) {
  if (password_rules(login, password) != 0) return 1;
  return custom_check_pass_history(login, password);
}

int custome_check_held(const std::string& login, const std::string& password) {
  if (password_rules(login, password) != 0) return 1;
  return check_pass_history_held(login, password);
}

int custom_30age(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return 0;
  return std::time(nullptr) - st.st_mtime > kThirtyDays ? 1 : 0;
}

int custom_getattempt(const std::string& path) {
  FilePtr f = open_file(path, "r");
  if (!f) return 0;
  int count = 0;
  if (std::fscanf(f.get(), "%d", &count) != 1) return 0;
  return count;
}

int custom_incattempt(const std::string& path, int count) {
  return write_file_atomic(path, std::to_string(count + 1) + "\n", nullptr, {.new_mode = 0600}) ? 0 : 1;
}

int custom_check_pass_history(const std::string& login, const std::string& password) {
  FileLock lock = lock_login(login);
  return check_pass_history_held(login, password);
}

namespace {

int check_pass_history_held(const std::string& login, const std::string& password) {
  pass_history h;
  read_pass_history_file(login, h);
  int free_slot = -1;
  for (int i = 0; i < 6; ++i) {
    std::optional<std::string> stored = slot_text(h.slots[static_cast<size_t>(i)]);
    if (!stored) {
      free_slot = i;
      break;
    }
    if (password_matches(*stored, password)) {
      errmsg("Password reuse for the same User ID must be prohibited for a minimum of six "
             "consecutive password change actions.");
      errmsg("Please select a password that you have not used in the past 6 password changes.\n");
      return 1;
    }
  }
  h.index = free_slot >= 0 ? free_slot : (h.index + 1) % 6;
  std::optional<std::string> hash = hash_password(password);
  std::array<char, 100>& slot = h.slots[static_cast<size_t>(h.index)];
  slot.fill('\0');
  bool fits = hash && hash->size() + 1 <= slot.size();
  if (fits) {
    std::memcpy(slot.data(), hash->data(), hash->size());
    slot[hash->size()] = '\n';
  }
  if (!fits || write_pass_history_file(login, h) != 0) {
    errmsg("can't write password file history.\n");
    throw Exit{1};
  }
  return 0;
}

}  // namespace

int read_pass_history_file(const std::string& login, pass_history& h) {
  h = pass_history{};
  std::optional<std::string> path = loginfile_path(login, ".history");
  if (!path) return 0;
  std::string data;
  if (!read_whole_file(*path, data)) return 0;
  // Written in text mode on Windows, each line feed is stored as CR LF and
  // the file is longer than the record.
  if (data.size() > kHistoryBytes) data = filtertwolines(data);
  data.resize(kHistoryBytes, '\0');
  const unsigned char* b = reinterpret_cast<const unsigned char*>(data.data());
  uint32_t index = b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<uint32_t>(b[3]) << 24);
  // An index outside the six slots (a damaged file) starts over at 0.
  h.index = index < 6 ? static_cast<int32_t>(index) : 0;
  for (size_t i = 0; i < 6; ++i) std::memcpy(h.slots[i].data(), data.data() + 4 + i * 100, 100);
  return 0;
}

int write_pass_history_file(const std::string& login, const pass_history& h) {
  std::optional<std::string> path = loginfile_path(login, ".history");
  std::string shown = path.value_or(login);
  int fd = path ? ::open(path->c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600) : -1;
  if (fd < 0) {
    kivtrace("Open1: Cannot open file '%s' for writing. errno=%d\n", shown, path ? errno : EINVAL);
    return 1;
  }
  ::close(fd);
  std::string data(kHistoryBytes, '\0');
  uint32_t index = static_cast<uint32_t>(h.index);
  for (int i = 0; i < 4; ++i) data[static_cast<size_t>(i)] = static_cast<char>((index >> (8 * i)) & 0xFF);
  for (size_t i = 0; i < 6; ++i) std::memcpy(data.data() + 4 + i * 100, h.slots[i].data(), 100);
  if (!write_file_atomic(*path, data)) {
    errmsg("Open2: Cannot open file '%s' for writing. errno=%d\n", shown, errno);
    return 1;
  }
  return 0;
}

}  // namespace kiv

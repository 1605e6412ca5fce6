// Exclusive locks on lock files and folders, and the folder sync of a rename.
#include "toolkit/base/kivlock.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace kiv {

FileLock& FileLock::operator=(FileLock&& other) noexcept {
  if (this != &other) {
    release();
    fd_ = other.fd_;
    locked_ = other.locked_;
    other.fd_ = -1;
    other.locked_ = false;
  }
  return *this;
}

void FileLock::release() {
  locked_ = false;
  if (fd_ < 0) return;
  ::close(fd_);
  fd_ = -1;
}

namespace {

int open_lockfile(const std::string& path, mode_t mode) {
  return ::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, mode);
}

}  // namespace

bool FileLock::acquire(const std::string& path, std::optional<std::chrono::milliseconds> wait,
                       mode_t mode) {
  release();
  int fd = open_lockfile(path, mode);
  if (fd < 0) return false;
  return lock_descriptor(fd, wait);
}

bool FileLock::open(const std::string& path, mode_t mode) {
  release();
  fd_ = open_lockfile(path, mode);
  return fd_ >= 0;
}

bool FileLock::lock(std::optional<std::chrono::milliseconds> wait) {
  if (locked_) return true;
  if (fd_ < 0) {
    errno = EBADF;
    return false;
  }
  int fd = fd_;
  fd_ = -1;
  return lock_descriptor(fd, wait);
}

void FileLock::unlock() {
  if (!locked_) return;
  ::flock(fd_, LOCK_UN);
  locked_ = false;
}

bool FileLock::acquire_folder(const std::string& folder, std::optional<std::chrono::milliseconds> wait) {
  release();
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  if (!lock_descriptor(fd, wait)) return false;
  // The folder the lock is on must still be the one the path names.
  struct stat held {}, named {};
  if (::fstat(fd_, &held) == 0 && ::lstat(folder.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
      held.st_ino == named.st_ino)
    return true;
  release();
  errno = ENOENT;
  return false;
}

bool FileLock::lock_descriptor(int fd, std::optional<std::chrono::milliseconds> wait) {
  auto fail = [&] {
    int e = errno;
    ::close(fd);
    errno = e;
    return false;
  };
  if (!wait) {
    while (::flock(fd, LOCK_EX) != 0)
      if (errno != EINTR) return fail();
    fd_ = fd;
    locked_ = true;
    return true;
  }
  // A bounded wait: try without blocking, then again every few milliseconds
  // until the time is up.
  const auto deadline = std::chrono::steady_clock::now() + *wait;
  for (;;) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
      fd_ = fd;
      locked_ = true;
      return true;
    }
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK) return fail();
    auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return fail();
    auto pause = std::min<std::chrono::steady_clock::duration>(std::chrono::milliseconds(20), deadline - now);
    std::this_thread::sleep_for(pause);
  }
}

bool sync_folder(const std::string& folder) {
  int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  int rc = ::fsync(fd);
  int e = errno;
  ::close(fd);
  errno = e;
  return rc == 0;
}

}  // namespace kiv

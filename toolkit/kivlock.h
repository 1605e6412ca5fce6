// Lock files. Every file that concurrent requests rewrite (the id counter,
// object files, attempt counters, password histories, the case-number
// counter, assign files) is guarded by an exclusive flock on a lock file
// beside it. The lock file is never deleted: a deleted lock file would let a
// later process lock a new inode while a waiter still holds the old one. The
// system drops a flock when its process ends, so a killed process leaves no
// stale lock behind.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <sys/types.h>

namespace kiv {

class FileLock {
 public:
  FileLock() = default;
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  FileLock(FileLock&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  FileLock& operator=(FileLock&& other) noexcept;
  ~FileLock() { release(); }

  // Opens `path` (created with `mode` when missing; never through a link) and
  // takes an exclusive lock on it. The file is opened for reading only, all
  // that flock needs, so programs of other users that can read it share it.
  // Without `wait` the call waits as long as the holder keeps the lock; with
  // it, it gives up after that time. False, with errno set (EWOULDBLOCK after
  // a wait that ran out), when the lock is not held.
  bool acquire(const std::string& path, std::optional<std::chrono::milliseconds> wait = std::nullopt,
               mode_t mode = 0644);

  bool held() const { return fd_ >= 0; }
  // The descriptor of the lock file, or -1.
  int fd() const { return fd_; }
  // Drops the lock (closing the file); nothing when none is held.
  void release();

 private:
  int fd_ = -1;
};

// Makes a rename or a new entry in `folder` durable: opens the folder and
// syncs it. False (errno set) when it cannot.
bool sync_folder(const std::string& folder);

}  // namespace kiv

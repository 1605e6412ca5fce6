// Lock files and folder locks. Every file that concurrent requests rewrite
// (the id counter, object files, attempt counters, password histories, the
// case-number counter, assign files) is guarded by an exclusive flock on a
// lock file beside it. The lock file is never deleted: a deleted lock file
// would let a later process lock a new inode while a waiter still holds the
// old one. A folder whose entries are numbered by concurrent requests (a
// case's attachments) is locked itself, by an flock on the opened folder.
// The system drops a flock when its process ends, so a killed process leaves
// no stale lock behind.
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
  FileLock(FileLock&& other) noexcept : fd_(other.fd_), locked_(other.locked_) {
    other.fd_ = -1;
    other.locked_ = false;
  }
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

  // The second way to the lock: an existing folder, opened (never through a
  // link, never created) and locked exclusively, waiting as acquire does. A
  // folder that was removed or replaced while this process waited is no
  // longer the one the path names: the lock is dropped and the call gives
  // false with ENOENT, as for a folder that is missing, so that a caller
  // that makes the folder can make it again and retry. False, with errno
  // set, whenever the lock is not held.
  bool acquire_folder(const std::string& folder, std::optional<std::chrono::milliseconds> wait = std::nullopt);

  // The two halves of acquire, for a caller that must learn before its other
  // work whether the lock can be had, but holds it for a short part of that
  // work only: open() opens (creating it) the lock file as acquire does,
  // without locking it; lock() takes the lock on it, waiting as acquire does;
  // unlock() gives the lock up and keeps the file open for the next lock().
  // Each is false, with errno set, when it fails (a failed lock() closes the
  // file).
  bool open(const std::string& path, mode_t mode = 0644);
  bool lock(std::optional<std::chrono::milliseconds> wait = std::nullopt);
  void unlock();

  bool held() const { return locked_; }
  // The descriptor of the lock file, or -1.
  int fd() const { return fd_; }
  // Drops the lock (closing the file); nothing when none is held.
  void release();

 private:
  // Takes the lock on the open descriptor (which it then owns, or closes on
  // failure, keeping errno), waiting as acquire describes.
  bool lock_descriptor(int fd, std::optional<std::chrono::milliseconds> wait);

  int fd_ = -1;
  bool locked_ = false;
};

// Makes a rename or a new entry in `folder` durable: opens the folder and
// syncs it. False (errno set) when it cannot.
bool sync_folder(const std::string& folder);

}  // namespace kiv

#pragma once
// The single-instance lock "Tarvionprogram": an exclusive flock on
// Tarvionprogram.lock in $XDG_RUNTIME_DIR, or in /tmp when that is unset or
// no directory of this user that it may write to. The same kind of lock on
// tarvion.lock in the start directory keeps a second program (another
// user's, another session's, or the service) off that directory. A lock
// lives as long as its object, and with the process at the latest. Plain
// POSIX.

#include <string>

class SingleInstance {
 public:
  enum class Result { Acquired, AlreadyRunning, Failed };

  SingleInstance() = default;
  ~SingleInstance();
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;

  // Acquired: this process is the only one. AlreadyRunning: another process
  // holds the lock, also one of another user sharing /tmp. Failed: the lock
  // file cannot be used (a symbolic link or anything but a plain file in its
  // place, a file of another user that cannot be opened); Error() says why,
  // in Czech (UTF-8).
  Result Acquire() { return AcquireAt(LockPath()); }
  // The same for the lock file at `path`.
  Result AcquireAt(const std::string& path);
  const std::string& Error() const { return error_; }

  static std::string LockPath();
  // The lock file of the start directory `directory`.
  static std::string StartDirectoryLockPath(const std::string& directory);

 private:
  Result Fail(std::string why);

  int fd_ = -1;
  std::string error_;
};

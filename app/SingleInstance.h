#pragma once
// The single-instance lock "Tarvionprogram": an exclusive flock on
// Tarvionprogram.lock in $XDG_RUNTIME_DIR, or in /tmp when that is unset or
// no directory of this user that it may write to. The lock lives as long as
// the object, and with the process at the latest. Plain POSIX.

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
  Result Acquire();
  const std::string& Error() const { return error_; }

  static std::string LockPath();

 private:
  Result Fail(std::string why);

  int fd_ = -1;
  std::string error_;
};

#pragma once
// The single-instance lock "Tarvionprogram": an exclusive flock on
// Tarvionprogram.lock in $XDG_RUNTIME_DIR (or /tmp when it is unset or empty).
// The lock lives as long as the object, and with the process at the latest.

#include <string>

class SingleInstance {
 public:
  enum class Result { Acquired, AlreadyRunning, Failed };

  SingleInstance() = default;
  ~SingleInstance();
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;

  // Acquired: this process is the only one. AlreadyRunning: another process
  // holds the lock. Failed: the lock file could not be opened; Error() says why.
  Result Acquire();
  const std::string& Error() const { return error_; }

  static std::string LockPath();

 private:
  int fd_ = -1;
  std::string error_;
};

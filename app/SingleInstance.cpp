#include "app/SingleInstance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

SingleInstance::~SingleInstance() {
  if (fd_ >= 0) ::close(fd_);
}

std::string SingleInstance::LockPath() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  const std::string directory = runtime != nullptr && *runtime != '\0' ? runtime : "/tmp";
  return directory + "/Tarvionprogram.lock";
}

SingleInstance::Result SingleInstance::Acquire() {
  const std::string path = LockPath();
  // Read-only is enough for flock and lets other users share a lock file in /tmp.
  fd_ = ::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
  if (fd_ < 0) {
    error_ = path + ": " + std::strerror(errno);
    return Result::Failed;
  }
  if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) return Result::Acquired;
  const int reason = errno;
  ::close(fd_);
  fd_ = -1;
  if (reason == EWOULDBLOCK) return Result::AlreadyRunning;
  error_ = path + ": " + std::strerror(reason);
  return Result::Failed;
}

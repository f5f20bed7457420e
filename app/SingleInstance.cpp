#include "app/SingleInstance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

namespace {

constexpr char kLockName[] = "/Tarvionprogram.lock";
constexpr char kStartDirectoryLockName[] = "/tarvion.lock";
constexpr char kFallbackDirectory[] = "/tmp";

// $XDG_RUNTIME_DIR as the session sets it up: a directory of this user that
// it may write to. One left over after su or sudo is none of that.
bool UsableRuntimeDirectory(const char* directory) {
  struct stat info {};
  return directory != nullptr && *directory != '\0' && ::stat(directory, &info) == 0 && S_ISDIR(info.st_mode) &&
         info.st_uid == ::geteuid() && ::access(directory, W_OK | X_OK) == 0;
}

// Never through a symbolic link (anybody may plant one in /tmp), never
// blocking on a FIFO put there; read-only is enough for flock and lets users
// who share /tmp share the file. An existing file is opened without O_CREAT,
// which a sticky directory refuses for another user's file.
int OpenLockFile(const std::string& path) {
  constexpr int kFlags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
  int fd = ::open(path.c_str(), kFlags);
  if (fd < 0 && errno == ENOENT) fd = ::open(path.c_str(), kFlags | O_CREAT | O_EXCL, 0644);
  if (fd < 0 && errno == EEXIST) fd = ::open(path.c_str(), kFlags);  // another start made it meanwhile
  return fd;
}

std::string OwnerNote(const std::string& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0 || info.st_uid == ::geteuid()) return "";
  return "\nSoubor patří jinému uživateli (uid " + std::to_string(info.st_uid) +
         "): program zřejmě spustil jiný uživatel.";
}

}  // namespace

SingleInstance::~SingleInstance() {
  if (fd_ >= 0) ::close(fd_);
}

std::string SingleInstance::LockPath() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  return (UsableRuntimeDirectory(runtime) ? std::string(runtime) : std::string(kFallbackDirectory)) + kLockName;
}

std::string SingleInstance::StartDirectoryLockPath(const std::string& directory) {
  return directory + kStartDirectoryLockName;
}

SingleInstance::Result SingleInstance::AcquireAt(const std::string& path) {
  fd_ = OpenLockFile(path);
  if (fd_ < 0) {
    const int reason = errno;
    if (reason == ELOOP) return Fail(path + " je symbolický odkaz; program ho nepoužije. Odstraňte ho.");
    return Fail(path + ": " + std::strerror(reason) + OwnerNote(path));
  }
  struct stat info {};
  if (::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) {
    return Fail(path + " není obyčejný soubor; program ho nepoužije. Odstraňte ho.");
  }
  if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) return Result::Acquired;
  const int reason = errno;
  ::close(fd_);
  fd_ = -1;
  if (reason == EWOULDBLOCK) return Result::AlreadyRunning;
  return Fail(path + ": " + std::strerror(reason));
}

SingleInstance::Result SingleInstance::Fail(std::string why) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  error_ = std::move(why);
  return Result::Failed;
}

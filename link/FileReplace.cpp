#include "link/FileReplace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>

namespace {

constexpr mode_t kNewFileMode = 0666;  // narrowed by the umask, as for any new file

// The folder part of `path` ("." for a bare name) and the name part.
std::pair<std::string, std::string> SplitPath(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {".", path};
  return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

// A new temporary file of our own: O_EXCL never opens what is already there
// (a planted link included). One left by a process that was killed is ours
// and is removed first.
int CreateTemporary(const std::string& path) {
  constexpr int kFlags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
  int fd = ::open(path.c_str(), kFlags, kNewFileMode);
  if (fd < 0 && errno == EEXIST && ::unlink(path.c_str()) == 0) fd = ::open(path.c_str(), kFlags, kNewFileMode);
  return fd;
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) errno = ENOSPC;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

// The rename itself reaches the disk with the folder's entry.
bool SyncFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool synced = ::fsync(fd) == 0;
  const int error = errno;
  ::close(fd);
  errno = error;
  return synced;
}

// Removes the temporary file of a failed replacement, keeping the errno of
// the step that failed.
void DropTemporary(const std::string& temporary) {
  const int error = errno;
  ::unlink(temporary.c_str());
  errno = error;
}

}  // namespace

bool ReplaceFile(const std::string& path, std::string_view bytes, const std::function<void()>& then,
                 std::optional<mode_t> mode) {
  const auto [folder, name] = SplitPath(path);
  if (name.empty()) {
    errno = EISDIR;
    return false;
  }
  const std::string temporary = folder + "/." + name + ".tmp";
  const int fd = CreateTemporary(temporary);
  if (fd < 0) return false;
  const bool written = WriteAll(fd, bytes) && (!mode || ::fchmod(fd, *mode) == 0) && ::fsync(fd) == 0;
  if (!written) {
    const int error = errno;
    ::close(fd);
    errno = error;
    DropTemporary(temporary);
    return false;
  }
  if (::close(fd) != 0 || ::rename(temporary.c_str(), path.c_str()) != 0) {
    DropTemporary(temporary);
    return false;
  }
  if (then) then();
  SyncFolder(folder);
  return true;
}

bool RemoveFileDurably(const std::string& path) {
  if (::unlink(path.c_str()) == 0) return SyncFolderOf(path);
  return errno == ENOENT;
}

bool SyncFolderOf(const std::string& path) { return SyncFolder(SplitPath(path).first); }

bool RenameNoReplace(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // A file system without the flag: a hard link fails as well when `to`
  // exists, and the old name is dropped once the new one stands.
  if (::link(from.c_str(), to.c_str()) != 0) return false;
  ::unlink(from.c_str());
  return true;
}

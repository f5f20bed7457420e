#include "requests/RequestFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {

// Closes the descriptor (and with it our shared lock) on every exit.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int Get() const { return fd_; }

 private:
  int fd_;
};

// True when another process holds an exclusive flock or a POSIX write lock:
// the file is still being written and must not be taken in yet. Our own
// shared flock stays until the descriptor is closed.
bool HeldByWriter(int fd) {
  if (flock(fd, LOCK_SH | LOCK_NB) != 0) return errno == EWOULDBLOCK;
  struct flock probe {};
  probe.l_type = F_RDLCK;
  probe.l_whence = SEEK_SET;
  return fcntl(fd, F_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
}

// Reads to the end, or gives up once more than `maxBytes` came (the file grew).
FileRead ReadAll(int fd, std::string& bytes, uint64_t maxBytes) {
  char chunk[65536];
  for (;;) {
    const ssize_t n = read(fd, chunk, sizeof chunk);
    if (n == 0) return FileRead::Read;
    if (n < 0) {
      if (errno == EINTR) continue;
      return FileRead::Unreadable;
    }
    if (bytes.size() + static_cast<size_t>(n) > maxBytes) return FileRead::TooLarge;
    bytes.append(chunk, static_cast<size_t>(n));
  }
}

// Opens `path` for reading and tells whether it may be read now.
FileRead OpenForReading(const std::string& path, int& fd, struct stat& info) {
  fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? FileRead::Vanished : FileRead::Unreadable;
  if (fstat(fd, &info) != 0) return FileRead::Unreadable;
  if (!S_ISREG(info.st_mode)) {
    errno = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;  // a FIFO or a device is no request either
    return FileRead::Unreadable;
  }
  if (HeldByWriter(fd)) return FileRead::HeldByWriter;
  return FileRead::Read;
}

FileStamp StampOf(const struct stat& info) {
  return {info.st_dev, info.st_ino, info.st_size, info.st_mtim, info.st_ctim};
}

// The same file with the same content as far as its writer can tell: its
// size and last-write time.
bool SameContent(const FileStamp& a, const FileStamp& b) {
  return a.Device == b.Device && a.Inode == b.Inode && a.Size == b.Size &&
         a.Modified.tv_sec == b.Modified.tv_sec && a.Modified.tv_nsec == b.Modified.tv_nsec;
}

// While the file is read, even a change of its status (a link added or
// removed, its mode) counts: the read is then made again later.
bool SameStamp(const FileStamp& a, const FileStamp& b) {
  return SameContent(a, b) && a.Changed.tv_sec == b.Changed.tv_sec && a.Changed.tv_nsec == b.Changed.tv_nsec;
}

}  // namespace

std::vector<std::string> SplitLines(std::string_view bytes) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < bytes.size()) {
    const size_t end = bytes.find_first_of("\r\n", start);
    if (end == std::string_view::npos) {
      lines.emplace_back(bytes.substr(start));
      break;
    }
    lines.emplace_back(bytes.substr(start, end - start));
    start = end + 1;
    if (bytes[end] == '\r' && start < bytes.size() && bytes[start] == '\n') ++start;
  }
  return lines;
}

bool ChangedSinceRead(const std::string& path, const FileStamp& stamp) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return false;
  return !SameContent(StampOf(info), stamp);
}

FileRead ProbeLinesFile(const std::string& path, FileStamp& stamp) {
  int fd = -1;
  struct stat info {};
  const FileRead state = OpenForReading(path, fd, info);
  const FileDescriptor file(fd);
  if (state == FileRead::Read) stamp = StampOf(info);
  return state;
}

FileRead ReadLinesFile(const std::string& path, std::vector<std::string>& lines, FileStamp* stamp, uint64_t maxBytes) {
  int fd = -1;
  struct stat info {};
  const FileRead state = OpenForReading(path, fd, info);
  const FileDescriptor file(fd);
  if (state != FileRead::Read) return state;
  if (static_cast<uint64_t>(info.st_size) > maxBytes) {
    if (stamp != nullptr) *stamp = StampOf(info);
    return FileRead::TooLarge;
  }
  std::string bytes;
  const FileRead read = ReadAll(file.Get(), bytes, maxBytes);
  if (read == FileRead::TooLarge) return FileRead::HeldByWriter;  // it grew while it was read
  if (read != FileRead::Read) return read;
  // Rewritten while we read (a writer that takes no lock): the bytes may be
  // half old, half new. The new content is read once it has settled.
  struct stat after {};
  if (fstat(file.Get(), &after) != 0 || !SameStamp(StampOf(after), StampOf(info)) ||
      bytes.size() != static_cast<size_t>(info.st_size)) {
    return FileRead::HeldByWriter;
  }
  lines = SplitLines(bytes);
  if (stamp != nullptr) *stamp = StampOf(info);
  return FileRead::Read;
}

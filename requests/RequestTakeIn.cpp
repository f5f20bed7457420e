#include "requests/RequestTakeIn.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "link/FileReplace.h"
#include "requests/RequestLine.h"

namespace {

constexpr int kSmallestCountedCapacity = 2500;  // the default capacity
constexpr uint64_t kLongLineBytes = kMaxLineLength + 2;

bool Exists(const std::string& path) {
  struct stat info {};
  return lstat(path.c_str(), &info) == 0;
}

// Renames `from` to `to`, replacing what is there; 0 or the errno.
int RenameOver(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

// A file still being written goes back under its request name, or aside
// when a new request has that name by now; `error` when even that failed.
TakeIn PutBack(const std::string& path, int& error) {
  if (RenameNoReplace(TakenInPath(path), path)) return TakeIn::PutBack;
  error = RenameOver(TakenInPath(path), HalfWrittenPath(path));
  return TakeIn::SetAside;
}

}  // namespace

std::string TakenInPath(const std::string& requestPath) { return requestPath + ".prevzato"; }
std::string InterruptedPath(const std::string& requestPath) { return requestPath + ".nedokonceno"; }
std::string RefusedPath(const std::string& requestPath) { return requestPath + ".odmitnuto"; }
std::string HalfWrittenPath(const std::string& requestPath) { return requestPath + ".rozepsano"; }

uint64_t MaxRequestFileBytes(int capacity) {
  return 2 * static_cast<uint64_t>(std::max(capacity, kSmallestCountedCapacity)) * kLongLineBytes;
}

TakeIn TakeInRequestFile(const std::string& path, const std::optional<FileSighting>& settled, uint64_t maxBytes,
                         TakenRequest& taken) {
  // Looked at where it is first: a file its writer still locks, or one
  // written to again since it was judged settled, is not moved at all.
  FileStamp before;
  switch (ProbeLinesFile(path, before)) {
    case FileRead::Read:
      break;
    case FileRead::Unreadable:
      taken.Error = errno;
      return TakeIn::Unreadable;
    default:
      return TakeIn::NotReady;
  }
  if (settled && !StillAsSighted(before, *settled)) return TakeIn::NotReady;
  const std::string takenPath = TakenInPath(path);
  if (!RenameNoReplace(path, takenPath)) {
    taken.Error = errno;
    return errno == ENOENT ? TakeIn::NotReady : TakeIn::Blocked;
  }

  switch (ReadLinesFile(takenPath, taken.Lines, &taken.Stamp, maxBytes)) {
    case FileRead::Read:
      break;
    case FileRead::TooLarge:
      taken.Error = RenameOver(takenPath, RefusedPath(path));
      return TakeIn::TooLarge;
    case FileRead::Vanished:  // nobody but us uses the taken-in name
    case FileRead::HeldByWriter:
    case FileRead::Unreadable:
      return PutBack(path, taken.Error);
  }
  // Its writer was at it between the sighting and the rename.
  if (settled && !StillAsSighted(taken.Stamp, *settled)) return PutBack(path, taken.Error);
  // Lines go out only once the rename is on disk: after a power loss the
  // request must not be back under its name to be sent again.
  SyncFolderOf(takenPath);
  return TakeIn::Taken;
}

Release ReleaseTakenIn(const std::string& path, const FileStamp& stamp) {
  const std::string takenPath = TakenInPath(path);
  if (ChangedSinceRead(takenPath, stamp)) {
    int error = 0;
    if (PutBack(path, error) == TakeIn::PutBack) return Release::PutBack;
    errno = error;
    return error == 0 ? Release::SetAside : Release::Stuck;
  }
  return RemoveFileDurably(takenPath) ? Release::Removed : Release::Failed;
}

Leftover SetAsideInterruptedFile(const std::string& path) {
  const std::string takenPath = TakenInPath(path);
  if (!Exists(takenPath)) return Leftover::None;
  const int error = RenameOver(takenPath, InterruptedPath(path));
  errno = error;
  if (error != 0) return Leftover::Failed;
  SyncFolderOf(takenPath);
  return Leftover::SetAside;
}

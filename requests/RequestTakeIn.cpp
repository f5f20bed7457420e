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
constexpr uint64_t kLongLineBytes = MaxLineLength + 2;

bool Exists(const std::string& path) {
  struct stat info {};
  return lstat(path.c_str(), &info) == 0;
}

// A file still being written goes back under its request name, or aside
// when a new request has that name by now.
TakeIn PutBack(const std::string& path) {
  if (RenameNoReplace(TakenInPath(path), path)) return TakeIn::PutBack;
  std::rename(TakenInPath(path).c_str(), HalfWrittenPath(path).c_str());
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
  if (ProbeLinesFile(path, before) != FileRead::Read) return TakeIn::NotReady;
  if (settled && !StillAsSighted(before, *settled)) return TakeIn::NotReady;
  const std::string takenPath = TakenInPath(path);
  if (!RenameNoReplace(path, takenPath)) return errno == ENOENT ? TakeIn::NotReady : TakeIn::Blocked;

  switch (ReadLinesFile(takenPath, taken.Lines, &taken.Stamp, maxBytes)) {
    case FileRead::Read:
      break;
    case FileRead::TooLarge:
      std::rename(takenPath.c_str(), RefusedPath(path).c_str());
      return TakeIn::TooLarge;
    case FileRead::Vanished:  // nobody but us uses the taken-in name
    case FileRead::HeldByWriter:
    case FileRead::Unreadable:
      return PutBack(path);
  }
  // Its writer was at it between the sighting and the rename.
  if (settled && !StillAsSighted(taken.Stamp, *settled)) return PutBack(path);
  return TakeIn::Taken;
}

Release ReleaseTakenIn(const std::string& path, const FileStamp& stamp) {
  const std::string takenPath = TakenInPath(path);
  if (ChangedSinceRead(takenPath, stamp)) return PutBack(path) == TakeIn::PutBack ? Release::PutBack : Release::SetAside;
  if (unlink(takenPath.c_str()) == 0 || errno == ENOENT) return Release::Removed;
  return Release::Failed;
}

Leftover SetAsideInterruptedFile(const std::string& path) {
  const std::string takenPath = TakenInPath(path);
  if (!Exists(takenPath)) return Leftover::None;
  return std::rename(takenPath.c_str(), InterruptedPath(path).c_str()) == 0 ? Leftover::SetAside : Leftover::Failed;
}

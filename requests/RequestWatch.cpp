#include "requests/RequestWatch.h"

#include <sys/stat.h>

namespace {
constexpr int kRequestCheckAfter = 20;
constexpr int kTerminalCheckAfter = 80;

int64_t NanosecondsOf(const timespec& time) { return static_cast<int64_t>(time.tv_sec) * 1000000000 + time.tv_nsec; }
}  // namespace

FileSighting LookUpRequestFile(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return {};
  return {true, NanosecondsOf(info.st_mtim), static_cast<int64_t>(info.st_size)};
}

bool StillAsSighted(const FileStamp& read, const FileSighting& sighted) {
  return sighted.RegularFile && NanosecondsOf(read.Modified) == sighted.LastWriteNs && read.Size == sighted.Size;
}

bool RequestSightings::RequestFileReady(const FileSighting& sighting) {
  if (!sighting.RegularFile) {
    seen_.reset();
    return false;
  }
  if (seen_ && seen_->LastWriteNs == sighting.LastWriteNs && seen_->Size == sighting.Size) {
    seen_.reset();
    return true;
  }
  seen_ = sighting;
  return false;
}

WatchTask WatchCounters::Pass() {
  ++watchTick_;
  ++testTick_;
  if (watchTick_ > kRequestCheckAfter) {
    watchTick_ = 0;
    return WatchTask::CheckRequest;
  }
  if (testTick_ > kTerminalCheckAfter) {
    testTick_ = 0;
    return WatchTask::CheckTerminal;
  }
  return WatchTask::None;
}

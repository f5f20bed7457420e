#include "requests/RequestWatch.h"

#include <sys/stat.h>

namespace {
constexpr int kRequestCheckAfter = 20;
constexpr int kTerminalCheckAfter = 80;
}  // namespace

FileSighting LookUpRequestFile(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return {};
  return {true, static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec};
}

bool TRequestSightings::RequestFileReady(const FileSighting& sighting) {
  if (!sighting.RegularFile) {
    seenStamp_.reset();
    return false;
  }
  if (seenStamp_ == sighting.LastWriteNs) {
    seenStamp_.reset();
    return true;
  }
  seenStamp_ = sighting.LastWriteNs;
  return false;
}

WatchTask TWatchCounters::Pass() {
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

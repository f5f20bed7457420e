#pragma once
// The watcher's decisions, without the thread: when a request file is ready
// to be handed over, and which task a 50 ms pass of the watcher runs.

#include <cstdint>
#include <optional>
#include <string>

#include "requests/RequestFile.h"

// What one look at the request path found.
struct FileSighting {
  bool RegularFile = false;    // exists and is a regular file (not a directory)
  int64_t LastWriteNs = 0;     // its last-write time, nanoseconds since the epoch
  int64_t Size = 0;            // its size in bytes
};

// Looks the path up (following a symbolic link).
FileSighting LookUpRequestFile(const std::string& path);

// True when the file read (its stamp) is still the file as it was sighted:
// same last-write time and size. A writer that truncated or rewrote it after
// the sightings that judged it settled (say, between truncating and writing)
// makes this false, so that a half-written file is not taken in.
bool StillAsSighted(const FileStamp& read, const FileSighting& sighted);

// The two-sighting test. A file is ready when it is seen on two consecutive
// checks with the same last-write time; the ready answer forgets the sighting,
// so a file that is still there afterwards needs two more checks. A check
// that finds nothing (or a directory, or another kind of file) forgets the
// sighting too, and a changed last-write time or size counts as a new first
// sighting.
class RequestSightings {
 public:
  bool RequestFileReady(const FileSighting& sighting);

 private:
  std::optional<FileSighting> seen_;  // the first sighting
};

enum class WatchTask { None, CheckRequest, CheckTerminal };

// The pass counters: every 21st pass checks the request file, the 81st pass
// since the last terminal check checks the selected terminal; when both fall
// on one pass, the request check goes first and the terminal check moves to
// the next pass. A paused watcher makes no passes.
class WatchCounters {
 public:
  WatchTask Pass();

 private:
  int watchTick_ = 0;  // passes since the last request-file check
  int testTick_ = 0;   // passes since the last terminal check
};

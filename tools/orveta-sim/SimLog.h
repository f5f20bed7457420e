#pragma once
// The simulator's log: one line per frame or event, kept in memory for tests
// and appended to a file when one is given. Lines are
//   "<ms since start> <dir> <hex bytes, space separated>"
// with dir rx (a whole frame received), bad (bytes that made no frame),
// tx-ack, tx-nak, tx-data, tx-poll, tx-bad-poll, tx-noise (written when the
// bytes start to leave), tx-cut (the bytes of the transmission before it that never left:
// the PC closed the line or stopped reading), and
//   "reaction <microseconds>"
// after a frame received after a poll. Thread-safe.

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "tools/orveta-sim/SimClock.h"

// The bytes as upper-case hex pairs separated by blanks: "10 04 55 69".
std::string HexBytes(std::string_view bytes);
// What a log line says after its time stamp ("rx 05 04 41 4A"); a line
// without a time stamp ("reaction 812") is returned whole.
std::string_view SimLogEntry(std::string_view line);

class SimLog {
 public:
  explicit SimLog(SimTime start) : start_(start) {}
  ~SimLog();
  SimLog(const SimLog&) = delete;
  SimLog& operator=(const SimLog&) = delete;

  // Appends to `path` from now on. False with `error` set when it cannot be opened.
  bool OpenFile(const std::string& path, std::string& error);
  // "<ms> <dir> <hex>" with the time of `at`.
  void Add(SimTime at, std::string_view dir, std::string_view bytes);
  void AddReaction(std::chrono::microseconds reaction);

  // The lines kept in memory (the oldest are dropped beyond 16 MB of text).
  std::vector<std::string> Lines() const;
  // Number of lines written since the start, dropped ones included.
  std::size_t Count() const;
  // Waits until a line with index `from` or later has an entry beginning with
  // `entry`. Its index, or -1 when none came within `timeout`.
  long WaitFor(std::string_view entry, std::chrono::milliseconds timeout, std::size_t from = 0) const;

 private:
  void Append(std::string line);

  const SimTime start_;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::deque<std::string> lines_;
  std::size_t dropped_ = 0;
  std::size_t keptChars_ = 0;
  std::FILE* file_ = nullptr;
};

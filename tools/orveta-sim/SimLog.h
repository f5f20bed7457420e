#pragma once
// The simulator's log: one line per frame or event, kept in memory for tests
// and appended to a file when one is given. Lines are
//   "<ms since start> <dir> <hex bytes, space separated>"
// with dir rx (a whole frame received), bad (bytes that made no frame),
// tx-ack, tx-nak, tx-data, tx-poll, tx-bad-poll, tx-noise (written when the
// bytes start to leave), tx-cut (the bytes of the transmission before it
// that never left: the PC closed the line or stopped reading), polls-cut N
// (before a poll that left: N polls before it found the line full and were
// dropped), backlog (a backlog of polls written at once: how many, how many
// the line took), and
//   "reaction <microseconds>"
// after a frame received after a poll. Thread-safe.
//
// The file is written by a thread of the log's own: a write to a busy disk
// can take tens of milliseconds (a journal commit under other programs'
// fsyncs), and the terminal must answer on time all the same.

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
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

  // Appends to `path` from now on. False with `error` set when it cannot be
  // opened. Lines reach the file soon after they are added, all of them by
  // the time the log is destroyed.
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
  void WriteFile();
  void StopWriter();

  const SimTime start_;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::deque<std::string> lines_;
  std::size_t dropped_ = 0;
  std::size_t keptChars_ = 0;

  // The file and what is still to be written to it (under mutex_).
  std::FILE* file_ = nullptr;
  std::string unwritten_;
  std::size_t unwrittenLost_ = 0;  // lines not written: the file fell too far behind
  bool stopping_ = false;
  std::condition_variable toWrite_;
  std::thread writer_;
};

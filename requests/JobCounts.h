#pragma once
// What the jobs of this run have done, counted by the request processor for
// the window and the metrics file. Plain C++.

#include <array>
#include <cstdint>
#include <ctime>
#include <optional>

#include "link/Settings.h"

enum class JobOutcome {
  Done,         // ran to its end (also with failed lines)
  Refused,      // nothing sent: no terminal, an empty or too large request
  Stopped,      // a close stopped it after some of its lines
  NotFinished,  // its final status could not be written, or the last run ended in it
};
constexpr int kJobOutcomeCount = 4;

struct TerminalJobCounts {
  uint64_t ReceiveRepeats = 0;   // data commands sent again after an answer of bad length
  uint64_t RecordsReceived = 0;  // records of the data answers taken
};

// The last job that ended.
struct JobEndReport {
  std::time_t End = 0;
  double DurationSeconds = 0;
  int First = 0;  // the status pair, "4,3"
  int Second = 0;
};

struct JobCounts {
  std::array<uint64_t, kJobOutcomeCount> Jobs{};  // by JobOutcome
  std::array<TerminalJobCounts, kTerminalCount> Terminals{};
  std::optional<JobEndReport> Last;
};

#pragma once
// What a job came to: the results of its lines folded into one report. The
// status pair, the output file and the lines of the result list are all made
// from it. Plain C++.

#include <cstdint>
#include <string>
#include <vector>

#include "requests/LineExecution.h"

// How far a job came; each stage gives its status pair (StatusPairOf):
enum class JobStage {
  NothingToSend,         // -1,-1  an empty request, or one too large to be a request
  Interrupted,           // -1,-1  a taken-in request the last run left; never sent again
  TerminalNotAvailable,  // -1,0   the request's "TERM" line names no available terminal
  TerminalSelected,      //  1,0   its "TERM" line selected the terminal; the lines follow
  NoTerminal,            // -1,-1  the batch's terminal has no object (its port never opened)
  Sent,                  // DoneCount,RecordCount  the lines went out (also none of them,
                         //        or to a terminal that is not connected: 0,0)
};

struct StatusPair {
  int First = 0;
  int Second = 0;
  bool operator==(const StatusPair&) const = default;
};

struct JobReport {
  JobStage Stage = JobStage::Sent;
  int32_t DoneCount = 0;    // commands acknowledged with a whole answer, if any
  int32_t RecordCount = 0;  // records of the last attempt's answer; 0 when it had none
  std::vector<std::string> Lines;  // the decoded answer lines in order: the output file

  // Folds in one attempt of a line.
  void Add(LineResult result);
};

StatusPair StatusPairOf(const JobReport& report);

#include "requests/RequestClientRules.h"

#include <utility>

#include "link/StartFiles.h"
#include "requests/RequestTakeIn.h"

namespace {

constexpr StatusPair kNoFinalPair{-1, -1};

}  // namespace

RequestClientRules::RequestClientRules(std::string requestName, std::string outputName)
    : request_(std::move(requestName)), takenIn_(TakenInPath(request_)), output_(std::move(outputName)) {}

JobStage RequestClientRules::Seen(const DirectoryChange& change) {
  const std::string from =
      std::exchange(movedFrom_, change.Kind == ChangeKind::MovedFrom ? change.Name : std::string());
  switch (stage_) {
    case JobStage::Waiting:
      if (change.Kind == ChangeKind::MovedFrom && change.Name == request_) TakeIn();
      break;
    case JobStage::TakenIn:
      if (change.Kind == ChangeKind::MovedTo) MovedTo(from, change);
      if (change.Kind == ChangeKind::Removed) Removed(change.Name);
      break;
    case JobStage::Final:
    case JobStage::Unfinished:
    case JobStage::NotRun:
      break;
  }
  return stage_;
}

void RequestClientRules::TakeIn() {
  stage_ = JobStage::TakenIn;
  lastPair_.reset();
  outputCame_ = false;
  outputLost_ = false;
}

void RequestClientRules::MovedTo(const std::string& from, const DirectoryChange& change) {
  if (change.Name == kStatusFileName) {
    PairWritten(change.Pair);
  } else if (change.Name == output_) {
    outputCame_ = true;
    outputLost_ = false;
  } else if (from == takenIn_) {
    TakenInFileMoved(change.Name);
  }
}

void RequestClientRules::TakenInFileMoved(const std::string& to) {
  if (to == InterruptedPath(request_)) {
    End(JobStage::Unfinished, kNoFinalPair);
  } else if (to == RefusedPath(request_)) {
    End(JobStage::Final, kNoFinalPair);
  } else if ((to == request_ || to == HalfWrittenPath(request_)) && !outputCame_) {
    if (lastPair_) {
      FinalWithoutOutput();
    } else {
      // Found still being written at the take-in: back under its name to be
      // taken in again, or kept aside and never run.
      stage_ = to == request_ ? JobStage::Waiting : JobStage::NotRun;
    }
  }
}

// The taken-in file released right after the final pair, and no output file
// came: that pair was the final one, its output could not be written.
void RequestClientRules::FinalWithoutOutput() {
  outputLost_ = true;
  End(JobStage::Final, *lastPair_);
}

// A pair that could not be read is final after the output; before it, the
// changes that follow tell (the taken-in file's removal makes it final).
void RequestClientRules::PairWritten(const ReadPair& pair) {
  if ((pair && pair->First < 0) || outputCame_) {
    End(JobStage::Final, pair);
  } else {
    lastPair_ = pair;
  }
}

void RequestClientRules::Removed(const std::string& name) {
  if (name == kStatusFileName) {
    if (outputCame_) End(JobStage::Unfinished, kNoFinalPair);  // the final pair could not be written
  } else if (name == output_) {
    outputCame_ = true;
    outputLost_ = true;
  } else if (name == takenIn_ && lastPair_ && !outputCame_) {
    FinalWithoutOutput();
  }
}

void RequestClientRules::End(JobStage stage, ReadPair pair) {
  stage_ = stage;
  pair_ = pair;
}

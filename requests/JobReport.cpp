#include "requests/JobReport.h"

#include <iterator>

void JobReport::Add(LineResult result) {
  if (result.Counted()) ++DoneCount;
  RecordCount = result.RecordCount;
  Lines.insert(Lines.end(), std::make_move_iterator(result.Lines.begin()), std::make_move_iterator(result.Lines.end()));
}

StatusPair StatusPairOf(const JobReport& report) {
  switch (report.Stage) {
    case JobStage::NothingToSend:
    case JobStage::Interrupted:
    case JobStage::NoTerminal:
      return {-1, -1};
    case JobStage::TerminalNotAvailable:
      return {-1, 0};
    case JobStage::TerminalSelected:
      return {1, 0};
    case JobStage::Sent:
      break;
  }
  return {report.DoneCount, report.RecordCount};
}

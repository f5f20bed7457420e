// A batch of lines for one terminal: the lines in order, long lines as two
// commands, every command with its attempts and receive repeats, the progress
// display and the fixed pauses.

#include "requests/RequestProcessor.h"

#include <algorithm>
#include <chrono>
#include <optional>

#include "link/Coding.h"
#include "link/Cp1250.h"
#include "link/Customport.h"
#include "link/ErrorLog.h"
#include "link/Orveta.h"
#include "link/JobClock.h"
#include "link/Pauses.h"
#include "link/Settings.h"
#include "requests/LineExecution.h"
#include "requests/ProcessPriority.h"
#include "requests/RequestLine.h"
#include "requests/StatusPanels.h"

namespace {

using std::chrono::milliseconds;

constexpr char kBalloonTitle[] = "Odesílání";

}  // namespace

int RequestProcessor::SendBatch() {
  ExchangeScope exchange(*this, ExchangeKind::Inner);
  BatchScope batch(observer_);
  const int t = selected_;
  stoppedAt_.reset();
  TOrveta* terminal = TerminalFor(t);
  if (terminal == nullptr) return t;
  report_.DoneCount = 0;
  report_.RecordCount = 0;
  if (!terminal->IsConnected()) return t;
  batchCounts_ = &counts_.Terminals[t];
  const LogAbout about(t + 1, terminal->Port->PortIndex + 1);
  const LineErrorWatch lineErrors(terminal->Port);
  try {
    if (!SendLines(*terminal)) return t;  // shutting down: the progress stays as it is
  } catch (const EDivByZero& error) {
    AppendErrorLog(Cp1250FromUtf8(error.what()), LogTag{"request-line", LogUrgency::Warning});
  }
  EndProgress();
  return t;
}

// False when the batch stopped because the program is shutting down; where
// is then in stoppedAt_. A line whose repeats the stop cut short was not
// carried out: it is kept with the lines after it.
bool RequestProcessor::SendLines(TOrveta& terminal) {
  const std::vector<std::string> lines = requestLines_;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (Stopping()) {
      stoppedAt_ = StopPoint{i, lines.size()};
      return false;
    }
    const bool sent = SendLine(terminal, lines[i]);
    if (terminal.Port != nullptr) terminal.Port->LookAtLineErrors();  // the trace shows them by their line
    if (!sent && Stopping()) {
      stoppedAt_ = StopPoint{i, lines.size()};
      return false;
    }
    if (!sent && controls_.StopOnFailure) break;
    ShowProgress(i + 1, lines.size());
    PauseFor(pauses::AfterLine.For(terminal.IsMaster()));
  }
  return true;
}

bool RequestProcessor::SendLine(TOrveta& terminal, const std::string& line) {
  switch (ClassifyLine(line)) {
    case LineKind::Empty:
      return true;
    case LineKind::Single:
      return SendWithRepeats(terminal, line);
    case LineKind::Long:
      return SendLongLine(terminal, line);
    case LineKind::Refused:
      break;
  }
  AppendErrorLog(RefusedLineMessage(line), LogTag{"request-line", LogUrgency::Warning});
  return false;
}

// True when the command was acknowledged, or when the attempts ran out on a
// data answer of bad length (the line then counts as carried out). An answer
// larger than the capacity fails the line at once: a repeat would only
// overflow again. Once a stop is asked for no further attempt starts: the
// program ends after the attempt in progress, and a stop must not wait for
// its repeats.
bool RequestProcessor::SendWithRepeats(TOrveta& terminal, const std::string& line) {
  int receiveTry = 1;
  bool carriedOut = false;
  for (int attempt = 1; attempt <= std::max(1, controls_.Attempts); ++attempt) {
    if (attempt > 1 && Stopping()) return false;
    observer_.PanelChanged(kAttemptPanel, std::to_string(attempt));
    LineResult result = ExecuteAttempt(terminal, line);
    carriedOut = result.CarriedOut();
    const bool overflow = result.Overflow;
    const bool receiveRepeat = result.ReceiveRepeat;
    const int32_t records = result.RecordCount;
    AddToReport(std::move(result));
    if (!carriedOut) {
      if (overflow) return false;
      PauseFor(pauses::AfterFailedAttempt);
      continue;
    }
    if (!receiveRepeat) {
      batchCounts_->RecordsReceived += static_cast<uint64_t>(std::max(records, 0));
      return true;
    }
    ++batchCounts_->ReceiveRepeats;
    PauseFor(pauses::AfterFailedAttempt);
    observer_.PanelChanged(kReceiveTryPanel, std::to_string(++receiveTry));
  }
  return carriedOut;
}

bool RequestProcessor::SendLongLine(TOrveta& terminal, const std::string& line) {
  const auto [record, continuation] = SplitLongLine(line);
  const bool recordSent = SendWithRepeats(terminal, record);
  PauseFor(pauses::BetweenLongLineCommands.For(terminal.IsMaster()));
  return recordSent && SendWithRepeats(terminal, continuation);
}

LineResult RequestProcessor::ExecuteAttempt(TOrveta& terminal, const std::string& line) {
  // Tells the observer when the attempt ends, also when the coding throws.
  struct Attempt {
    Attempt(JobObserver& observer, std::chrono::milliseconds longest) : observer_(observer) {
      observer_.AttemptStarts(longest);
    }
    ~Attempt() { observer_.AttemptEnds(); }
    JobObserver& observer_;
  } attempt(observer_, LongestAttemptTime(Settings(), line[0]));
  std::optional<RaisedPriority> raised;
  if (controls_.RaisePriority) raised.emplace();
  return ExecuteLine(terminal, line);
}

void RequestProcessor::AddToReport(LineResult result) {
  if (!result.Lines.empty()) observer_.AnswerLinesAdded(result.Lines);
  report_.Add(std::move(result));
}

void RequestProcessor::ShowProgress(size_t done, size_t count) {
  const std::string text = std::to_string(done) + "/" + std::to_string(count);
  observer_.PanelChanged(kProgressPanel, text);
  observer_.ProgressShown(kBalloonTitle, text);
  observer_.RepaintDue();
}

void RequestProcessor::EndProgress() {
  observer_.PanelChanged(kProgressPanel, "");
  observer_.ProgressEnded();
  observer_.RepaintDue();
}

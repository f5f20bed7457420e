// A batch of lines for one terminal: the lines in order, long lines as two
// commands, every command with its attempts and receive repeats, the progress
// display and the fixed pauses.

#include "requests/RequestProcessor.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <optional>

#include "link/Coding.h"
#include "link/Cp1250.h"
#include "link/Customport.h"
#include "link/ErrorLog.h"
#include "link/Orveta.h"
#include "link/Settings.h"
#include "requests/LineExecution.h"
#include "requests/ProcessPriority.h"
#include "requests/RequestLine.h"
#include "requests/StatusPanels.h"

namespace {

using std::chrono::milliseconds;

constexpr char kBalloonTitle[] = "Odesílání";

constexpr milliseconds kAfterFailedAttempt{100};

milliseconds AfterLine(const TOrveta& terminal) { return milliseconds(terminal.IsMaster() ? 2 : 25); }
milliseconds BetweenLongLineCommands(const TOrveta& terminal) { return milliseconds(terminal.IsMaster() ? 5 : 30); }

}  // namespace

int RequestProcessor::SendBatch() {
  ExchangeScope exchange(*this);
  WatcherPause pause(host_);
  const int t = host_.SelectedIndex();
  stoppedAt_.reset();
  TOrveta* terminal = TerminalFor(t);
  if (terminal == nullptr) return t;
  terminal->DoneCount = 0;
  terminal->RecordCount = 0;
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
    if (!sent && host_.Controls().StopOnFailure) break;
    ShowProgress(i + 1, lines.size());
    host_.Sleep(AfterLine(terminal));
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
  FillLineBuffer(line);
  for (int attempt = 1; attempt <= std::max(1, host_.Controls().Attempts); ++attempt) {
    if (attempt > 1 && Stopping()) return false;
    host_.SetPanel(kAttemptPanel, std::to_string(attempt));
    carriedOut = ExecuteAttempt(terminal, host_.Controls().RaisePriority);
    if (!carriedOut) {
      if (terminal.CapacityExceeded) return false;
      host_.Sleep(kAfterFailedAttempt);
      continue;
    }
    // Only a data command's first letter can be replaced by the 'E' mark; a
    // command that itself starts with 'E' is never a receive repeat.
    if (lineBuffer_[0] == line[0]) {
      batchCounts_->RecordsReceived += static_cast<uint64_t>(std::max(terminal.RecordCount, 0));
      return true;
    }
    ++batchCounts_->ReceiveRepeats;
    host_.Sleep(kAfterFailedAttempt);
    host_.SetPanel(kReceiveTryPanel, std::to_string(++receiveTry));
    --terminal.DoneCount;
    FillLineBuffer(line);
  }
  return carriedOut;
}

bool RequestProcessor::SendLongLine(TOrveta& terminal, const std::string& line) {
  const auto [record, continuation] = SplitLongLine(line);
  const bool recordSent = SendWithRepeats(terminal, record);
  host_.Sleep(BetweenLongLineCommands(terminal));
  return recordSent && SendWithRepeats(terminal, continuation);
}

bool RequestProcessor::ExecuteAttempt(TOrveta& terminal, bool raisePriority) {
  // Tells the host when the attempt ends, also when the coding throws.
  struct Attempt {
    Attempt(BatchHost& host, std::chrono::milliseconds longest) : host_(host) { host_.AttemptStarts(longest); }
    ~Attempt() { host_.AttemptEnds(); }
    BatchHost& host_;
  } attempt(host_, LongestAttemptTime(Settings(), lineBuffer_[0]));
  std::optional<RaisedPriority> raised;
  if (raisePriority) raised.emplace();
  return ExecuteLine(terminal, lineBuffer_.data());
}

// Lines reach here at most kMaxLineLength long (ClassifyLine); the copy is
// bounded all the same and always leaves the terminating zero.
void RequestProcessor::FillLineBuffer(const std::string& line) {
  lineBuffer_.fill(0);
  std::memcpy(lineBuffer_.data(), line.data(), std::min(line.size(), lineBuffer_.size() - 1));
}

void RequestProcessor::ShowProgress(size_t done, size_t count) {
  const std::string text = std::to_string(done) + "/" + std::to_string(count);
  host_.SetPanel(kProgressPanel, text);
  host_.ShowBalloon(kBalloonTitle, text);
  host_.RepaintNow();
}

void RequestProcessor::EndProgress() {
  host_.SetPanel(kProgressPanel, "");
  host_.HideBalloon();
  host_.RepaintNow();
}

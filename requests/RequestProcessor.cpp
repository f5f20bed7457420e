// The jobs around a batch: a request file, a typed command, a command file and
// the clock setting, with what they report afterwards.

#include "requests/RequestProcessor.h"

#include <chrono>
#include <cstring>
#include <optional>

#include "link/Cp1250.h"
#include "link/ErrorLog.h"
#include "link/Orveta.h"
#include "link/Settings.h"
#include "link/JobClock.h"
#include "link/Pauses.h"
#include "link/StopRequest.h"
#include "requests/ClockLine.h"
#include "requests/OutputFiles.h"
#include "requests/RequestFile.h"
#include "requests/RequestLine.h"
#include "requests/RequestTakeIn.h"
#include "requests/RequestWatch.h"
#include "requests/StatusPanels.h"

namespace {

constexpr int kTrayIdle = 0;
constexpr int kTrayTakingIn = 1;

// An error-log line about a file: Czech text (UTF-8 here) around the path's
// own bytes.
void LogFileEvent(const std::string& before, const std::string& path, const std::string& after) {
  AppendErrorLog(Cp1250FromUtf8(before) + path + Cp1250FromUtf8(after), LogTag{"request-file", LogUrgency::Warning});
}

// ": " and the system's reason for `error`.
std::string Reason(int error) { return std::string(": ") + std::strerror(error); }

// A request found still being written after the rename, whose name a new
// request had taken: where it is now.
void LogSetAside(const std::string& path, int error) {
  if (error == 0) {
    LogFileEvent("Požadavek ", path, " se stále zapisuje, uložen jako " + HalfWrittenPath(path));
    return;
  }
  LogFileEvent("Požadavek ", path,
               " se stále zapisuje; soubor " + TakenInPath(path) + " nelze přejmenovat na " + HalfWrittenPath(path) +
                   Reason(error));
}

void LogTooLarge(const std::string& path, const TakenRequest& taken) {
  const std::string size = " je příliš velký (" + std::to_string(taken.Stamp.Size) + " bajtů, nejvýše " +
                           std::to_string(MaxRequestFileBytes(Settings().Capacity)) + "), odmítnut";
  if (taken.Error == 0) {
    LogFileEvent("Požadavek ", path, size + " a uložen jako " + RefusedPath(path));
    return;
  }
  LogFileEvent("Požadavek ", path,
               size + "; soubor " + TakenInPath(path) + " nelze přejmenovat na " + RefusedPath(path) +
                   Reason(taken.Error));
}

// The identity of a request file as far as a look at it tells.
bool SameSighting(const FileSighting& a, const FileSighting& b) {
  return a.RegularFile == b.RegularFile && a.LastWriteNs == b.LastWriteNs && a.Size == b.Size;
}

}  // namespace

TerminalIndicator IndicatorFor(const TOrveta& terminal) {
  if (terminal.IsMaster()) return TerminalIndicator::Green;
  if (terminal.IsSlave()) return TerminalIndicator::Cyan;
  return TerminalIndicator::Red;
}

RequestProcessor::RequestProcessor(JobObserver& observer) : observer_(observer) {}

RequestProcessor::~RequestProcessor() = default;

TOrveta* RequestProcessor::Terminal(int t) const {
  return t >= 0 && t < kTerminalCount ? terminals_[static_cast<size_t>(t)].get() : nullptr;
}

TOrveta& RequestProcessor::PutTerminal(int t, std::unique_ptr<TOrveta> terminal) {
  return *(terminals_.at(static_cast<size_t>(t)) = std::move(terminal));
}

void RequestProcessor::RemoveTerminals() {
  for (auto& terminal : terminals_) terminal.reset();
}

void RequestProcessor::SetIndicator(int t, TerminalIndicator colour) {
  indicators_.at(static_cast<size_t>(t)) = colour;
  observer_.IndicatorChanged(t, colour);
}

JobResult RequestProcessor::ProcessRequestFile(const std::string& path, const std::optional<FileSighting>& settled) {
  if (Busy()) return JobResult::Busy;
  if (Stopping()) return JobResult::Stopping;
  ExchangeScope exchange(*this, ExchangeKind::Job);
  SetAsideLeftover(path, false);
  TakenRequest taken;
  const TakeIn takeIn = TakeInRequestFile(path, settled, MaxRequestFileBytes(Settings().Capacity), taken);
  if (takeIn != TakeIn::Unreadable) unreadableLogged_.reset();
  switch (takeIn) {
    case TakeIn::Taken:
      break;
    case TakeIn::TooLarge:  // kept aside already; reported like an empty request
      LogTooLarge(path, taken);
      BeginJob();
      RunJob({}, {});
      EndJob(JobOutcome::Refused);
      return JobResult::Done;
    case TakeIn::SetAside:
      LogSetAside(path, taken.Error);
      return JobResult::FileUnreadable;
    case TakeIn::Blocked:
      if (!takeInFailureLogged_) {
        LogFileEvent("Soubor ", path, " nelze převzít, požadavek nebyl přijat" + Reason(taken.Error));
      }
      takeInFailureLogged_ = true;
      return JobResult::FileNotTakenIn;
    case TakeIn::Unreadable:
      LogUnreadable(path, taken.Error);
      return JobResult::FileUnreadable;
    case TakeIn::NotReady:
    case TakeIn::PutBack:
      return JobResult::FileUnreadable;
  }
  takeInFailureLogged_ = false;
  BeginJob();
  const JobEnd end = RunJob(std::move(taken.Lines), [&](const JobEnd& finished) {
    ReleaseAfterStatus(path, taken.Stamp, finished);
  });
  if (!end.StatusWritten) {
    LogFileEvent("Úloha požadavku ", path,
                 ": konečný stav nelze zapsat, požadavek zůstává jako " + TakenInPath(path) + " (nedokončená úloha)");
  }
  if (end.Terminal) RefreshIndicator(*end.Terminal);
  EndJob(OutcomeOf(end));
  return JobResult::Done;
}

void RequestProcessor::SetAsideInterruptedJob(const std::string& requestPath) {
  if (!SetAsideLeftover(requestPath, true)) return;
  BeginJob();
  ReportStatus(JobStage::Interrupted);
  EndJob(JobOutcome::NotFinished);
}

// A taken-in file whose job did not finish: kept as InterruptedPath. True
// when there was one. At start-up (`atStart`) the job was the last run's;
// later it is one of this run whose final status could not be written, or
// whose file could not be removed.
bool RequestProcessor::SetAsideLeftover(const std::string& requestPath, bool atStart) {
  switch (SetAsideInterruptedFile(requestPath)) {
    case Leftover::None:
      return false;
    case Leftover::SetAside:
      LogFileEvent("Úloha požadavku ", requestPath,
                   " nebyla dokončena, požadavek uložen jako " + InterruptedPath(requestPath));
      break;
    case Leftover::Failed:
      if (atStart || !takeInFailureLogged_) {
        LogFileEvent("Úloha požadavku ", requestPath,
                     " nebyla dokončena, soubor " + TakenInPath(requestPath) + " nelze přejmenovat" + Reason(errno));
      }
      break;
  }
  return true;
}

// Logged once for a file that stays unreadable, again when another one is.
void RequestProcessor::LogUnreadable(const std::string& path, int error) {
  const FileSighting seen = LookUpRequestFile(path);
  if (unreadableLogged_ && SameSighting(*unreadableLogged_, seen)) return;
  unreadableLogged_ = seen;
  LogFileEvent("Požadavek ", path, " nelze číst" + Reason(error));
}

// The request's lines from the start of the job to its final status, with
// `release` run the moment that stands.
RequestProcessor::JobEnd RequestProcessor::RunJob(std::vector<std::string> lines,
                                                        const TakenInRelease& release) {
  observer_.TrayImageChanged(kTrayTakingIn);
  StartJob(std::move(lines));
  JobEnd end;
  const auto released = [&] {
    if (release) release(end);
  };
  if (requestLines_.empty()) {
    observer_.TrayImageChanged(kTrayIdle);
    end.StatusWritten = ReportStatus(JobStage::NothingToSend, released);
    return end;
  }
  const std::optional<int> number = TerminalLineNumber(requestLines_.front());
  if (number && !AcceptTerminalLine(*number)) {
    end.StatusWritten = ReportStatus(JobStage::TerminalNotAvailable, released);
    return end;
  }
  return RunTakenInBatch(release);
}

// Once the final status stands the taken-in file has done its part, and goes
// at once, in the same flush of the folder (a kill after the status must not
// make a finished job look interrupted at the next start). One whose job was
// stopped in the middle is kept with the lines not sent. A file whose final
// status could not be written is never released: it stays, an interrupted job.
void RequestProcessor::ReleaseAfterStatus(const std::string& path, const FileStamp& stamp, const JobEnd& end) {
  if (end.Stopped && !ChangedSinceRead(TakenInPath(path), stamp)) {
    KeepStoppedJob(path, *end.Stopped);
    return;
  }
  switch (ReleaseTakenIn(path, stamp)) {
    case Release::Removed:
    case Release::PutBack:  // written to by its writer during the job: a new request
      return;
    case Release::SetAside:
      LogSetAside(path, 0);
      return;
    case Release::Stuck:
      LogSetAside(path, errno);
      return;
    case Release::Failed:
      LogFileEvent("Soubor ", TakenInPath(path), " nelze smazat" + Reason(errno));
      return;
  }
}

// The lines not sent stay for a person to look at; the status pair written
// is the real one of the lines sent.
void RequestProcessor::KeepStoppedJob(const std::string& path, const StopPoint& stop) {
  const std::string after =
      " zastavena po řádku " + std::to_string(stop.LinesDone) + " z " + std::to_string(stop.Lines);
  if (SetAsideInterruptedFile(path) == Leftover::SetAside) {
    LogFileEvent("Úloha požadavku ", path, after + ", požadavek uložen jako " + InterruptedPath(path));
  } else {
    LogFileEvent("Úloha požadavku ", path,
                 after + ", soubor " + TakenInPath(path) + " nelze přejmenovat" + Reason(errno));
  }
}

JobResult RequestProcessor::SendTypedLine(const std::string& text) {
  if (Busy()) return JobResult::Busy;
  ExchangeScope exchange(*this, ExchangeKind::Job);
  BeginJob();
  if (ConnectedTerminal(selected_) == nullptr) {
    EndJob(JobOutcome::Refused);
    return JobResult::NoTerminal;
  }
  StartJob({text});
  const int t = SendBatch();
  JobEnd end{t, FinishBatch(t), stoppedAt_};
  RefreshIndicator(t);
  EndJob(OutcomeOf(end));
  return JobResult::Done;
}

JobResult RequestProcessor::SendCommandFile(const std::string& path) {
  if (Busy()) return JobResult::Busy;
  ExchangeScope exchange(*this, ExchangeKind::Job);
  std::vector<std::string> lines;
  if (ReadLinesFile(path, lines) != FileRead::Read) return JobResult::FileUnreadable;
  BeginJob();
  observer_.TrayImageChanged(kTrayTakingIn);
  StartJob(std::move(lines));
  observer_.RepaintDue();
  if (requestLines_.empty()) {
    ReportStatus(JobStage::Sent);
    EndJob(JobOutcome::Done);
    return JobResult::Done;
  }
  const JobEnd end = RunTakenInBatch();
  if (end.Terminal) RefreshIndicator(*end.Terminal);
  EndJob(OutcomeOf(end));
  return JobResult::Done;
}

JobResult RequestProcessor::SetClock(const std::tm& localTime) {
  if (Busy()) return JobResult::Busy;
  ExchangeScope exchange(*this, ExchangeKind::Job);
  const std::string line = ClockLine(localTime);
  BeginJob();
  if (ConnectedTerminal(selected_) == nullptr) {
    EndJob(JobOutcome::Refused);
    return JobResult::NoTerminal;
  }
  requestLines_ = {line};
  const int t = SendBatch();
  EndJob(OutcomeOf(JobEnd{t, ReportFinalStatus(t), stoppedAt_}));
  return JobResult::Done;
}

// The batch of a file taken in: sent and reported, the tray back to idle.
// The caller refreshes the terminal's indicator afterwards.
RequestProcessor::JobEnd RequestProcessor::RunTakenInBatch(const TakenInRelease& release) {
  JobEnd end;
  end.Terminal = SendBatch();
  end.Stopped = stoppedAt_;
  end.StatusWritten = FinishBatch(*end.Terminal, [&] {
    if (release) release(end);
  });
  observer_.TrayImageChanged(kTrayIdle);
  return end;
}

bool RequestProcessor::TryExchange(const std::function<void()>& work) {
  if (Busy()) return false;
  ExchangeScope exchange(*this, ExchangeKind::Inner);
  work();
  return true;
}

void RequestProcessor::SaveOutputFile(const std::string& name) {
  observer_.RepaintDue();
  WriteOutputFile(name, report_.Lines);
}

bool RequestProcessor::ReportStatus(JobStage stage, const std::function<void()>& then) {
  report_.Stage = stage;
  const StatusPair pair = StatusPairOf(report_);
  const std::chrono::duration<double> took = Clock().Now() - jobStart_;
  jobStatus_ = JobEndReport{std::time(nullptr), took.count(), pair.First, pair.Second};
  observer_.PanelChanged(kStatusPanel, StatusText(pair.First, pair.Second));
  return WriteStatusFile(pair.First, pair.Second, then);
}

void RequestProcessor::RefreshIndicator(int t) {
  if (Stopping() || t < 0 || t >= kTerminalCount) return;
  TOrveta* terminal = TerminalFor(t);
  if (terminal == nullptr) {
    SetIndicator(t, TerminalIndicator::White);
    return;
  }
  ExchangeScope exchange(*this, ExchangeKind::Inner);
  PauseFor(pauses::BeforeIndicatorRefresh);
  if (Stopping()) return;
  if (Indicator(t) == TerminalIndicator::Red || terminal->Retest || !terminal->Port->Opened) terminal->TestLink();
  SetIndicator(t, IndicatorFor(*terminal));
}

void RequestProcessor::BeginJob() {
  jobStart_ = Clock().Now();
  jobStatus_.reset();
  report_ = JobReport{};
}

void RequestProcessor::EndJob(JobOutcome outcome) {
  ++counts_.Jobs[static_cast<size_t>(outcome)];
  if (jobStatus_) counts_.Last = jobStatus_;
  jobStatus_.reset();
  observer_.JobEnded();
}

JobOutcome RequestProcessor::OutcomeOf(const JobEnd& end) {
  if (!end.StatusWritten) return JobOutcome::NotFinished;
  if (end.Stopped) return JobOutcome::Stopped;
  return end.Terminal ? JobOutcome::Done : JobOutcome::Refused;
}

bool RequestProcessor::Stopping() const { return shuttingDown_ || StopRequested(); }

TOrveta* RequestProcessor::TerminalFor(int t) { return Terminal(t); }

TOrveta* RequestProcessor::ConnectedTerminal(int t) {
  TOrveta* terminal = TerminalFor(t);
  return terminal != nullptr && terminal->IsConnected() ? terminal : nullptr;
}

// Selects the terminal a request's first line names (1-4) and takes the line
// off; false when it names no available terminal.
bool RequestProcessor::AcceptTerminalLine(int number) {
  if (number < 1 || number > kTerminalCount || TerminalFor(number - 1) == nullptr) return false;
  const int t = number - 1;
  selected_ = t;
  observer_.TerminalSelected(t);
  observer_.TrayImageChanged(kTrayIdle);
  ReportStatus(JobStage::TerminalSelected);
  requestLines_.erase(requestLines_.begin());
  return true;
}

void RequestProcessor::StartJob(std::vector<std::string> lines) {
  requestLines_ = std::move(lines);
  report_.Lines.clear();
  observer_.ResultListCleared();
  ClearCounterPanels(observer_);
}

bool RequestProcessor::FinishBatch(int t, const std::function<void()>& then) {
  SaveOutputFile(controls_.OutputFileName);
  return ReportFinalStatus(t, then);
}

// The batch's counts, or none when its terminal has no object.
bool RequestProcessor::ReportFinalStatus(int t, const std::function<void()>& then) {
  return ReportStatus(TerminalFor(t) == nullptr ? JobStage::NoTerminal : JobStage::Sent, then);
}

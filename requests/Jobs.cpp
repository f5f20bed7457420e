// The jobs around a batch: a request file, a typed command, a command file and
// the clock setting, with what they report afterwards.

#include <chrono>
#include <optional>

#include "link/Cp1250.h"
#include "link/ErrorLog.h"
#include "link/Orveta.h"
#include "link/Settings.h"
#include "requests/ClockLine.h"
#include "requests/OutputFiles.h"
#include "requests/RequestFile.h"
#include "requests/RequestLine.h"
#include "requests/RequestProcessor.h"
#include "requests/RequestTakeIn.h"
#include "requests/RequestWatch.h"
#include "requests/StatusPanels.h"

namespace {

constexpr int kTrayIdle = 0;
constexpr int kTrayTakingIn = 1;
constexpr std::chrono::milliseconds kBeforeIndicatorRefresh{1500};

// An error-log line about a file: Czech text (UTF-8 here) around the path's
// own bytes.
void LogFileEvent(const std::string& before, const std::string& path, const std::string& after) {
  AppendErrorLog(Cp1250FromUtf8(before) + path + Cp1250FromUtf8(after));
}

void LogSetAside(const std::string& path) {
  LogFileEvent("Požadavek ", path, " se stále zapisuje, uložen jako " + HalfWrittenPath(path));
}

}  // namespace

TerminalIndicator IndicatorFor(const TOrveta& terminal) {
  if (terminal.IsMaster()) return TerminalIndicator::Green;
  if (terminal.IsSlave()) return TerminalIndicator::Cyan;
  return TerminalIndicator::Red;
}

TRequestProcessor::TRequestProcessor(BatchHost& host, std::vector<std::string>& requestLines)
    : host_(host), requestLines_(requestLines) {}

JobResult TRequestProcessor::ProcessRequestFile(const std::string& path, const std::optional<FileSighting>& settled) {
  if (Busy()) return JobResult::Busy;
  if (host_.IsShuttingDown()) return JobResult::Stopping;
  ExchangeScope exchange(*this);
  TakenRequest taken;
  switch (TakeInRequestFile(path, settled, MaxRequestFileBytes(Settings().Capacity), taken)) {
    case TakeIn::Taken:
      break;
    case TakeIn::TooLarge:  // kept aside already; reported like an empty request
      LogFileEvent("Požadavek ", path,
                   " je příliš velký (" + std::to_string(taken.Stamp.Size) + " bajtů, nejvýše " +
                       std::to_string(MaxRequestFileBytes(Settings().Capacity)) + "), odmítnut a uložen jako " +
                       RefusedPath(path));
      RunRequest({});
      return JobResult::Done;
    case TakeIn::SetAside:
      LogSetAside(path);
      return JobResult::FileUnreadable;
    case TakeIn::Blocked:
      if (!takeInFailureLogged_) LogFileEvent("Soubor ", path, " nelze převzít, požadavek nebyl přijat");
      takeInFailureLogged_ = true;
      return JobResult::FileNotTakenIn;
    case TakeIn::NotReady:
    case TakeIn::PutBack:
      return JobResult::FileUnreadable;
  }
  takeInFailureLogged_ = false;
  RunRequest(std::move(taken.Lines));
  FinishTakenIn(path, taken.Stamp);
  return JobResult::Done;
}

void TRequestProcessor::SetAsideInterruptedJob(const std::string& requestPath) {
  switch (SetAsideInterruptedFile(requestPath)) {
    case Leftover::None:
      return;
    case Leftover::SetAside:
      LogFileEvent("Úloha požadavku ", requestPath,
                   " nebyla dokončena, požadavek uložen jako " + InterruptedPath(requestPath));
      break;
    case Leftover::Failed:
      LogFileEvent("Úloha požadavku ", requestPath,
                   " nebyla dokončena, soubor " + TakenInPath(requestPath) + " nelze přejmenovat");
      break;
  }
  ReportStatus(-1, -1);
}

// The request's lines from the start of the job to its final status.
void TRequestProcessor::RunRequest(std::vector<std::string> lines) {
  host_.SetTrayImage(kTrayTakingIn);
  StartJob(std::move(lines));
  if (requestLines_.empty()) {
    host_.SetTrayImage(kTrayIdle);
    ReportStatus(-1, -1);
    return;
  }
  const std::optional<int> number = TerminalLineNumber(requestLines_.front());
  if (number && !AcceptTerminalLine(*number)) {
    ReportStatus(-1, 0);
    return;
  }
  RunTakenInBatch();
}

// Once the final status is written the taken-in file has done its part.
void TRequestProcessor::FinishTakenIn(const std::string& path, const FileStamp& stamp) {
  switch (ReleaseTakenIn(path, stamp)) {
    case Release::Removed:
    case Release::PutBack:  // rewritten by its writer during the job: a new request
      return;
    case Release::SetAside:
      LogSetAside(path);
      return;
    case Release::Failed:
      LogFileEvent("Soubor ", TakenInPath(path), " nelze smazat");
      return;
  }
}

JobResult TRequestProcessor::SendTypedLine(const std::string& text) {
  if (Busy()) return JobResult::Busy;
  ExchangeScope exchange(*this);
  if (ConnectedTerminal(host_.SelectedIndex()) == nullptr) return JobResult::NoTerminal;
  StartJob({text});
  const int t = SendBatch();
  FinishBatch(t);
  RefreshIndicator(t);
  return JobResult::Done;
}

JobResult TRequestProcessor::SendCommandFile(const std::string& path) {
  if (Busy()) return JobResult::Busy;
  ExchangeScope exchange(*this);
  std::vector<std::string> lines;
  if (ReadLinesFile(path, lines) != FileRead::Read) return JobResult::FileUnreadable;
  host_.SetTrayImage(kTrayTakingIn);
  StartJob(std::move(lines));
  host_.RepaintNow();
  if (requestLines_.empty()) {
    ReportStatus(0, 0);
    return JobResult::Done;
  }
  RunTakenInBatch();
  return JobResult::Done;
}

JobResult TRequestProcessor::SetClock(const std::tm& localTime) {
  if (Busy()) return JobResult::Busy;
  ExchangeScope exchange(*this);
  const std::string line = ClockLine(localTime);
  if (ConnectedTerminal(host_.SelectedIndex()) == nullptr) return JobResult::NoTerminal;
  requestLines_ = {line};
  ReportFinalStatus(SendBatch());
  return JobResult::Done;
}

// The batch of a file taken in: sent and reported, the tray back to idle, then
// the terminal's indicator refreshed.
void TRequestProcessor::RunTakenInBatch() {
  const int t = SendBatch();
  FinishBatch(t);
  host_.SetTrayImage(kTrayIdle);
  RefreshIndicator(t);
}

bool TRequestProcessor::TryExchange(const std::function<void()>& work) {
  if (Busy()) return false;
  ExchangeScope exchange(*this);
  work();
  return true;
}

void TRequestProcessor::SaveOutputFile(const std::string& name) {
  host_.RepaintNow();
  WriteOutputFile(name, host_.ResultLines());
}

void TRequestProcessor::ReportStatus(int first, int second) {
  host_.SetPanel(StatusPanel, StatusText(first, second));
  WriteStatusFile(first, second);
}

void ClearCounterPanels(BatchHost& host) {
  for (int panel : CounterPanels) host.SetPanel(panel, "");
}

void TRequestProcessor::RefreshIndicator(int t) {
  if (host_.IsShuttingDown() || t < 0 || t >= TerminalCount) return;
  TOrveta* terminal = TerminalFor(t);
  if (terminal == nullptr || terminal->Port == nullptr || !terminal->Port->Opened) {
    host_.SetIndicator(t, TerminalIndicator::White);
    return;
  }
  ExchangeScope exchange(*this);
  host_.Sleep(kBeforeIndicatorRefresh);
  if (host_.Indicator(t) == TerminalIndicator::Red || terminal->Retest) terminal->TestLink();
  host_.SetIndicator(t, IndicatorFor(*terminal));
}

TOrveta* TRequestProcessor::TerminalFor(int t) {
  return t >= 0 && t < TerminalCount ? host_.AvailableTerminal(t) : nullptr;
}

TOrveta* TRequestProcessor::ConnectedTerminal(int t) {
  TOrveta* terminal = TerminalFor(t);
  return terminal != nullptr && terminal->IsConnected() ? terminal : nullptr;
}

// Selects the terminal a request's first line names (1-4) and takes the line
// off; false when it names no available terminal.
bool TRequestProcessor::AcceptTerminalLine(int number) {
  if (number < 1 || number > TerminalCount || TerminalFor(number - 1) == nullptr) return false;
  const int t = number - 1;
  host_.Select(t);
  host_.SetTrayImage(kTrayIdle);
  ReportStatus(1, 0);
  requestLines_.erase(requestLines_.begin());
  return true;
}

void TRequestProcessor::StartJob(std::vector<std::string> lines) {
  requestLines_ = std::move(lines);
  host_.ClearResultList();
  ClearCounterPanels(host_);
}

void TRequestProcessor::FinishBatch(int t) {
  SaveOutputFile(host_.OutputFileName());
  ReportFinalStatus(t);
}

// DoneCount and RecordCount of the batch's terminal, -1,-1 when it has none.
void TRequestProcessor::ReportFinalStatus(int t) {
  const TOrveta* terminal = TerminalFor(t);
  if (terminal == nullptr) {
    ReportStatus(-1, -1);
    return;
  }
  ReportStatus(terminal->DoneCount, terminal->RecordCount);
}

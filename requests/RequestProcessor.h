#pragma once
// RequestProcessor: the whole road of a job on the main thread, from a
// request file, a typed command line, a command file or the clock setting to
// terminal traffic, the output file and the status file. It owns the
// terminals, the selection, the indicators and the report of the last job;
// the main window owns one, keeps its JobSettings up to date, listens as its
// JobObserver and calls the jobs from its handlers.
//
// One exchange at a time: while a job or any other exchange (RefreshIndicator's
// link test, or work the window runs through TryExchange) is in progress, the
// link layer dispatches window events while it waits for bytes; a job that
// arrives then is refused with Busy and touches nothing, so no two exchanges
// ever interleave on a port.

#include <array>
#include <chrono>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "requests/JobCounts.h"
#include "requests/JobObserver.h"
#include "requests/JobReport.h"
#include "requests/RequestWatch.h"

class TOrveta;

enum class JobResult {
  Done,            // the job ran to its end (also with failed lines, or with nothing to send)
  Busy,            // another exchange was in progress: nothing was touched; try again later
  NoTerminal,      // typed line or clock: the selected terminal is not available or not
                   // connected; nothing happened
  FileUnreadable,  // the request or command file could not be read (vanished, held by its
                   // writer, changed while it was read, not a readable file); it is left
                   // where it is (see TakeInRequestFile)
  FileNotTakenIn,  // the request file could not be renamed to its taken-in name: it stays
                   // where it is; one error-log line until a request is taken in again
  Stopping,        // a close was accepted: the request file stays for the next start
};

// The indicator colour for a terminal's link state after its last test.
TerminalIndicator IndicatorFor(const TOrveta& terminal);

class RequestProcessor {
 public:
  explicit RequestProcessor(JobObserver& observer);
  ~RequestProcessor();
  RequestProcessor(const RequestProcessor&) = delete;
  RequestProcessor& operator=(const RequestProcessor&) = delete;

  // --- Jobs (each refused with Busy during another exchange) ---

  // The watcher's hand-over. Takes the file in (TakeInRequestFile: renamed
  // aside, then read), and when its first line is "TERM" with a number
  // selects that terminal (status 1,0) or stops (-1,0 when it is not
  // available); an empty file, or one too large to be a request, gives -1,-1.
  // Otherwise the lines go out with SendBatch, the output file is written,
  // then the final status pair; the taken-in file goes at once (durably),
  // then the indicator is refreshed. A job stopped in the middle by a close
  // keeps its file as InterruptedPath, and so does one whose final status
  // could not be written (at the next start, or before the next take-in).
  // An unreadable file is logged once. With `settled` (the watcher's
  // sighting that judged the file ready) a file that no longer matches it is
  // left where it is: its writer is at it again. Once a close is accepted
  // nothing is taken in.
  JobResult ProcessRequestFile(const std::string& path, const std::optional<FileSighting>& settled = std::nullopt);
  // At start-up, before the watcher runs: a taken-in file of `requestPath`
  // belongs to a job that never finished. It is never sent again: it is kept
  // as InterruptedPath, logged, and the status file says -1,-1.
  void SetAsideInterruptedJob(const std::string& requestPath);
  // Button1Click: sends `text` (Edit1) as the only line to the selected
  // terminal, then output file, status and indicator as for a request.
  JobResult SendTypedLine(const std::string& text);
  // Button33Click after the dialog: sends every line of the command file at
  // `path` (not deleted, a "TERM" line is an ordinary command). No lines give
  // 0,0 and leave the tray icon at image 1.
  JobResult SendCommandFile(const std::string& path);
  // Button4Click: sets the selected terminal's clock to `localTime` (taken
  // when the button was clicked). Writes the status only.
  JobResult SetClock(const std::tm& localTime);

  // Runs `work` as an exchange when none is in progress (for the window's
  // own link tests, such as the periodic check); false when it was skipped.
  bool TryExchange(const std::function<void()>& work);
  // True while a job or an exchange is in progress.
  bool Busy() const { return exchangeDepth_ > 0; }
  // What the jobs of this run have done.
  const JobCounts& Counts() const { return counts_; }
  // What the last job came to, and RequestLines: the lines of the job in
  // progress, which stay until the next job.
  const JobReport& Report() const { return report_; }
  const std::vector<std::string>& RequestLines() const { return requestLines_; }

  // --- The job's state ---

  // Read at the moment of use; kept up to date by whoever shows the job.
  JobSettings& Controls() { return controls_; }
  const JobSettings& Controls() const { return controls_; }
  // The terminal object of index t (0-3), null when there is none (its
  // terminal is not connected or its port never opened). Put in when its
  // port opens; all go when the window closes.
  TOrveta* Terminal(int t) const;
  TOrveta& PutTerminal(int t, std::unique_ptr<TOrveta> terminal);
  void RemoveTerminals();
  // The terminal selected in Selekt, 0-3; -1 when none is. SelectTerminal is
  // the operator's choice (nothing is told back); a request's "TERM" line
  // selects too, and tells TerminalSelected.
  int SelectedTerminal() const { return selected_; }
  void SelectTerminal(int t) { selected_ = t; }
  TerminalIndicator Indicator(int t) const { return indicators_.at(static_cast<size_t>(t)); }
  void SetIndicator(int t, TerminalIndicator colour);
  // The main window starts being destroyed: no job starts or goes on.
  void ShutDown() { shuttingDown_ = true; }

  // After a job: when terminal t has its object, waits 1.5 s, tests the link
  // when the indicator is red, the terminal asks for a retest or its port's
  // device failed (the test opens it again), and colours the indicator by the
  // link state; white when there is no terminal. Nothing once stopping, also
  // when the stop comes during the wait.
  void RefreshIndicator(int t);

 private:
  // The one exchange gate: marks an exchange in progress for as long as it
  // lives; nests. A job's outermost scope tells the observer, which holds the
  // controls that start an exchange meanwhile.
  enum class ExchangeKind { Job, Inner };
  class ExchangeScope {
   public:
    ExchangeScope(RequestProcessor& owner, ExchangeKind kind)
        : owner_(owner), job_(kind == ExchangeKind::Job && owner.exchangeDepth_ == 0) {
      ++owner_.exchangeDepth_;
      if (job_) owner_.observer_.JobExchangeStarted();
    }
    ~ExchangeScope() {
      --owner_.exchangeDepth_;
      if (job_) owner_.observer_.JobExchangeEnded();
    }
    ExchangeScope(const ExchangeScope&) = delete;
    ExchangeScope& operator=(const ExchangeScope&) = delete;

   private:
    RequestProcessor& owner_;
    bool job_;
  };

  // Tells the observer that a batch runs for as long as it lives, so every
  // exit tells its end.
  class BatchScope {
   public:
    explicit BatchScope(JobObserver& observer) : observer_(observer) { observer_.BatchStarted(); }
    ~BatchScope() { observer_.BatchEnded(); }
    BatchScope(const BatchScope&) = delete;
    BatchScope& operator=(const BatchScope&) = delete;

   private:
    JobObserver& observer_;
  };

  // Sends RequestLines to the terminal selected when the batch starts, which
  // stays its terminal to the end, inside a BatchScope. The report starts
  // again at 0,0 (so a batch that executes nothing reports 0 records); sends
  // nothing when the terminal is not connected. A refused line (see ClassifyLine) is logged and counts as
  // failed; an EDivByZero from the coding is logged and ends the batch there.
  // Returns the index of the batch's terminal.
  int SendBatch();
  // Writes the report's lines to StartDirectory()/`name`, created anew (the
  // status pair follows only once it is complete).
  void SaveOutputFile(const std::string& name);
  // The report has come to `stage`: panel 1 and the status file get its
  // pair; false when the file could not be written. `then` runs once the
  // status file stands (see ReplaceFile).
  bool ReportStatus(JobStage stage, const std::function<void()>& then = {});

  // Where a batch stopped because a close was accepted: after LinesDone of
  // its Lines.
  struct StopPoint {
    size_t LinesDone = 0;
    size_t Lines = 0;
  };
  // How a job ended.
  struct JobEnd {
    std::optional<int> Terminal;       // the batch's terminal, to refresh after the job
    bool StatusWritten = true;         // the final status reached its file
    std::optional<StopPoint> Stopped;  // the batch stopped before its last line
  };
  // What becomes of a taken-in file once its job's final status stands.
  using TakenInRelease = std::function<void(const JobEnd&)>;

  // A job begins: its time and status pair are taken from here on.
  void BeginJob();
  // Counts the job by `outcome`; one that reported a status pair becomes the
  // last job. The host is told.
  void EndJob(JobOutcome outcome);
  // The outcome of a job that ran as far as `end` says.
  static JobOutcome OutcomeOf(const JobEnd& end);

  // A close was accepted or a stop asked for (a signal): no line, repeat or
  // link test starts any more.
  bool Stopping() const;
  TOrveta* TerminalFor(int t);
  TOrveta* ConnectedTerminal(int t);
  bool AcceptTerminalLine(int number);
  JobEnd RunJob(std::vector<std::string> lines, const TakenInRelease& release);
  void ReleaseAfterStatus(const std::string& path, const FileStamp& stamp, const JobEnd& end);
  void KeepStoppedJob(const std::string& path, const StopPoint& stop);
  bool SetAsideLeftover(const std::string& requestPath, bool atStart);
  void LogUnreadable(const std::string& path, int error);
  void StartJob(std::vector<std::string> lines);
  bool FinishBatch(int t, const std::function<void()>& then = {});
  JobEnd RunTakenInBatch(const TakenInRelease& release = {});
  bool ReportFinalStatus(int t, const std::function<void()>& then = {});
  bool SendLines(TOrveta& terminal);
  bool SendLine(TOrveta& terminal, const std::string& line);
  bool SendWithRepeats(TOrveta& terminal, const std::string& line);
  bool SendLongLine(TOrveta& terminal, const std::string& line);
  LineResult ExecuteAttempt(TOrveta& terminal, const std::string& line);
  // Folds one attempt into the report; its lines are shown.
  void AddToReport(LineResult result);
  void ShowProgress(size_t done, size_t count);
  void EndProgress();

  JobObserver& observer_;
  JobSettings controls_;
  std::array<std::unique_ptr<TOrveta>, kTerminalCount> terminals_;
  std::array<TerminalIndicator, kTerminalCount> indicators_{};
  int selected_ = -1;
  bool shuttingDown_ = false;
  std::vector<std::string> requestLines_;
  JobReport report_;
  int exchangeDepth_ = 0;
  bool takeInFailureLogged_ = false;
  std::optional<FileSighting> unreadableLogged_;  // the unreadable request file last logged
  std::optional<StopPoint> stoppedAt_;             // where the last batch stopped for a close
  JobCounts counts_;
  TerminalJobCounts* batchCounts_ = nullptr;  // the counts of the batch's terminal
  std::chrono::steady_clock::time_point jobStart_;
  std::optional<JobEndReport> jobStatus_;  // the status pair the job in progress reported last
};

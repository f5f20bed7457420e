#pragma once
// What a job reads and what it tells. The job keeps its own state (its
// terminals, the selection, the indicators, its report); whoever shows it (the
// main window, a test) keeps JobSettings up to date from its controls as they
// change and listens as a JobObserver. Every call comes on the main thread.
// Texts for the screen are UTF-8 (the panel texts are plain ASCII).

#include <chrono>
#include <string>
#include <vector>

#include "requests/TerminalIndicator.h"

// The settings a job reads at the moment it uses them.
struct JobSettings {
  int Attempts = 1;           // Rep_write: item index + 1; anything below 1 counts as 1
  bool StopOnFailure = true;  // Write_error_repeat: a line that fails all attempts ends the batch
  bool RaisePriority = true;  // Priority_set: raise the process priority around each exchange
  std::string OutputFileName = "output.txt";  // of the configuration, as bytes
};

class JobObserver {
 public:
  virtual ~JobObserver() = default;

  // Status bar panel 0-10 (numbers in StatusPanels.h) shows `text`.
  virtual void PanelChanged(int /*panel*/, const std::string& /*text*/) {}
  // A request's "TERM" line selected terminal t: Selekt follows at once, also
  // while the window is hidden.
  virtual void TerminalSelected(int /*t*/) {}
  virtual void IndicatorChanged(int /*t*/, TerminalIndicator /*colour*/) {}
  // The progress balloon with this title and text (no icon, no time-out),
  // after every line of a batch; then taken down at its end.
  virtual void ProgressShown(const std::string& /*title*/, const std::string& /*text*/) {}
  virtual void ProgressEnded() {}
  // Image 0 (idle) or 1 (a request is being taken in) of the tray icon.
  virtual void TrayImageChanged(int /*image*/) {}
  // A job starts: the result list is emptied; the lines of its data answers
  // follow as they come (bytes, code page 1250).
  virtual void ResultListCleared() {}
  virtual void AnswerLinesAdded(const std::vector<std::string>& /*lines*/) {}
  // What changed is to be shown at once: a batch blocks the main thread.
  virtual void RepaintDue() {}
  // A job's exchange starts and ends: the controls that start an exchange
  // are held meanwhile (a periodic link test holds nothing).
  virtual void JobExchangeStarted() {}
  virtual void JobExchangeEnded() {}
  // A batch starts and ends: no request-file check and no periodic terminal
  // check is to start in between.
  virtual void BatchStarted() {}
  virtual void BatchEnded() {}
  // An attempt of a line starts and may take up to `longest`, and it has
  // ended: a service's stop in between waits that long.
  virtual void AttemptStarts(std::chrono::milliseconds /*longest*/) {}
  virtual void AttemptEnds() {}
  // A job ended and its counts (RequestProcessor::Counts) stand.
  virtual void JobEnded() {}
};

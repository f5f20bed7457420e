#pragma once
// What request processing needs of the main window, as an interface: the
// window implements it over its controls and the process-wide tables, tests
// implement it with a fake. Every call comes on the main thread. Texts for the
// screen are UTF-8 (the panel texts are plain ASCII).

#include <chrono>
#include <string>
#include <vector>

#include "requests/TerminalIndicator.h"

class TOrveta;

// The controls that steer a batch, read again before every attempt.
struct SendControls {
  int Attempts = 1;           // Rep_write: item index + 1; anything below 1 counts as 1
  bool StopOnFailure = true;  // Write_error_repeat: a line that fails all attempts ends the batch
  bool RaisePriority = true;  // Priority_set: raise the process priority around each exchange
};

class BatchHost {
 public:
  virtual ~BatchHost() = default;

  // --- Terminals ---
  // Item index of Selekt, 0-3; -1 when no item is selected.
  virtual int SelectedIndex() const = 0;
  // Selects item t (0-3) of Selekt and repaints the selector at once. Must
  // not fail while the window is hidden.
  virtual void Select(int t) = 0;
  // The terminal object of index t (0-3) when t is available: its
  // TerminalTable entry has Connected set and Terminals[t] exists; else null.
  virtual TOrveta* AvailableTerminal(int t) = 0;
  virtual TerminalIndicator Indicator(int t) const = 0;
  virtual void SetIndicator(int t, TerminalIndicator colour) = 0;

  // --- Settings and state read at the moment of use ---
  virtual SendControls Controls() const = 0;
  // OutputFileName of the configuration (default "output.txt"), as bytes.
  virtual std::string OutputFileName() const = 0;
  // Set when the main window starts being destroyed.
  virtual bool IsShuttingDown() const = 0;

  // --- Display ---
  // Text of status bar panel 0-10 (numbers in StatusPanels.h).
  virtual void SetPanel(int panel, const std::string& text) = 0;
  // The tray icon's balloon with this title and text, no icon, no time-out;
  // shown or updated after every line of a batch.
  virtual void ShowBalloon(const std::string& title, const std::string& text) = 0;
  virtual void HideBalloon() = 0;
  // Image 0 (idle) or 1 (a request is being taken in) of the tray icon.
  virtual void SetTrayImage(int image) = 0;
  // Memo1: emptied at the start of a job; its lines (the bytes ExecuteLine
  // appended through the terminal's LinkDisplay) become the output file.
  virtual void ClearResultList() = 0;
  virtual std::vector<std::string> ResultLines() const = 0;
  // Repaints what has changed (status bar, selector, result list) at once:
  // a batch blocks the main thread, so the display would not follow otherwise.
  virtual void RepaintNow() = 0;

  // --- Watcher and time ---
  // Pause: no request-file check and no periodic terminal check starts until
  // ResumeWatcher. Called once at the start and once at the end of every batch.
  virtual void PauseWatcher() = 0;
  virtual void ResumeWatcher() = 0;
  // The fixed pauses of a batch (2/25, 5/30, 100 and 1500 ms): the window
  // sleeps, tests may record them.
  virtual void Sleep(std::chrono::milliseconds pause) = 0;
  // An attempt of a line starts and may take up to `longest`, and it has
  // ended: a service's stop in between waits that long (see
  // StopTimeExtension). Nothing by default.
  virtual void AttemptStarts(std::chrono::milliseconds longest) { static_cast<void>(longest); }
  virtual void AttemptEnds() {}
  // A job ended and its counts (RequestProcessor::Counts) stand.
  virtual void JobEnded() {}
};

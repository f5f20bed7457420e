#pragma once
// THlidac: the request-file watcher. A thread of its own that looks for the
// request file about every second and paces the periodic link check of the
// selected terminal. It never touches a port, a terminal or a control itself:
// what it triggers runs on the main thread through a blocking queued call, so
// the watcher waits until the main thread has carried it out.

#include <QThread>
#include <atomic>
#include <functional>
#include <string>

#include "requests/RequestWatch.h"

class THlidac : public QThread {
  Q_OBJECT

 public:
  // What the watcher has the main thread do.
  struct MainThreadCalls {
    // The request file is ready: `settled` is how it looked when judged so.
    std::function<void(const std::string& path, const FileSighting& settled)> HandOver;
    std::function<void()> PeriodicCheck;  // about every 4 s
  };

  // `requestPath`: StartDirectory + "/" + the request file name. Start it
  // with start(); it polls until EndAndWait.
  THlidac(std::string requestPath, MainThreadCalls calls, QObject* parent = nullptr);
  // Ends the thread in order when it still runs.
  ~THlidac() override;
  THlidac(const THlidac&) = delete;
  THlidac& operator=(const THlidac&) = delete;

  // The pause flag, read at the top of every pass: a paused watcher makes no
  // passes, so no check starts; a check or hand-over already under way is
  // never cut short. Called on the main thread.
  void Pause() { paused_ = true; }
  void Resume() { paused_ = false; }

  // Asks the thread to end and waits for it. Call on the main thread: while
  // it waits it keeps processing events, so a hand-over or periodic check the
  // watcher is waiting on still runs and cannot deadlock the end.
  void EndAndWait();

  // True while the watcher waits for the main thread to carry out a call.
  bool CallWaiting() const { return callWaiting_; }

  const std::string& RequestPath() const { return requestPath_; }

 protected:
  void run() override { Execute(); }

 private:
  // The polling loop: a pass every 50 ms until the end is requested.
  void Execute();
  // Runs `call` on the main thread and waits until it has been carried out.
  void CallOnMainThread(const std::function<void()>& call);

  const std::string requestPath_;
  const MainThreadCalls calls_;
  std::atomic<bool> paused_{false};
  std::atomic<bool> callWaiting_{false};
};

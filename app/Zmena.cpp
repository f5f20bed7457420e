// THlidac: the request-file watcher's polling loop and its calls onto the
// main thread.

#include "app/Zmena.h"

#include <sys/resource.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <cerrno>
#include <chrono>
#include <thread>

#include "requests/RequestWatch.h"

namespace {

constexpr auto kPassPeriod = std::chrono::milliseconds(50);
constexpr int kEndPollMs = 5;

// The watcher runs one step below normal. Qt's thread priorities change
// nothing under Linux's normal time-sharing policy, so the thread also raises
// its own nice value by one (on Linux the nice value belongs to the thread).
// Without the right to do so it simply stays where it is.
void LowerThisThreadOneStep() {
  const pid_t self = gettid();
  errno = 0;
  const int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(self));
  if (errno == 0) setpriority(PRIO_PROCESS, static_cast<id_t>(self), nice + 1);
}

}  // namespace

THlidac::THlidac(std::string requestPath, MainThreadCalls calls, QObject* parent)
    : QThread(parent), requestPath_(std::move(requestPath)), calls_(std::move(calls)) {}

THlidac::~THlidac() {
  if (isRunning()) EndAndWait();
}

void THlidac::EndAndWait() {
  requestInterruption();
  while (!wait(QDeadlineTimer(kEndPollMs))) QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void THlidac::Execute() {
  LowerThisThreadOneStep();
  RequestSightings sightings;
  WatchCounters counters;
  while (!isInterruptionRequested()) {
    if (!paused_) {
      switch (counters.Pass()) {
        case WatchTask::CheckRequest: {
          const FileSighting seen = LookUpRequestFile(requestPath_);
          if (sightings.RequestFileReady(seen)) CallOnMainThread([this, seen] { calls_.HandOver(requestPath_, seen); });
          break;
        }
        case WatchTask::CheckTerminal:
          CallOnMainThread(calls_.PeriodicCheck);
          break;
        case WatchTask::None:
          break;
      }
    }
    std::this_thread::sleep_for(kPassPeriod);
  }
}

// The THlidac object itself lives in the main thread (it was created there),
// so a blocking queued call on it runs there.
void THlidac::CallOnMainThread(const std::function<void()>& call) {
  callWaiting_ = true;
  QMetaObject::invokeMethod(this, call, Qt::BlockingQueuedConnection);
  callWaiting_ = false;
}

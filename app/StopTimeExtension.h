#pragma once
// A service's stop that meets a long line. SIGTERM ends the program after the
// line in progress, and a data answer at full capacity can take far longer
// than the unit's stop time-out (minutes at 19200 baud, hours at 1200): while
// such an attempt runs after a stop was requested, a thread of its own tells
// systemd (EXTEND_TIMEOUT_USEC) how long the attempt can still take, again
// every second, so that no answer is killed in the middle and the unit's
// TimeoutStopSec can stay short. Only under systemd (NOTIFY_SOCKET); the
// main thread may be in a tight loop of the link meanwhile, so the thread
// does not wait for it.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

class StopTimeExtension {
 public:
  // Starts the thread when a service manager listens; `stopRequested` is
  // read by it (a flag the signal handler sets).
  explicit StopTimeExtension(const std::atomic<bool>& stopRequested);
  ~StopTimeExtension();
  StopTimeExtension(const StopTimeExtension&) = delete;
  StopTimeExtension& operator=(const StopTimeExtension&) = delete;

  // From the main thread: an attempt that may take up to `longest` starts,
  // and it has ended.
  void AttemptStarts(std::chrono::milliseconds longest);
  void AttemptEnds();

 private:
  void Run();

  const std::atomic<bool>& stopRequested_;
  std::atomic<int64_t> deadlineNs_{0};  // steady clock; 0 while no attempt runs
  std::mutex mutex_;
  std::condition_variable wake_;
  bool ending_ = false;
  std::thread thread_;
};

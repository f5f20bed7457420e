#include "app/StopTimeExtension.h"

#include <cstdlib>

#include "app/ServiceNotify.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kLook = std::chrono::milliseconds(250);
constexpr auto kResend = std::chrono::seconds(1);
// After the attempt: the output and status files, the log, the exit.
constexpr auto kAfterAttempt = std::chrono::seconds(5);

int64_t Nanoseconds(Clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
}

}  // namespace

StopTimeExtension::StopTimeExtension(const std::atomic<bool>& stopRequested) : stopRequested_(stopRequested) {
  const char* socket = std::getenv("NOTIFY_SOCKET");
  if (socket != nullptr && *socket != '\0') thread_ = std::thread(&StopTimeExtension::Run, this);
}

StopTimeExtension::~StopTimeExtension() {
  {
    std::lock_guard lock(mutex_);
    ending_ = true;
  }
  wake_.notify_one();
  if (thread_.joinable()) thread_.join();
}

void StopTimeExtension::AttemptStarts(std::chrono::milliseconds longest) {
  deadlineNs_ = Nanoseconds(Clock::now() + longest);
}

void StopTimeExtension::AttemptEnds() { deadlineNs_ = 0; }

void StopTimeExtension::Run() {
  std::unique_lock lock(mutex_);
  while (!ending_) {
    const int64_t deadline = deadlineNs_;
    const int64_t now = Nanoseconds(Clock::now());
    const bool extend = stopRequested_ && deadline > now;
    if (extend) {
      const auto left = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::nanoseconds(deadline - now));
      NotifyStopExtension(left + kAfterAttempt);
    }
    wake_.wait_for(lock, extend ? kResend : kLook, [this] { return ending_; });
  }
}

#include "link/StopRequest.h"

#include <algorithm>
#include <thread>

std::atomic<bool> stop_request::Requested{false};

bool SleepUnlessStopped(std::chrono::milliseconds pause) {
  using Clock = std::chrono::steady_clock;
  const auto end = Clock::now() + pause;
  for (;;) {
    if (StopRequested()) return false;
    const auto now = Clock::now();
    if (now >= end) return true;
    std::this_thread::sleep_for(std::min<Clock::duration>(end - now, std::chrono::milliseconds(kStopSliceMs)));
  }
}

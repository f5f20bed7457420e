#pragma once
// A stop of the whole program (SIGTERM, or the closing question answered
// Yes), as the link and the batch see it: set from a signal handler or the
// window, read wherever the program waits, so that a stop is noticed at once
// and not only when a wait happens to serve window events.

#include <atomic>
#include <chrono>

namespace stop_request {
extern std::atomic<bool> Requested;
}  // namespace stop_request
static_assert(std::atomic<bool>::is_always_lock_free, "set in a signal handler");

// Safe in a signal handler.
inline void RequestStop() { stop_request::Requested.store(true, std::memory_order_relaxed); }
inline bool StopRequested() { return stop_request::Requested.load(std::memory_order_relaxed); }
// For tests, which run several programs' lives in one process.
inline void ClearStopRequest() { stop_request::Requested.store(false, std::memory_order_relaxed); }

// Sleeps `pause`, or less when a stop is asked for meanwhile: it ends within
// kStopSliceMs of the request. True when the whole pause was slept.
bool SleepUnlessStopped(std::chrono::milliseconds pause);
constexpr int kStopSliceMs = 20;

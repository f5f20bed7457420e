#pragma once
// A job clock for tests: notes every pause and moves its time on by it at
// once, so a test checks the pauses without sleeping them. Between pauses its
// time follows the steady clock, so waits for bytes still end.

#include <chrono>
#include <mutex>
#include <vector>

#include "link/JobClock.h"
#include "link/StopRequest.h"

class RecordingClock final : public JobClock {
 public:
  TimePoint Now() const override {
    std::lock_guard lock(mutex_);
    return std::chrono::steady_clock::now() + skipped_;
  }
  bool Pause(std::chrono::milliseconds pause) override {
    std::lock_guard lock(mutex_);
    pauses_.push_back(pause.count());
    skipped_ += pause;
    return !StopRequested();
  }
  std::vector<long> Pauses() const {
    std::lock_guard lock(mutex_);
    return pauses_;
  }
  void Clear() {
    std::lock_guard lock(mutex_);
    pauses_.clear();
  }

 private:
  mutable std::mutex mutex_;
  std::chrono::milliseconds skipped_{0};
  std::vector<long> pauses_;
};

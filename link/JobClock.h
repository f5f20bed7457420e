#pragma once
// The clock of the link and of a job: every fixed pause they make and every
// reading of the time that paces them go through it. The program uses the
// steady clock; a test puts in one that notes each pause and moves its time on
// without sleeping. Waits for bytes on a device (and the microsecond waits
// around a transmission) keep the device's real time: they are the wire's.

#include <chrono>
#include <cstdint>

class JobClock {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;
  virtual ~JobClock() = default;
  virtual TimePoint Now() const = 0;
  // Pauses `pause`, or less when a stop is asked for meanwhile (within
  // kStopSliceMs). True when the whole pause passed.
  virtual bool Pause(std::chrono::milliseconds pause) = 0;
};

// The clock in use: the steady clock unless a ClockInUse put another in.
JobClock& Clock();

// Puts `clock` in place for as long as it lives (tests).
class ClockInUse {
 public:
  explicit ClockInUse(JobClock& clock);
  ~ClockInUse();
  ClockInUse(const ClockInUse&) = delete;
  ClockInUse& operator=(const ClockInUse&) = delete;

 private:
  JobClock* previous_;
};

// Clock().Pause(pause); a pause of no length is none.
inline bool PauseFor(std::chrono::milliseconds pause) { return pause.count() <= 0 || Clock().Pause(pause); }
// Milliseconds of Clock().Now().
uint64_t TickCount();

#pragma once
// The clock of a simulated terminal: starts at the host's local time, can be
// set by the 'T' command and then runs on from the set time.

#include <chrono>
#include <string>

using SimTime = std::chrono::steady_clock::time_point;

struct SimClockTime {
  int Year = 0;     // two digits, 0-99 (2000-2099)
  int Month = 1;    // 1-12
  int Day = 1;      // 1-31
  int Weekday = 1;  // Monday 1 to Sunday 7
  int Hour = 0;
  int Minute = 0;
  int Second = 0;
};

class SimClock {
 public:
  // Starts at the host's local time at `now`.
  explicit SimClock(SimTime now);

  SimClockTime Read(SimTime now) const;
  // Sets the clock to `time` at `now`. False, clock unchanged, when a field is
  // out of range or the date does not exist.
  bool Set(const SimClockTime& time, SimTime now);

 private:
  std::chrono::sys_seconds base_;  // the terminal's civil time at setAt_, counted as if UTC
  SimTime setAt_;
  int weekdayShift_ = 0;  // days the terminal's weekday runs ahead of the calendar's
};

// Parses the 14 digits YYMMDDWWhhmmss of a clock command. False when the text
// is not exactly 14 digits; the ranges are checked by SimClock::Set.
bool ParseClockDigits(const std::string& digits, SimClockTime& out);

// A value 0-99 as one packed BCD byte.
unsigned char ToBcd(int value);
